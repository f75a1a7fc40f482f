package zftest;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import zelvan.sdk.FpTemplateChecker;
import zelvan.sdk.MatchingParameters;
import zelvan.sdk.Matcher;
import zelvan.sdk.RawImage;
import zelvan.sdk.TemplateCreator;
import zelvan.sdk.WsqImage;
import zelvan.sdk.candidates_string;

/**
 * The binding over the real engine: templates made through Java equal those made in C++,
 * checks, verification and identification of real prints, and memory across many
 * create / use / cancel cycles.
 */
@SuppressWarnings("removal") // fresh boxes are what the binding's callers must pass
final class EngineTests {
    /** Finger position given to the FVC impressions (their true position is not known). */
    private static final int FVC_FINGER = 2;
    private static final int FVC_FINGERS = 10;
    private static final int FVC_IMPRESSIONS = 8;
    /** Growth of the C heap over the measured cycles that still counts as flat. */
    private static final long FLAT_BYTES = 1 << 20;
    private static final int MAX_TEMPLATE = 12288;

    private final Harness h;
    private final Path testData;
    private final Path fvc;
    private final TemplateCreator creator = new TemplateCreator();
    private final FpTemplateChecker checker = new FpTemplateChecker();
    private final Matcher matcher = new Matcher();

    EngineTests(Harness h, Path testData, Path shared) {
        this.h = h;
        this.testData = testData;
        this.fvc = shared.resolve("fingerprints/fvc2002_db1_b");
    }

    private static MatchingParameters parameters(int matchingMode) {
        return new MatchingParameters(0, 60, 60, matchingMode);
    }

    /** Template made through Java from a WSQ stream (m_size may be below the array's length). */
    private byte[] wsqTemplate(long handle, int finger, byte[] wsq, int size) {
        Integer length = new Integer(0);
        Byte quality = new Byte((byte) 0);
        int code = creator.createTemplate_(handle, new WsqImage(finger, size, wsq), length, quality);
        return fetched(handle, code, length, quality, "WSQ finger " + finger);
    }

    private byte[] rawTemplate(long handle, int finger, int[] sides, byte[] pixels) {
        Integer length = new Integer(0);
        Byte quality = new Byte((byte) 0);
        int code = creator.createTemplate_(handle, new RawImage(finger, sides[0], sides[1], pixels), length, quality);
        return fetched(handle, code, length, quality, "raw " + sides[0] + " x " + sides[1]);
    }

    private byte[] fetched(long handle, int code, Integer length, Byte quality, String what) {
        h.equal(0, code, what + ": createTemplate_");
        if (code != 0) {
            return null;
        }
        h.check(quality.byteValue() >= 0 && quality.byteValue() <= 100, what + ": quality 0..100");
        byte[] t = new byte[length.intValue()];
        creator.getTemplate_(handle, t);
        h.equal(length.intValue(), Harness.templateLength(t), what + ": template carries its size");
        return t;
    }

    private byte[] fvcPixels(int finger, int impression, int[] sides) {
        return Harness.readPgm(fvc.resolve((100 + finger) + "_" + impression + ".pgm"), sides);
    }

    private void checkSealed(long handle, byte[] t, String what) {
        h.check(checker.check_(handle, t), what + ": check_ accepts it");
        byte[] flipped = t.clone();
        flipped[flipped.length - 1] ^= 1;
        h.check(!checker.check_(handle, flipped), what + ": check_ refuses a flipped seal byte");
    }

    void templates() {
        long c = creator.create_();
        long k = checker.create_();
        h.check(c != 0 && k != 0, "create_ gives a creator and a checker");
        // The NIST card: rolled thumbs and their plain impressions.
        int[][] card = {{1, 1}, {6, 6}, {11, 1}, {12, 6}};
        for (int[] print : card) {
            String name = String.format("fp%02d", print[0]);
            byte[] wsq = Harness.read(testData.resolve("wsq/" + name + ".wsq"));
            byte[] viaJava = wsqTemplate(c, print[1], wsq, wsq.length);
            if (viaJava == null) {
                continue;
            }
            h.check(Arrays.equals(viaJava, Fakes.nativeWsqTemplate(print[1], wsq)), name + ": Java template equals the C++ one");
            checkSealed(k, viaJava, name);
            // The stream at the front of a longer array, m_size its length.
            byte[] padded = Arrays.copyOf(wsq, wsq.length + 64);
            h.check(Arrays.equals(wsqTemplate(c, print[1], padded, wsq.length), viaJava), name + ": m_size below the array's length");
        }
        if (!BindingTest.exists(fvc.resolve("101_1.pgm"))) {
            h.note("FVC part skipped: " + fvc + " not found (shared fingerprint images absent)");
        } else {
            for (int finger = 1; finger <= 4; ++finger) {
                int[] sides = new int[2];
                byte[] pixels = fvcPixels(finger, 1, sides);
                byte[] viaJava = rawTemplate(c, FVC_FINGER, sides, pixels);
                if (viaJava == null) {
                    continue;
                }
                String name = "FVC " + (100 + finger) + "_1";
                h.check(Arrays.equals(viaJava, Fakes.nativeRawTemplate(FVC_FINGER, sides[0], sides[1], pixels)), name + ": Java template equals the C++ one");
                checkSealed(k, viaJava, name);
            }
        }
        creator.cancel_(c);
        checker.cancel_(k);
    }

    /** Runs `cycle` 20 times to settle, then 200 times; the C heap must not grow. */
    private void flat(String what, Runnable cycle) {
        for (int i = 0; i < 20; ++i) {
            cycle.run();
        }
        long before = Fakes.heapInUse();
        for (int i = 0; i < 200; ++i) {
            cycle.run();
        }
        long growth = Fakes.heapInUse() - before;
        h.note(what + ": C heap grew by " + growth + " bytes over 200 cycles");
        h.check(growth < FLAT_BYTES, what + ": 200 create / use / cancel cycles leave memory flat");
    }

    void cycles() {
        byte[] wsq = Harness.read(testData.resolve("wsq/fp11.wsq"));
        byte[] tpl = Fakes.nativeWsqTemplate(1, wsq);
        h.check(tpl != null, "fp11 gives a template");
        // Every tenth cycle makes a template of a small image of straight ridges; the others
        // give the creator a flat image, which it refuses once its extractor is prepared.
        int[] sides = {160, 160};
        byte[] stripes = new byte[sides[0] * sides[1]];
        for (int i = 0; i < stripes.length; ++i) {
            stripes[i] = (byte) ((i % sides[0] + i / sides[0]) % 9 < 4 ? 40 : 210);
        }
        byte[] flat = Harness.filled(stripes.length, 128);
        int[] cycle = {0};
        flat("TemplateCreator", () -> {
            boolean ridges = cycle[0]++ % 10 == 0;
            long c = creator.create_();
            Integer length = new Integer(0);
            int code = creator.createTemplate_(c, new RawImage(1, sides[0], sides[1], ridges ? stripes : flat), length, new Byte((byte) 0));
            h.equal(ridges ? 0 : 4, code, "cycle createTemplate_");
            byte[] t = new byte[length.intValue()];
            creator.getTemplate_(c, t);
            creator.cancel_(c);
        });
        flat("FpTemplateChecker", () -> {
            long k = checker.create_();
            h.check(checker.check_(k, tpl), "cycle check");
            checker.cancel_(k);
        });
        byte[][] record = new byte[10][];
        record[0] = tpl;
        flat("Matcher", () -> {
            long m = matcher.create_();
            h.equal(0, matcher.insertRecord_(m, "1", record), "cycle insertRecord_");
            ArrayList<candidates_string> found = matcher.identify_record_(m, parameters(0), record, 1, 1);
            h.check(found != null && found.size() == 1, "cycle identify_record_");
            matcher.cancel_(m);
        });
    }

    void matcher() {
        long m = matcher.create_();
        h.check(m != 0, "Matcher.create_ gives a handle");
        if (!BindingTest.exists(fvc.resolve("101_1.pgm"))) {
            matcher.cancel_(m);
            throw new Harness.Skip(fvc + " not found (shared fingerprint images absent)");
        }
        long c = creator.create_();
        byte[][] templates = new byte[FVC_FINGERS * FVC_IMPRESSIONS][];
        for (int f = 1; f <= FVC_FINGERS; ++f) {
            for (int i = 1; i <= FVC_IMPRESSIONS; ++i) {
                int[] sides = new int[2];
                templates[(f - 1) * FVC_IMPRESSIONS + i - 1] = rawTemplate(c, FVC_FINGER, sides, fvcPixels(f, i, sides));
            }
        }
        creator.cancel_(c);
        verifyPairs(m, templates);
        identifyAll(m, templates);
        matcher.cancel_(m);
        manyIdentifiers(templates[0]);
    }

    private static byte[][] oneFinger(byte[] t) {
        byte[][] r = new byte[10][];
        r[FVC_FINGER - 1] = t;
        return r;
    }

    /** Java similarities equal those of the C++ interface for genuine and impostor pairs. */
    private void verifyPairs(long m, byte[][] t) {
        int[][] pairs = {{0, 1}, {0, 7}, {9, 14}, {40, 45}, {0, 8}, {16, 33}, {60, 79}};
        for (int[] p : pairs) {
            Double similarity = new Double(0);
            long code = matcher.verify_record_(m, parameters(0), oneFinger(t[p[0]]), oneFinger(t[p[1]]), similarity);
            h.equal(0, code, "verify_record_ " + p[0] + " / " + p[1]);
            double expected = Fakes.nativeVerify(FVC_FINGER, t[p[0]], t[p[1]], 60, 0);
            h.check(similarity.doubleValue() == expected,
                    "verify_record_ " + p[0] + " / " + p[1] + ": " + similarity + " equals the C++ " + expected);
        }
    }

    /** The 80 impressions enrolled; each, searched against the other 79, finds a mate first. */
    private void identifyAll(long m, byte[][] t) {
        for (int k = 0; k < t.length; ++k) {
            h.equal(0, matcher.insertRecord_(m, Integer.toString(k + 1), oneFinger(t[k])), "insertRecord_ " + (k + 1));
        }
        h.equal(t.length, matcher.getFinalGallerySize_(m), "gallery size after enrolment");
        h.equal(20, matcher.insertRecord_(m, "001", oneFinger(t[0])), "insertRecord_ of an enrolled identifier");
        h.equal(24, matcher.deleteRecord_(m, "999"), "deleteRecord_ of an unknown identifier");
        int mateFirst = 0;
        StringBuilder misses = new StringBuilder();
        for (int k = 0; k < t.length; ++k) {
            String id = Integer.toString(k + 1);
            h.equal(0, matcher.deleteRecord_(m, id), "deleteRecord_ " + id);
            h.equal(t.length - 1, matcher.getFinalGallerySize_(m), "gallery size after deleting " + id);
            ArrayList<candidates_string> found = matcher.identify_record_(m, parameters(0), oneFinger(t[k]), 1, 10);
            h.check(found != null, "identify_record_ " + id);
            if (found != null && !found.isEmpty() && (Integer.parseInt(found.get(0).id) - 1) / FVC_IMPRESSIONS == k / FVC_IMPRESSIONS) {
                ++mateFirst;
            } else {
                misses.append(' ').append(id);
            }
            h.equal(0, matcher.insertRecord_(m, id, oneFinger(t[k])), "insertRecord_ " + id + " again");
        }
        h.note("mate ranked first for " + mateFirst + " of " + t.length + " probes; misses:" + misses);
        h.check(mateFirst >= 76, "at least 76 of 80 probes find a mate first");
    }

    /** One record under 1,500 identifiers comes back 1,500 times. */
    private void manyIdentifiers(byte[] t) {
        long m = matcher.create_();
        for (int k = 1; k <= 1500; ++k) {
            if (matcher.insertRecord_(m, Integer.toString(k), oneFinger(t)) != 0) {
                h.check(false, "insertRecord_ " + k);
                break;
            }
        }
        ArrayList<candidates_string> found = matcher.identify_record_(m, parameters(0), oneFinger(t), 1, 1500);
        h.check(found != null && found.size() == 1500, "1,500 candidates for a record enrolled 1,500 times");
        matcher.cancel_(m);
    }
}
