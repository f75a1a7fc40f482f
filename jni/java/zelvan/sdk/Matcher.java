package zelvan.sdk;

import java.util.ArrayList;

/**
 * Verification of two records, the in-memory gallery (at most 5,400 records) and
 * identification.
 *
 * <p>A record is an array of at least ten byte arrays: element {@code i} is the finger template
 * of finger position {@code i + 1}, null where the finger is absent (so is an element of 0 or
 * more than 12,288 bytes). Identifiers are 64-bit numbers written as decimal text.
 *
 * <p>Calling order: {@link #create_()} once, then any number of operations with the handle it
 * returned, then {@link #cancel_(long)} once; after it the handle must be forgotten. One matcher
 * serves one thread at a time, and two matchers must not be initialised at once.
 */
public class Matcher {
    static {
        NativeLibrary.load();
    }

    /** A new native matcher: its handle, or 0 when it cannot be made. */
    public native long create_();

    /** Destroys the matcher and its gallery; 0 does nothing. */
    public native void cancel_(long handle);

    /**
     * Compares two records. Returns 0, and then the similarity (0 to 1) in {@code similarity},
     * or a result code: -1 for a bad argument, a 0 handle or a box that cannot take its value,
     * else the engine's code (11 bad template, 12 nothing to compare, 13 bad parameters, ...).
     * A probe finger that cannot be a template removes that position from both records. Pass
     * a fresh box ({@code new Double(0)}), never a shared one; it changes only on 0.
     */
    public native long verify_record_(
            long handle, MatchingParameters parameters, byte[][] probe, byte[][] gallery, Double similarity);

    /**
     * Enrols a record under an identifier. Returns 0 or a result code: 13 for a bad argument,
     * -1 for a 0 handle, else the engine's code (20 identifier already enrolled, 23 gallery
     * full, 11 bad template, ...).
     */
    public native int insertRecord_(long handle, String id, byte[][] record);

    /** Removes a record: 0, 13 for a bad argument, -1 for a 0 handle, 24 for an unknown identifier. */
    public native int deleteRecord_(long handle, String id);

    /** Number of records enrolled; 0 for a 0 handle. */
    public native long getFinalGallerySize_(long handle);

    /**
     * Searches a probe record against the gallery: at most {@code maxCandidates} candidates,
     * best first; null on failure (a bad argument, negative counts or a 0 handle included).
     * {@code threads} only sizes the search's work areas (0: the number of processors).
     */
    public native ArrayList<candidates_string> identify_record_(
            long handle, MatchingParameters parameters, byte[][] probe, int threads, int maxCandidates);
}
