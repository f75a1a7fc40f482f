package zelvan.sdk;

/**
 * Tells whether a byte array holds a well-formed, correctly sealed finger template.
 *
 * <p>Calling order: {@link #create_()} once, then {@link #check_(long, byte[])} any number of
 * times, then {@link #cancel_(long)} once; after it the handle must be forgotten.
 */
public class FpTemplateChecker {
    static {
        NativeLibrary.load();
    }

    /** A new native checker: its handle, or 0 when it cannot be made. */
    public native long create_();

    /** Destroys the checker; 0 does nothing. */
    public native void cancel_(long handle);

    /** True for a valid template of at most 12,288 bytes; false otherwise and for a 0 handle. */
    public native boolean check_(long handle, byte[] template);
}
