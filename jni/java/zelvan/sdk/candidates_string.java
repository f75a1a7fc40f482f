package zelvan.sdk;

/** One identification candidate: the record's identifier as decimal text and its similarity, 0 to 1. */
public class candidates_string {
    public final String id;
    public final float score;

    public candidates_string(String id, float score) {
        this.id = id;
        this.score = score;
    }

    @Override
    public String toString() {
        return id + " " + score;
    }
}
