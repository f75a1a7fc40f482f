package zftest;

/**
 * Engine objects that record what the binding hands them (their handles are accepted by the
 * zelvan.sdk methods and freed by their cancel_), and the same operations made directly through
 * the C++ interface.
 */
final class Fakes {
    static {
        System.loadLibrary("zf_jni_probe");
    }

    /** A configured result of this value makes the fake throw a C++ exception. */
    static final int THROW = Integer.MIN_VALUE;

    private Fakes() {}

    /** Creator answering {@code result}; on 0 it delivers {@code tpl} and its length, and {@code quality}. */
    static native long newCreator(int result, int quality, byte[] tpl);

    /** Checker answering true for 1, false for 0, or throwing. */
    static native long newChecker(int result);

    /** Matcher answering {@code result}, the similarity {@code score}, a gallery of 4321, and {@code candidates} candidates. */
    static native long newMatcher(int result, double score, int candidates);

    static native String creatorLog(long creator);

    static native String checkerLog(long checker);

    static native String matcherLog(long matcher);

    /** Kind (1 raw, 2 WSQ), finger, width or size, height of the last image. */
    static native int[] lastImage(long creator);

    /** The last image's pixels (width x height when both are positive) or stream bytes. */
    static native byte[] lastImageBytes(long creator);

    /** The whole buffer (12,288 bytes) of the last check. */
    static native byte[] lastChecked(long checker);

    /** searchSpeed, maxAngle, maxAngleThumbs, matchingMode of the last verification or identification. */
    static native int[] lastParameters(long matcher);

    /** Finger copy of the last probe (side 0) or gallery (side 1) record; null when absent. */
    static native byte[] lastFinger(long matcher, int side, int finger);

    static native String lastId(long matcher);

    /** threads and maxCandidates of the last identification, as the engine saw them. */
    static native long[] lastCounts(long matcher);

    static native byte[] nativeRawTemplate(int finger, int width, int height, byte[] pixels);

    static native byte[] nativeWsqTemplate(int finger, byte[] wsq);

    /** Similarity of two one-finger records; -1 without a matcher, -2 - code on failure. */
    static native double nativeVerify(int finger, byte[] probe, byte[] gallery, int maxAngle, int matchingMode);

    static native long heapInUse();
}
