package zelvan.sdk;

/** One 8-bit grey fingerprint image at 500 pixels per inch: rows of exactly {@code m_width} bytes, top row first. */
public class RawImage {
    /** Finger position 1 to 10 (1 and 6 the thumbs), 0 when unknown. */
    public int m_finger;
    /** Width in pixels, at most 4096. */
    public int m_width;
    /** Height in pixels, at most 4096. */
    public int m_height;
    /** The pixels; at least {@code m_width * m_height} bytes. */
    public byte[] m_image;

    public RawImage() {}

    public RawImage(int finger, int width, int height, byte[] image) {
        m_finger = finger;
        m_width = width;
        m_height = height;
        m_image = image;
    }
}
