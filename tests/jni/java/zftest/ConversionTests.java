package zftest;

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
 * What the binding hands the engine and gives back, seen through fake engine objects: 0
 * handles, null, empty and short arrays, WSQ sizes, finger lengths, the paired rule of
 * verification, boxes, the order of the parameter fields, identifiers, candidate lists, and
 * C++ exceptions.
 */
@SuppressWarnings("removal") // fresh boxes are what the binding's callers must pass
final class ConversionTests {
    private static final int MAX = 12288;
    /** A 300-byte "template": its length in the first four bytes, then a pattern. */
    private static final byte[] TEMPLATE = template(300);

    private final Harness h;
    private final TemplateCreator creator = new TemplateCreator();
    private final FpTemplateChecker checker = new FpTemplateChecker();
    private final Matcher matcher = new Matcher();

    ConversionTests(Harness h) {
        this.h = h;
    }

    void run() {
        zeroHandles();
        rawImages();
        wsqImages();
        creationBoxes();
        fetch();
        check();
        parameterOrder();
        recordFingers();
        pairedRule();
        verification();
        enrolment();
        identification();
    }

    private static byte[] template(int n) {
        byte[] t = Harness.pattern(n, 5);
        t[0] = (byte) n;
        t[1] = (byte) (n >> 8);
        t[2] = 0;
        t[3] = 0;
        return t;
    }

    private static byte[][] record(int length) {
        byte[][] r = new byte[length][];
        if (length > 0) {
            r[0] = TEMPLATE.clone();
        }
        return r;
    }

    private static MatchingParameters parameters() {
        return new MatchingParameters(0, 60, 60, 0);
    }

    private long fakeCreator(int result) {
        return Fakes.newCreator(result, 77, TEMPLATE);
    }

    private void zeroHandles() {
        Integer size = new Integer(-7);
        Byte quality = new Byte((byte) -7);
        h.equal(13, creator.createTemplate_(0, new RawImage(1, 10, 10, new byte[100]), size, quality), "raw image, handle 0");
        h.equal(13, creator.createTemplate_(0, new WsqImage(1, 10, new byte[10]), size, quality), "WSQ image, handle 0");
        h.check(size.intValue() == -7 && quality.byteValue() == -7, "handle 0 leaves the boxes");
        byte[] out = Harness.filled(400, 0x5A);
        creator.getTemplate_(0, out);
        h.check(Harness.all(out, 0, 0x5A), "getTemplate_ with handle 0 leaves the array");
        h.check(!checker.check_(0, TEMPLATE), "check_ with handle 0 is false");
        Double similarity = new Double(-7);
        h.equal(-1, matcher.verify_record_(0, parameters(), record(10), record(10), similarity), "verify_record_, handle 0");
        h.check(similarity.doubleValue() == -7, "verify_record_ with handle 0 leaves the box");
        h.equal(-1, matcher.insertRecord_(0, "1", record(10)), "insertRecord_, handle 0");
        h.equal(-1, matcher.deleteRecord_(0, "1"), "deleteRecord_, handle 0");
        h.equal(0, matcher.getFinalGallerySize_(0), "getFinalGallerySize_, handle 0");
        h.check(matcher.identify_record_(0, parameters(), record(10), 1, 10) == null, "identify_record_, handle 0");
        creator.cancel_(0);
        checker.cancel_(0);
        matcher.cancel_(0);
        // Arguments are judged before the handle.
        h.equal(13, creator.createTemplate_(0, new RawImage(1, 0, 0, new byte[0]), size, quality), "empty pixels before handle 0");
        h.equal(13, matcher.insertRecord_(0, null, record(10)), "null identifier before handle 0");
        long c = creator.create_();
        long k = checker.create_();
        h.check(c != 0 && k != 0, "create_ gives a creator and a checker");
        creator.cancel_(c);
        checker.cancel_(k);
    }

    private static final class RawCase {
        final String name;
        final int width;
        final int height;
        final int length; // -1: null pixel array, -2: null image
        final int code;
        final boolean reachesEngine;

        RawCase(String name, int width, int height, int length, int code, boolean reachesEngine) {
            this.name = name;
            this.width = width;
            this.height = height;
            this.length = length;
            this.code = code;
            this.reachesEngine = reachesEngine;
        }
    }

    private void rawImages() {
        RawCase[] cases = {
            new RawCase("null image", 10, 10, -2, 13, false),
            new RawCase("null pixels", 10, 10, -1, 13, false),
            new RawCase("empty pixels", 0, 0, 0, 13, false),
            new RawCase("one pixel short", 10, 10, 99, 13, false),
            new RawCase("product wraps in 32 bits", 65536, 65536, 100, 13, false),
            new RawCase("product above 2^31", 70000, 40000, 100, 13, false),
            new RawCase("exact", 10, 10, 100, 0, true),
            new RawCase("longer than needed", 10, 10, 150, 0, true),
            new RawCase("zero width goes to the engine", 0, 10, 10, 0, true),
            new RawCase("negative width goes to the engine", -5, 10, 10, 0, true),
        };
        for (RawCase c : cases) {
            long fake = fakeCreator(0);
            byte[] pixels = c.length >= 0 ? Harness.pattern(c.length, 3) : null;
            RawImage image = c.length == -2 ? null : new RawImage(4, c.width, c.height, pixels);
            int code = creator.createTemplate_(fake, image, new Integer(0), new Byte((byte) 0));
            h.equal(c.code, code, "raw " + c.name);
            h.check(Fakes.creatorLog(fake).equals(c.reachesEngine ? "raw;" : ""), "raw " + c.name + ": engine called " + c.reachesEngine);
            if (c.reachesEngine) {
                int[] seen = Fakes.lastImage(fake);
                h.check(seen[1] == 4 && seen[2] == c.width && seen[3] == c.height, "raw " + c.name + ": finger and sides");
                int n = c.width > 0 ? c.width * c.height : 0;
                h.check(Arrays.equals(Fakes.lastImageBytes(fake), Arrays.copyOf(pixels, n)), "raw " + c.name + ": pixels");
            }
            creator.cancel_(fake);
        }
    }

    private void wsqImages() {
        byte[] stream = Harness.pattern(100, 9);
        // {m_size, expected code}; the array holds 100 bytes
        int[][] cases = {{0, 13}, {-1, 13}, {Integer.MIN_VALUE, 13}, {101, 13}, {1, 0}, {50, 0}, {100, 0}};
        for (int[] c : cases) {
            long fake = fakeCreator(0);
            int code = creator.createTemplate_(fake, new WsqImage(6, c[0], stream), new Integer(0), new Byte((byte) 0));
            h.equal(c[1], code, "WSQ m_size " + c[0]);
            if (c[1] == 0) {
                int[] seen = Fakes.lastImage(fake);
                h.check(seen[0] == 2 && seen[1] == 6 && seen[2] == c[0], "WSQ m_size " + c[0] + ": finger and size");
                h.check(Arrays.equals(Fakes.lastImageBytes(fake), Arrays.copyOf(stream, c[0])), "WSQ m_size " + c[0] + ": exactly those bytes");
            } else {
                h.check(Fakes.creatorLog(fake).isEmpty(), "WSQ m_size " + c[0] + ": engine not called");
            }
            creator.cancel_(fake);
        }
        long fake = fakeCreator(0);
        h.equal(13, creator.createTemplate_(fake, new WsqImage(1, 10, null), new Integer(0), new Byte((byte) 0)), "WSQ null array");
        h.equal(13, creator.createTemplate_(fake, (WsqImage) null, new Integer(0), new Byte((byte) 0)), "WSQ null image");
        h.check(Fakes.creatorLog(fake).isEmpty(), "WSQ null arguments: engine not called");
        creator.cancel_(fake);
    }

    /** Boxes change only when the engine answered 0; a missing box is reported. */
    private void creationBoxes() {
        for (boolean wsq : new boolean[] {false, true}) {
            String kind = wsq ? "WSQ" : "raw";
            int boxFailure = wsq ? -1 : 100;
            // {engine result, size box present, quality box present, expected code}
            int[][] cases = {{0, 1, 1, 0}, {5, 1, 1, 5}, {0, 0, 1, boxFailure}, {0, 1, 0, boxFailure}, {Fakes.THROW, 1, 1, 100}};
            for (int[] c : cases) {
                long fake = fakeCreator(c[0]);
                Integer size = c[1] != 0 ? new Integer(-7) : null;
                Byte quality = c[2] != 0 ? new Byte((byte) -7) : null;
                int code = wsq
                        ? creator.createTemplate_(fake, new WsqImage(1, 10, new byte[10]), size, quality)
                        : creator.createTemplate_(fake, new RawImage(1, 10, 10, new byte[100]), size, quality);
                String what = kind + " engine " + c[0] + " boxes " + c[1] + c[2];
                h.equal(c[3], code, what);
                boolean delivered = c[3] == 0;
                if (size != null) {
                    h.equal(delivered ? TEMPLATE.length : -7, size.intValue(), what + ": size box");
                }
                if (quality != null) {
                    h.equal(delivered ? 77 : -7, quality.byteValue(), what + ": quality box");
                }
                creator.cancel_(fake);
            }
        }
    }

    private void fetch() {
        long fake = fakeCreator(0);
        byte[] exact = new byte[TEMPLATE.length];
        creator.getTemplate_(fake, exact);
        h.check(Arrays.equals(exact, TEMPLATE), "getTemplate_ fills an array of the template's size");
        byte[] longer = Harness.filled(400, 0x5A);
        creator.getTemplate_(fake, longer);
        h.check(Arrays.equals(Arrays.copyOf(longer, TEMPLATE.length), TEMPLATE) && Harness.all(longer, TEMPLATE.length, 0x5A),
                "getTemplate_ writes the template's bytes only");
        byte[] shorter = Harness.filled(TEMPLATE.length - 1, 0x5A);
        creator.getTemplate_(fake, shorter);
        h.check(Harness.all(shorter, 0, 0x5A), "getTemplate_ leaves an array one byte short");
        creator.getTemplate_(fake, null);
        h.check(Fakes.creatorLog(fake).equals("get;get;get;"), "getTemplate_ with a null array does not call the engine");
        creator.cancel_(fake);
        long real = creator.create_();
        byte[] before = Harness.filled(64, 0x5A);
        creator.getTemplate_(real, before);
        h.check(Harness.all(before, 0, 0x5A), "getTemplate_ before any creation leaves the array");
        creator.cancel_(real);
    }

    private void check() {
        byte[] full = Harness.pattern(MAX, 1);
        // {length, expected}: -1 a null array
        int[][] cases = {{-1, 0}, {0, 0}, {MAX + 1, 0}, {1, 1}, {MAX, 1}};
        for (int[] c : cases) {
            long fake = Fakes.newChecker(1);
            byte[] t = c[0] >= 0 ? Arrays.copyOf(full, c[0]) : null;
            boolean answer = checker.check_(fake, t);
            h.check(answer == (c[1] == 1), "check_ of " + c[0] + " bytes");
            if (c[1] == 1) {
                byte[] seen = Fakes.lastChecked(fake);
                h.check(Arrays.equals(Arrays.copyOf(seen, c[0]), t) && Harness.all(seen, c[0], 0), "check_ of " + c[0] + " bytes: zero-padded copy");
            } else {
                h.check(Fakes.checkerLog(fake).isEmpty(), "check_ of " + c[0] + " bytes: engine not called");
            }
            checker.cancel_(fake);
        }
        for (int result : new int[] {0, Fakes.THROW}) {
            long fake = Fakes.newChecker(result);
            h.check(!checker.check_(fake, TEMPLATE), "check_ false when the engine answers " + result);
            checker.cancel_(fake);
        }
    }

    private void parameterOrder() {
        long fake = Fakes.newMatcher(0, 0.5, 0);
        matcher.verify_record_(fake, new MatchingParameters(1, 2, 3, 4), record(10), record(10), new Double(0));
        h.check(Arrays.equals(Fakes.lastParameters(fake), new int[] {1, 2, 3, 4}), "verify_record_ parameters by name");
        matcher.identify_record_(fake, new MatchingParameters(5, 6, 7, 8), record(10), 1, 1);
        h.check(Arrays.equals(Fakes.lastParameters(fake), new int[] {5, 6, 7, 8}), "identify_record_ parameters by name");
        matcher.cancel_(fake);
    }

    /** Finger arrays: null, 0 and 12,289 bytes are absent; 1 and 12,288 bytes are copied, zero-padded. */
    private void recordFingers() {
        byte[][] r = new byte[11][];
        r[1] = new byte[0];
        r[2] = new byte[] {9};
        r[3] = Harness.pattern(MAX, 2);
        r[4] = Harness.pattern(MAX + 1, 2);
        r[5] = TEMPLATE.clone();
        r[10] = TEMPLATE.clone(); // beyond the ten fingers: ignored
        long fake = Fakes.newMatcher(0, 0, 0);
        h.equal(0, matcher.insertRecord_(fake, "17", r), "insertRecord_ of an eleven-element record");
        int[] lengths = {-1, -1, 1, MAX, -1, TEMPLATE.length, -1, -1, -1, -1};
        for (int i = 0; i < 10; ++i) {
            byte[] seen = Fakes.lastFinger(fake, 0, i);
            if (lengths[i] < 0) {
                h.check(seen == null, "record finger " + i + " absent");
            } else {
                h.check(seen != null && Arrays.equals(Arrays.copyOf(seen, lengths[i]), r[i]) && Harness.all(seen, lengths[i], 0),
                        "record finger " + i + " copied, zero-padded");
            }
        }
        matcher.cancel_(fake);
    }

    /** A probe finger that cannot be a template removes the position on both sides. */
    private void pairedRule() {
        byte[][] probe = new byte[10][];
        byte[][] gallery = new byte[10][];
        probe[0] = TEMPLATE.clone();
        gallery[0] = TEMPLATE.clone();
        probe[1] = new byte[MAX + 1]; // both absent
        gallery[1] = TEMPLATE.clone();
        gallery[2] = TEMPLATE.clone(); // null probe: gallery kept
        probe[3] = new byte[0]; // both absent
        gallery[3] = TEMPLATE.clone();
        probe[4] = TEMPLATE.clone(); // gallery too long: gallery absent
        gallery[4] = new byte[MAX + 1];
        probe[5] = new byte[] {1};
        gallery[5] = TEMPLATE.clone();
        gallery[6] = TEMPLATE.clone();
        long fake = Fakes.newMatcher(0, 0.25, 0);
        h.equal(0, matcher.verify_record_(fake, parameters(), probe, gallery, new Double(0)), "verify_record_ of the paired record");
        boolean[] probePresent = {true, false, false, false, true, true, false, false, false, false};
        boolean[] galleryPresent = {true, false, true, false, false, true, true, false, false, false};
        for (int i = 0; i < 10; ++i) {
            h.check((Fakes.lastFinger(fake, 0, i) != null) == probePresent[i], "paired rule probe finger " + i);
            h.check((Fakes.lastFinger(fake, 1, i) != null) == galleryPresent[i], "paired rule gallery finger " + i);
        }
        matcher.cancel_(fake);
    }

    private void verification() {
        // {engine result, expected code, box delivered}
        int[][] results = {{0, 0, 1}, {12, 12, 0}, {Fakes.THROW, 100, 0}};
        for (int[] c : results) {
            long fake = Fakes.newMatcher(c[0], 0.625, 0);
            Double similarity = new Double(-7);
            h.equal(c[1], matcher.verify_record_(fake, parameters(), record(10), record(10), similarity), "verify_record_ engine " + c[0]);
            h.check(similarity.doubleValue() == (c[2] == 1 ? 0.625 : -7), "verify_record_ engine " + c[0] + ": box");
            matcher.cancel_(fake);
        }
        long fake = Fakes.newMatcher(0, 0.625, 0);
        h.equal(-1, matcher.verify_record_(fake, null, record(10), record(10), new Double(0)), "verify_record_ null parameters");
        h.equal(-1, matcher.verify_record_(fake, parameters(), null, record(10), new Double(0)), "verify_record_ null probe");
        h.equal(-1, matcher.verify_record_(fake, parameters(), record(10), null, new Double(0)), "verify_record_ null gallery");
        h.equal(-1, matcher.verify_record_(fake, parameters(), record(9), record(10), new Double(0)), "verify_record_ nine-finger probe");
        h.equal(-1, matcher.verify_record_(fake, parameters(), record(10), record(9), new Double(0)), "verify_record_ nine-finger gallery");
        h.check(Fakes.matcherLog(fake).isEmpty(), "verify_record_ bad arguments: engine not called");
        h.equal(-1, matcher.verify_record_(fake, parameters(), record(10), record(10), null), "verify_record_ null box");
        matcher.cancel_(fake);
    }

    private void enrolment() {
        long fake = Fakes.newMatcher(0, 0, 0);
        h.equal(13, matcher.insertRecord_(fake, null, record(10)), "insertRecord_ null identifier");
        h.equal(13, matcher.insertRecord_(fake, "1", null), "insertRecord_ null record");
        h.equal(13, matcher.insertRecord_(fake, "1", record(9)), "insertRecord_ nine-finger record");
        h.equal(13, matcher.insertRecord_(fake, "1", record(0)), "insertRecord_ empty record");
        h.equal(13, matcher.deleteRecord_(fake, null), "deleteRecord_ null identifier");
        h.check(Fakes.matcherLog(fake).isEmpty(), "enrolment bad arguments: engine not called");
        for (String id : new String[] {"007", "", " 12 34", "-5", "18446744073709551616", "\u00e9"}) {
            h.equal(0, matcher.insertRecord_(fake, id, record(10)), "insertRecord_ '" + id + "'");
            h.check(Fakes.lastId(fake).equals(id), "insertRecord_ passes '" + id + "' unchanged");
            h.equal(0, matcher.deleteRecord_(fake, id + "x"), "deleteRecord_ '" + id + "x'");
            h.check(Fakes.lastId(fake).equals(id + "x"), "deleteRecord_ passes '" + id + "x' unchanged");
        }
        h.equal(4321, matcher.getFinalGallerySize_(fake), "getFinalGallerySize_");
        matcher.cancel_(fake);
        long refusing = Fakes.newMatcher(24, 0, 0);
        h.equal(24, matcher.insertRecord_(refusing, "1", record(10)), "insertRecord_ passes the engine's code");
        h.equal(24, matcher.deleteRecord_(refusing, "1"), "deleteRecord_ passes the engine's code");
        matcher.cancel_(refusing);
        long throwing = Fakes.newMatcher(Fakes.THROW, 0, 0);
        h.equal(100, matcher.insertRecord_(throwing, "1", record(10)), "insertRecord_ engine exception");
        h.equal(100, matcher.deleteRecord_(throwing, "1"), "deleteRecord_ engine exception");
        h.equal(0, matcher.getFinalGallerySize_(throwing), "getFinalGallerySize_ engine exception");
        matcher.cancel_(throwing);
    }

    private void identification() {
        long fake = Fakes.newMatcher(0, 0, 3);
        ArrayList<candidates_string> found = matcher.identify_record_(fake, parameters(), record(10), 7, 1500);
        h.check(found != null && found.size() == 3, "identify_record_ gives the engine's three candidates");
        if (found != null && found.size() == 3) {
            for (int k = 0; k < 3; ++k) {
                h.check(found.get(k).id.equals(Integer.toString(1000001 + k)) && found.get(k).score == 1.0f - k / 4096.0f,
                        "candidate " + k + " in the engine's order with its similarity");
            }
        }
        h.check(Arrays.equals(Fakes.lastCounts(fake), new long[] {7, 1500}), "identify_record_ passes threads and maxCandidates");
        String[] bad = {"negative threads", "negative maxCandidates", "null parameters", "null probe", "nine-finger probe"};
        ArrayList<?>[] answers = {
            matcher.identify_record_(fake, parameters(), record(10), -1, 10),
            matcher.identify_record_(fake, parameters(), record(10), 1, Integer.MIN_VALUE),
            matcher.identify_record_(fake, null, record(10), 1, 10),
            matcher.identify_record_(fake, parameters(), null, 1, 10),
            matcher.identify_record_(fake, parameters(), record(9), 1, 10),
        };
        for (int k = 0; k < bad.length; ++k) {
            h.check(answers[k] == null, "identify_record_ " + bad[k] + " gives null");
        }
        h.check(Fakes.matcherLog(fake).equals("identify;"), "identify_record_ bad arguments: engine not called");
        matcher.cancel_(fake);

        long none = Fakes.newMatcher(0, 0, 0);
        ArrayList<candidates_string> empty = matcher.identify_record_(none, parameters(), record(10), 1, 10);
        h.check(empty != null && empty.isEmpty(), "identify_record_ without candidates gives an empty list");
        matcher.cancel_(none);
        for (int result : new int[] {18, Fakes.THROW}) {
            long failing = Fakes.newMatcher(result, 0, 3);
            h.check(matcher.identify_record_(failing, parameters(), record(10), 1, 10) == null, "identify_record_ engine " + result + " gives null");
            matcher.cancel_(failing);
        }
        // Far more candidates than the VM's local-reference capacity.
        long many = Fakes.newMatcher(0, 0, 1500);
        ArrayList<candidates_string> all = matcher.identify_record_(many, parameters(), record(10), 1, 1500);
        h.check(all != null && all.size() == 1500 && all.get(1499).id.equals("1001500"), "identify_record_ delivers 1,500 candidates");
        matcher.cancel_(many);
    }
}
