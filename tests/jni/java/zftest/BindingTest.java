package zftest;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * Driver of the Java binding tests, run in the JVM with -Xcheck:jni. Usage:
 * {@code BindingTest <group> <tests/data folder> <shared data folder>}, group one of
 * conversions, templates, cycles, matcher. Exit 0 when every check passed, 1 on a failure,
 * 77 when the group was skipped (the reason is printed).
 */
public final class BindingTest {
    private BindingTest() {}

    public static void main(String[] args) {
        String group = args[0];
        Path testData = Paths.get(args[1]);
        Path shared = Paths.get(args[2]);
        Harness h = new Harness();
        try {
            switch (group) {
                case "conversions":
                    new ConversionTests(h).run();
                    break;
                case "templates":
                    new EngineTests(h, testData, shared).templates();
                    break;
                case "cycles":
                    new EngineTests(h, testData, shared).cycles();
                    break;
                case "matcher":
                    new EngineTests(h, testData, shared).matcher();
                    break;
                default:
                    throw new IllegalArgumentException("unknown group " + group);
            }
        } catch (Harness.Skip s) {
            System.out.println("SKIPPED: " + s.getMessage());
            System.exit(77);
        }
        System.exit(h.finish(group));
    }

    static boolean exists(Path p) {
        return Files.isReadable(p);
    }
}
