package zelvan.sdk;

/** Loads the native binding {@code libzelvanfp_jni} once, when the first class that needs it is initialised. */
final class NativeLibrary {
    static {
        System.loadLibrary("zelvanfp_jni");
    }

    private NativeLibrary() {}

    /** Runs the class initialiser above (the library is loaded only the first time). */
    static void load() {}
}
