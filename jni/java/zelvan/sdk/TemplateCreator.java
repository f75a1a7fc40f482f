package zelvan.sdk;

/**
 * Creates finger templates from raw or WSQ images.
 *
 * <p>Calling order: {@link #create_()} once, then any number of operations with the handle it
 * returned, then {@link #cancel_(long)} once; after it the handle must be forgotten. A 0 handle
 * means that no creator could be made. One creator serves one thread at a time, and two
 * template creations must never run at once in the process.
 *
 * <p>The size and quality of a new template are delivered by re-running the constructor of
 * the boxes passed in. Pass fresh boxes made for the call ({@code new Integer(0)},
 * {@code new Byte((byte) 0)}), never autoboxed or cached values such as {@code Integer.valueOf(0)}:
 * those are shared by the whole JVM, which would see their value change.
 */
public class TemplateCreator {
    static {
        NativeLibrary.load();
    }

    /** A new native creator: its handle, or 0 when it cannot be made. */
    public native long create_();

    /** Destroys the creator; 0 does nothing. */
    public native void cancel_(long handle);

    /**
     * Creates a template from raw pixels. Returns 0, and then the template's size in bytes in
     * {@code size} and the image quality (0 to 100) in {@code quality}, or a result code: 13
     * for a bad argument or a 0 handle (also for fewer than {@code m_width * m_height} pixels),
     * 100 when a box cannot take its value, else the engine's code (3 image too large, 4 bad
     * image, 5 extraction failed, 6 bad finger position, ...). The boxes change only on 0.
     */
    public native int createTemplate_(long handle, RawImage image, Integer size, Byte quality);

    /**
     * Creates a template from a WSQ image ({@code m_size} of 1 to the array's length). Returns
     * 0 with size and quality as for raw pixels, or a result code: 13 for a bad argument or a
     * 0 handle, -1 when a box cannot take its value, else the engine's code (7, 8, 9 for the
     * WSQ decoder, and those of raw pixels).
     */
    public native int createTemplate_(long handle, WsqImage image, Integer size, Byte quality);

    /**
     * Copies the last template created with 0 to the front of {@code out}, which must hold at
     * least the size delivered; a shorter array is left untouched.
     */
    public native void getTemplate_(long handle, byte[] out);
}
