package com.quillmar.gpuinfo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Collectors;

/**
 * The binding in a JVM of its own, for what one test JVM can't show: the first
 * call's load from the class path, and a platform charset that is not UTF-8.
 * Prints the version and each adapter's name as code points, all ASCII.
 *
 * <pre>java com.quillmar.gpuinfo.Probe [library]</pre>
 */
public final class Probe {
    static final int LOAD_FAILED = 3;

    private Probe() {
    }

    public static void main(String[] args) throws IOException {
        try {
            if (args.length > 0) {
                GpuInfo.load(Path.of(args[0]));
            }
            System.out.println("version " + GpuInfo.version());
            for (Adapter a : GpuInfo.adapters()) {
                System.out.println("name " + codePoints(a.name()));
            }
            // The code the system maps from files other than the JDK's and the
            // system's own (Linux): the library, wherever it was loaded from.
            Path maps = Path.of("/proc/self/maps");
            if (Files.isReadable(maps)) {
                List<String> own = List.of(System.getProperty("java.home") + "/", "/usr/", "/lib");
                Files.readAllLines(maps).stream().filter(l -> l.contains(" r-xp ") && l.contains(" /"))
                        .map(l -> l.substring(l.indexOf(" /") + 1))
                        .filter(file -> own.stream().noneMatch(file::startsWith)).distinct()
                        .forEach(file -> System.out.println("mapped " + file));
            }
        } catch (GpuInfoException e) {
            System.out.println("GpuInfoException " + e.reason());
            System.exit(LOAD_FAILED);
        }
    }

    static String codePoints(String text) {
        return text.codePoints().mapToObj(Integer::toHexString).collect(Collectors.joining(" "));
    }
}
