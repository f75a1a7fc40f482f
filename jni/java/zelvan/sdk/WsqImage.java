package zelvan.sdk;

/** One WSQ-compressed grey fingerprint image: the first {@code m_size} bytes of {@code m_wsq}. */
public class WsqImage {
    /** Finger position 1 to 10 (1 and 6 the thumbs), 0 when unknown. */
    public int m_finger;
    /** Number of stream bytes, 1 to {@code m_wsq.length}. */
    public int m_size;
    /** The WSQ stream. */
    public byte[] m_wsq;

    public WsqImage() {}

    public WsqImage(int finger, int size, byte[] wsq) {
        m_finger = finger;
        m_size = size;
        m_wsq = wsq;
    }
}
