// Checks the jar the build made: its name, that it holds every class of the
// package (compiled for Java 17), the DLL byte for byte as built where JNA
// looks for it on Windows x64, the LICENSE and Maven's copy of the pom, and
// nothing else; and the manifest's version and module name. Lists the jar.
//
//   java CheckJar.java --jar <jar> --dll <dll> --version <v> --sources <package folder> --pom <pom> --license <file>
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.jar.Attributes;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import java.util.regex.Pattern;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;

public final class CheckJar {
    private static final String PACKAGE = "com/quillmar/gpuinfo/";
    private static final String DLL_ENTRY = "win32-x86-64/quillmar-dxgi-gpu-info.dll";
    private static final String MAVEN_DIR = "META-INF/maven/com.quillmar/quillmar-gpuinfo/";
    private static final String MODULE_NAME = "com.quillmar.gpuinfo";
    private static final int JAVA_17_CLASS_VERSION = 61;
    private static final byte[] CLASS_MAGIC = {(byte) 0xCA, (byte) 0xFE, (byte) 0xBA, (byte) 0xBE};

    private static final List<String> failures = new ArrayList<>();

    private static void check(boolean condition, String message) {
        if (!condition) {
            failures.add(message);
            System.out.println("FAIL: " + message);
        }
    }

    public static void main(String[] argv) throws IOException {
        Map<String, String> args = new HashMap<>();
        for (int i = 0; i + 1 < argv.length; i += 2) {
            args.put(argv[i], argv[i + 1]);
        }
        for (String option : List.of("--jar", "--dll", "--version", "--sources", "--pom", "--license")) {
            if (!args.containsKey(option)) {
                System.err.println("missing " + option);
                System.exit(2);
            }
        }
        Path jar = Path.of(args.get("--jar"));
        String version = args.get("--version");
        check(jar.getFileName().toString().equals("quillmar-gpuinfo-" + version + ".jar"), "jar name " + jar);

        Map<String, byte[]> entries = new TreeMap<>();
        int count = 0;
        try (ZipFile zip = new ZipFile(jar.toFile())) {
            for (ZipEntry e : java.util.Collections.list(zip.entries())) {
                ++count;
                try (InputStream in = zip.getInputStream(e)) {
                    entries.put(e.getName(), in.readAllBytes());
                }
            }
        }
        check(entries.size() == count, "an entry twice");

        // What must be there, byte for byte where the source or build says.
        Map<String, byte[]> exact = new TreeMap<>();
        exact.put(DLL_ENTRY, Files.readAllBytes(Path.of(args.get("--dll"))));
        exact.put("META-INF/LICENSE", Files.readAllBytes(Path.of(args.get("--license"))));
        exact.put(MAVEN_DIR + "pom.xml", Files.readAllBytes(Path.of(args.get("--pom"))));
        for (Map.Entry<String, byte[]> e : exact.entrySet()) {
            check(Arrays.equals(entries.get(e.getKey()), e.getValue()),
                    e.getKey() + " is missing or differs from the source and build");
        }

        List<String> sources;
        try (var files = Files.list(Path.of(args.get("--sources")))) {
            sources = files.map(p -> p.getFileName().toString()).filter(n -> n.endsWith(".java"))
                    .map(n -> n.substring(0, n.length() - ".java".length())).sorted().toList();
        }
        for (String type : sources) {
            check(entries.containsKey(PACKAGE + type + ".class"), "no class for " + type + ".java");
        }
        // A class of the package: one per source file, or nested in one.
        Pattern ownClass = Pattern.compile(Pattern.quote(PACKAGE) + "(" + String.join("|", sources)
                + ")(\\$[A-Za-z0-9_$]+)?\\.class");
        for (Map.Entry<String, byte[]> e : entries.entrySet()) {
            String name = e.getKey();
            boolean folder = name.endsWith("/") && e.getValue().length == 0;
            boolean known = folder || exact.containsKey(name) || ownClass.matcher(name).matches()
                    || name.equals(JarFile.MANIFEST_NAME) || name.equals(MAVEN_DIR + "pom.properties");
            check(known, "unexpected entry " + name);
            if (ownClass.matcher(name).matches()) {
                byte[] c = e.getValue();
                int major = c.length >= 8 ? ((c[6] & 0xFF) << 8) | (c[7] & 0xFF) : -1;
                check(c.length >= 8 && Arrays.equals(Arrays.copyOf(c, 4), CLASS_MAGIC) && major == JAVA_17_CLASS_VERSION,
                        name + " is not a Java 17 class (version " + major + ")");
            }
        }

        String properties = new String(entries.getOrDefault(MAVEN_DIR + "pom.properties", new byte[0]));
        check(properties.contains("version=" + version + "\n") && properties.contains("artifactId=quillmar-gpuinfo\n")
                && properties.contains("groupId=com.quillmar\n"), "pom.properties:\n" + properties);

        byte[] manifestBytes = entries.get(JarFile.MANIFEST_NAME);
        check(manifestBytes != null, "no manifest");
        if (manifestBytes != null) {
            Attributes main = new Manifest(new java.io.ByteArrayInputStream(manifestBytes)).getMainAttributes();
            check(version.equals(main.getValue("Implementation-Version")),
                    "Implementation-Version " + main.getValue("Implementation-Version"));
            check(MODULE_NAME.equals(main.getValue("Automatic-Module-Name")),
                    "Automatic-Module-Name " + main.getValue("Automatic-Module-Name"));
        }

        for (Map.Entry<String, byte[]> e : entries.entrySet()) {
            System.out.printf("  %s (%d bytes)%n", e.getKey(), e.getValue().length);
        }
        System.out.printf("%d passed, %d failed%n", failures.isEmpty() ? 1 : 0, failures.isEmpty() ? 0 : 1);
        System.exit(failures.isEmpty() ? 0 : 1);
    }
}
