package com.quillmar.gpuinfo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
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
            // Where the loaded library's file is, as the system maps it (Linux).
            Path maps = Path.of("/proc/self/maps");
            if (Files.isReadable(maps)) {
                String file = System.mapLibraryName(GpuInfo.LIBRARY_NAME);
                Files.readAllLines(maps).stream().filter(l -> l.contains("/" + file)).findFirst()
                        .ifPresent(l -> System.out.println("mapped " + l.substring(l.indexOf('/'))));
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
