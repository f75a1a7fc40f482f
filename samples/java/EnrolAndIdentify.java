import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import zelvan.sdk.FpTemplateChecker;
import zelvan.sdk.MatchingParameters;
import zelvan.sdk.Matcher;
import zelvan.sdk.RawImage;
import zelvan.sdk.TemplateCreator;
import zelvan.sdk.WsqImage;
import zelvan.sdk.candidates_string;

/**
 * Enrols fingerprints and identifies probes with the classes of zelvan.sdk: a template per
 * image (raw pixels of a binary PGM, or a WSQ file), checked, one-finger records enrolled,
 * every probe searched against the gallery, one genuine and one impostor pair verified, and
 * the rank-1 rate.
 *
 * <p>Usage: {@code java -cp zelvanfp.jar:<this sample> -Djava.library.path=<folder of
 * libzelvanfp_jni.so> EnrolAndIdentify <list file | FVC folder>}. A list file names one image
 * per line: file, finger position, {@code enrol} or {@code probe}, and the identifier of the
 * image's record (for a probe: its mates' identifiers, separated by commas, when the same finger
 * is enrolled more than once). An FVC folder holds {@code FFF_I.pgm}
 * (finger FFF, impression I): impression 1 is enrolled under FFF, the others are probes.
 */
@SuppressWarnings("removal") // out-values need fresh boxes (new Integer(0)), never shared ones
public final class EnrolAndIdentify {
    /** An image, its finger position, its role, and its record's (or its mates') identifier(s). */
    record Image(Path file, int finger, boolean enrol, String id) {
        /** The identifiers of a probe's mates. */
        List<String> mates() {
            return List.of(id.split(","));
        }
    }

    /** FVC prints have no known finger position: they are all filed as right index fingers. */
    private static final int FVC_FINGER = 2;

    private final TemplateCreator creator = new TemplateCreator();
    private final FpTemplateChecker checker = new FpTemplateChecker();
    private final Matcher matcher = new Matcher();
    private final MatchingParameters parameters = new MatchingParameters(0, 60, 60, 0);
    private long creatorHandle;
    private long checkerHandle;
    private long matcherHandle;

    public static void main(String[] args) throws IOException {
        if (args.length != 1) {
            System.err.println("usage: EnrolAndIdentify <list file | FVC folder>");
            System.exit(2);
        }
        Path source = Paths.get(args[0]);
        List<Image> images = Files.isDirectory(source) ? fvcFolder(source) : listFile(source);
        EnrolAndIdentify sample = new EnrolAndIdentify();
        int status;
        try {
            status = sample.run(images);
        } finally {
            sample.cancel();
        }
        System.exit(status);
    }

    static List<Image> listFile(Path list) throws IOException {
        List<Image> images = new ArrayList<>();
        for (String line : Files.readAllLines(list)) {
            String[] f = line.trim().split("\\s+");
            if (f.length == 4 && !f[0].startsWith("#")) {
                images.add(new Image(list.resolveSibling(f[0]), Integer.parseInt(f[1]), f[2].equals("enrol"), f[3]));
            }
        }
        return images;
    }

    static List<Image> fvcFolder(Path folder) throws IOException {
        Pattern name = Pattern.compile("(\\d+)_(\\d+)\\.pgm");
        try (Stream<Path> files = Files.list(folder)) {
            return files.sorted().map(p -> name.matcher(p.getFileName().toString())).filter(m -> m.matches())
                    .map(m -> new Image(folder.resolve(m.group()), FVC_FINGER, m.group(2).equals("1"), m.group(1)))
                    .collect(Collectors.toList());
        }
    }

    int run(List<Image> images) throws IOException {
        creatorHandle = creator.create_();
        checkerHandle = checker.create_();
        matcherHandle = matcher.create_();
        if (creatorHandle == 0 || checkerHandle == 0) {
            System.out.println("the template creator or checker cannot be created");
            return 1;
        }
        if (matcherHandle == 0) {
            System.out.println("Matcher.create_ gave 0: no matcher in this build of libzelvanfp");
            return 3;
        }
        Map<Image, byte[]> templates = new LinkedHashMap<>();
        for (Image image : images) {
            byte[] t = template(image);
            if (t != null) {
                templates.put(image, t);
            }
        }
        Map<String, Image> enrolled = new LinkedHashMap<>();
        templates.forEach((image, t) -> {
            if (image.enrol()) {
                int code = matcher.insertRecord_(matcherHandle, image.id(), record(image.finger(), t));
                if (code == 0) {
                    enrolled.put(image.id(), image);
                } else {
                    System.out.printf("%s: insertRecord_ gave %d (%s)%n", image.file().getFileName(), code, meaning(code));
                }
            }
        });
        System.out.printf("enrolled %d records%n", matcher.getFinalGallerySize_(matcherHandle));
        int probes = 0;
        int first = 0;
        for (Image probe : images) {
            if (probe.enrol()) {
                continue;
            }
            ++probes; // a probe without a template, or whose search fails, counts as a miss
            byte[] t = templates.get(probe);
            ArrayList<candidates_string> found = t == null ? null : matcher.identify_record_(matcherHandle, parameters, record(probe.finger(), t), 1, 3);
            if (found == null) {
                System.out.printf("probe %s: %s%n", probe.file().getFileName(), t == null ? "no template" : "identify_record_ failed");
                continue;
            }
            boolean hit = !found.isEmpty() && probe.mates().contains(found.get(0).id);
            first += hit ? 1 : 0;
            System.out.printf("probe %-14s mate %-4s %s  best:%s%n", probe.file().getFileName(), probe.id(), hit ? "first" : "MISSED",
                    found.stream().map(c -> String.format(" %s (%.4f)", c.id, c.score)).collect(Collectors.joining()));
        }
        verifyPairs(templates, enrolled);
        System.out.printf("rank-1: %d of %d probes identified first (%.1f %%)%n", first, probes, probes == 0 ? 0.0 : 100.0 * first / probes);
        return 0;
    }

    /** Template of one image, fetched and checked; null (and a line saying why) on failure. */
    byte[] template(Image image) throws IOException {
        Integer size = new Integer(0);
        Byte quality = new Byte((byte) 0);
        byte[] bytes = Files.readAllBytes(image.file());
        int code;
        if (image.file().toString().endsWith(".wsq")) {
            code = creator.createTemplate_(creatorHandle, new WsqImage(image.finger(), bytes.length, bytes), size, quality);
        } else {
            // Binary PGM: "P5", width, height, maxval, one white-space byte, then the pixels.
            String[] header = new String(bytes, 0, Math.min(bytes.length, 64), "ISO-8859-1").split("\\s+", 5);
            int width = Integer.parseInt(header[1]);
            int height = Integer.parseInt(header[2]);
            byte[] pixels = java.util.Arrays.copyOfRange(bytes, bytes.length - width * height, bytes.length);
            code = creator.createTemplate_(creatorHandle, new RawImage(image.finger(), width, height, pixels), size, quality);
        }
        if (code != 0) {
            System.out.printf("%s: createTemplate_ gave %d (%s)%n", image.file().getFileName(), code, meaning(code));
            return null;
        }
        byte[] t = new byte[size.intValue()];
        creator.getTemplate_(creatorHandle, t);
        boolean valid = checker.check_(checkerHandle, t);
        System.out.printf("%-14s finger %2d  %5d bytes  quality %3d  check %s%n", image.file().getFileName(), image.finger(), t.length,
                quality.byteValue(), valid ? "passed" : "FAILED");
        return valid ? t : null;
    }

    /**
     * One genuine and one impostor pair for the first probe with an enrolled mate: the impostor is
     * an enrolled print of another finger, placed at the probe's finger position.
     */
    void verifyPairs(Map<Image, byte[]> templates, Map<String, Image> enrolled) {
        for (Map.Entry<Image, byte[]> e : templates.entrySet()) {
            Image probe = e.getKey();
            Image mate = enrolled.get(probe.mates().get(0));
            Image other = enrolled.values().stream().filter(g -> g.finger() != probe.finger() && !probe.mates().contains(g.id())).findFirst().orElse(null);
            if (probe.enrol() || mate == null || other == null) {
                continue;
            }
            for (Image g : new Image[] {mate, other}) {
                Double similarity = new Double(0);
                long code = matcher.verify_record_(matcherHandle, parameters, record(probe.finger(), e.getValue()),
                        record(probe.finger(), templates.get(g)), similarity);
                System.out.printf("verify %s with %s (%s): %s%n", probe.file().getFileName(), g.file().getFileName(), g == mate ? "genuine" : "impostor",
                        code == 0 ? String.format("similarity %.4f", similarity) : "code " + code + " (" + meaning(code) + ")");
            }
            return;
        }
    }

    /** A one-finger record: element finger - 1 holds the template, the others are absent. */
    static byte[][] record(int finger, byte[] template) {
        byte[][] r = new byte[10][];
        r[finger - 1] = template;
        return r;
    }

    /** The result codes of the zelvan.sdk methods (listed in zelvanfp/ZelvanFinger.h). */
    static String meaning(long code) {
        switch ((int) code) {
            case -1: return "no object, or a bad argument";
            case 2: return "out of memory";
            case 3: return "image larger than 4096 pixels a side";
            case 4: return "bad image";
            case 5: return "extraction failed";
            case 6: return "bad finger position";
            case 7: case 8: case 9: return "WSQ decoding failed";
            case 11: return "bad template";
            case 12: return "nothing to compare";
            case 13: return "bad argument or parameters";
            case 20: return "identifier already enrolled";
            case 23: return "gallery full";
            case 24: return "identifier not enrolled";
            case 100: return "unexpected failure";
            default: return "see the result codes";
        }
    }

    void cancel() {
        matcher.cancel_(matcherHandle);
        checker.cancel_(checkerHandle);
        creator.cancel_(creatorHandle);
        matcherHandle = checkerHandle = creatorHandle = 0;
    }
}
