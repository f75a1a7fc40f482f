package zftest;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/** Counts checks, prints every failure, and reads the test images. */
final class Harness {
    /** Thrown to skip a whole group with a message. */
    static final class Skip extends RuntimeException {
        private static final long serialVersionUID = 1L;

        Skip(String reason) {
            super(reason);
        }
    }

    private int checks;
    private int failures;

    void check(boolean ok, String what) {
        ++checks;
        if (!ok) {
            ++failures;
            System.out.println("FAIL " + what);
        }
    }

    void equal(long expected, long actual, String what) {
        check(expected == actual, what + ": expected " + expected + ", got " + actual);
    }

    void note(String text) {
        System.out.println(text);
    }

    /** Prints the tally; 0 when every check passed. */
    int finish(String group) {
        System.out.println(group + ": " + checks + " checks, " + failures + " failed");
        return failures == 0 ? 0 : 1;
    }

    static byte[] read(Path path) {
        try {
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new IllegalStateException("cannot read " + path, e);
        }
    }

    /** An 8-bit binary PGM: {width, height} in {@code size}, the pixels returned. */
    static byte[] readPgm(Path path, int[] size) {
        byte[] b = read(path);
        int[] pos = {2};
        if (b.length < 2 || b[0] != 'P' || b[1] != '5') {
            throw new IllegalStateException("not a binary PGM: " + path);
        }
        size[0] = token(b, pos);
        size[1] = token(b, pos);
        token(b, pos); // maxval
        int start = pos[0] + 1;
        byte[] pixels = new byte[size[0] * size[1]];
        System.arraycopy(b, start, pixels, 0, pixels.length);
        return pixels;
    }

    private static int token(byte[] b, int[] pos) {
        while (Character.isWhitespace(b[pos[0]]) || b[pos[0]] == '#') {
            if (b[pos[0]] == '#') {
                while (b[pos[0]] != '\n') {
                    ++pos[0];
                }
            }
            ++pos[0];
        }
        int start = pos[0];
        while (Character.isDigit(b[pos[0]])) {
            ++pos[0];
        }
        return Integer.parseInt(new String(b, start, pos[0] - start, StandardCharsets.US_ASCII));
    }

    /** Total length of a finger template: its first four bytes, little-endian. */
    static int templateLength(byte[] t) {
        return (t[0] & 0xFF) | (t[1] & 0xFF) << 8 | (t[2] & 0xFF) << 16 | (t[3] & 0xFF) << 24;
    }

    static byte[] filled(int n, int value) {
        byte[] b = new byte[n];
        java.util.Arrays.fill(b, (byte) value);
        return b;
    }

    static boolean all(byte[] b, int from, int value) {
        for (int i = from; i < b.length; ++i) {
            if (b[i] != (byte) value) {
                return false;
            }
        }
        return true;
    }

    /** n bytes of a fixed pattern. */
    static byte[] pattern(int n, int seed) {
        byte[] b = new byte[n];
        for (int i = 0; i < n; ++i) {
            b[i] = (byte) (i * 31 + seed);
        }
        return b;
    }
}
