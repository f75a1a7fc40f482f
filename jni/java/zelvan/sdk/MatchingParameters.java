package zelvan.sdk;

/** Parameters of verification and identification. */
public class MatchingParameters {
    /** Speed level of the 1:N search. */
    public int searchSpeed;
    /** Rotation limit in degrees for fingers. */
    public int maxAngle;
    /** Rotation limit in degrees for thumbs (finger positions 1 and 6). */
    public int maxAngleThumbs;
    /** 0 positional, 1 finger mix, 2 slap mix, 3 hand mix. */
    public int matchingMode;

    public MatchingParameters() {}

    public MatchingParameters(int searchSpeed, int maxAngle, int maxAngleThumbs, int matchingMode) {
        this.searchSpeed = searchSpeed;
        this.maxAngle = maxAngle;
        this.maxAngleThumbs = maxAngleThumbs;
        this.matchingMode = matchingMode;
    }
}
