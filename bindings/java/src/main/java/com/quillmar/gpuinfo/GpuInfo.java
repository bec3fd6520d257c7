package com.quillmar.gpuinfo;

import com.sun.jna.Function;
import com.sun.jna.Library;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Objects;

/**
 * Which graphics adapters this Windows x64 machine has, from
 * {@code quillmar-dxgi-gpu-info.dll} (DXGI) through JNA.
 *
 * <p>The DLL comes from this jar ({@code win32-x86-64/quillmar-dxgi-gpu-info.dll})
 * on the first call, copied into a folder made for this process that only its
 * owner can reach and deleted once it is loaded, or on Windows once it is
 * unloaded (see {@link LibraryFile}), unless {@link #load(Path)} named another
 * copy before. The
 * library answers one call at a time and rewrites its texts on later calls, so
 * every call here holds this class's lock and copies the text before releasing it;
 * on Windows that lock is also a named mutex of the process that every binding
 * of the library takes, so other class loaders and languages are kept apart too.
 *
 * <pre>{@code
 * for (Adapter a : GpuInfo.adapters())
 *     System.out.println(a.name() + ": " + a.dedicatedVramMb() + " MiB");
 * }</pre>
 */
public final class GpuInfo {
    /** The library's file name without its platform's prefix and suffix. */
    static final String LIBRARY_NAME = "quillmar-dxgi-gpu-info";

    // Only reached if the library failed without saying why.
    private static final String UNKNOWN_REASON = "adapter enumeration failed";
    private static final Object[] NO_ARGUMENTS = {};
    // LoadLibraryExW's flags: the DLL's own imports come from System32 alone.
    private static final int LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x100;
    private static final int LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;

    /** The library's five calls, looked up when it is loaded. */
    private record Calls(Function version, Function lastError, Function getJson,
                         Function adapterCount, Function vramMb) {
    }

    private static Calls calls; // guarded by GpuInfo.class
    // The copy taken from this jar while it is still on disk (Windows), and its library.
    private static LibraryFile extracted; // guarded by GpuInfo.class
    private static NativeLibrary extractedLibrary; // guarded by GpuInfo.class
    private static boolean cleanUpAtExit; // guarded by GpuInfo.class

    /** JNA's switch that forbids unpacking native libraries from the class path. */
    static final String NO_UNPACK = "jna.nounpack";

    private GpuInfo() {
    }

    /**
     * Loads the library from {@code path} for every later call. If it can't be
     * loaded, or lacks one of its calls, the library loaded before stays in use.
     *
     * @param path the DLL (made absolute here, never searched for)
     * @throws GpuInfoException naming the path, if it can't be loaded
     */
    public static synchronized void load(Path path) {
        Objects.requireNonNull(path, "path");
        open(path);
        releaseExtracted();
    }

    /** Loads {@code path} for every later call, or throws and keeps the one before. */
    private static NativeLibrary open(Path path) {
        String file = path.toAbsolutePath().toString();
        NativeLibrary library;
        try {
            library = NativeLibrary.getInstance(file, Platform.isWindows()
                    ? Map.of(Library.OPTION_OPEN_FLAGS, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)
                    : Map.of());
        } catch (UnsatisfiedLinkError e) {
            throw new GpuInfoException("cannot load " + file + ": " + e.getMessage(), e);
        }
        calls = new Calls(
                function(library, file, "gpuinfo_version"),
                function(library, file, "gpuinfo_last_error"),
                function(library, file, "gpuinfo_get_json"),
                function(library, file, "gpuinfo_adapter_count"),
                function(library, file, "gpuinfo_vram_mb"));
        return library;
    }

    /** @return the library's version, {@code "1.0.0"} */
    public static synchronized String version() {
        Calls library = library();
        return ProcessLock.hold(() -> copy(library.version.invokePointer(NO_ARGUMENTS)));
    }

    /** @return why the last enumeration failed, or "" ({@link #report()} empties it) */
    public static synchronized String lastError() {
        Calls library = library();
        return ProcessLock.hold(() -> copy(library.lastError.invokePointer(NO_ARGUMENTS)));
    }

    /**
     * @return the library's one-line JSON report of every adapter, unchanged
     * @throws GpuInfoException if the adapters could not be listed
     */
    public static synchronized String report() {
        Calls library = library();
        return ProcessLock.hold(() -> {
            Pointer report = library.getJson.invokePointer(NO_ARGUMENTS);
            if (report == null) {
                throw failure();
            }
            return copy(report);
        });
    }

    /**
     * @return every adapter DXGI lists, software ones included, in its order (unmodifiable)
     * @throws GpuInfoException if the adapters could not be listed
     */
    public static List<Adapter> adapters() {
        return parseReport(report());
    }

    /**
     * @return how many adapters are not software adapters
     * @throws GpuInfoException if the adapters could not be listed
     */
    public static synchronized int adapterCount() {
        Calls library = library();
        return ProcessLock.hold(() -> {
            int count = library.adapterCount.invokeInt(NO_ARGUMENTS);
            if (count < 0) {
                throw failure();
            }
            return count;
        });
    }

    /**
     * @param index an adapter's {@link Adapter#index()}
     * @return its dedicated video memory in whole MiB (at most {@link Integer#MAX_VALUE})
     * @throws IndexOutOfBoundsException if there is no adapter at {@code index}
     * @throws GpuInfoException if the adapters could not be listed
     */
    public static synchronized int vramMb(int index) {
        Calls library = library();
        return ProcessLock.hold(() -> {
            int mb = library.vramMb.invokeInt(new Object[] {index});
            if (mb >= 0) {
                return mb;
            }
            // -1 is both "no such adapter" and "no adapters at all": one report
            // answers, so DXGI recovering in between can't turn a failure into
            // "no adapter".
            Pointer report = library.getJson.invokePointer(NO_ARGUMENTS);
            if (report == null) {
                throw failure();
            }
            List<Adapter> adapters = parseReport(copy(report));
            for (Adapter adapter : adapters) {
                if (index >= 0 && adapter.index() == index) {
                    return (int) Math.min(adapter.dedicatedVramMb(), Integer.MAX_VALUE);
                }
            }
            throw new IndexOutOfBoundsException("no adapter at index " + index + " of " + adapters.size());
        });
    }

    /** The adapters of a report as the library writes it. */
    static List<Adapter> parseReport(String report) {
        Object root;
        try {
            root = Json.parse(report);
        } catch (Json.ParseException e) {
            throw new GpuInfoException("the library's report is not JSON: " + e.getMessage(), e);
        }
        Object entries = root instanceof Map<?, ?> object ? object.get("adapters") : null;
        if (!(entries instanceof List<?> list)) {
            throw unreadable("\"adapters\" is not an array", report);
        }
        List<Adapter> adapters = new ArrayList<>(list.size());
        for (Object item : list) {
            if (!(item instanceof Map<?, ?> entry)) {
                throw unreadable("an adapter is not an object", report);
            }
            adapters.add(new Adapter(
                    (int) number(entry, "index", Integer.MAX_VALUE, report),
                    text(entry, "name", report),
                    text(entry, "vendor", report),
                    number(entry, "vendor_id", Long.MAX_VALUE, report),
                    number(entry, "device_id", Long.MAX_VALUE, report),
                    number(entry, "dedicated_vram_mb", Long.MAX_VALUE, report),
                    number(entry, "shared_memory_mb", Long.MAX_VALUE, report),
                    text(entry, "driver_version", report),
                    flag(entry, "software", report)));
        }
        return List.copyOf(adapters);
    }

    private static Calls library() {
        if (calls == null) {
            ClassLoader loader = GpuInfo.class.getClassLoader();
            loadFromClassPath(loader != null ? loader : ClassLoader.getSystemClassLoader());
        }
        return calls;
    }

    /**
     * The DLL this jar carries, copied by this class into a folder of its own
     * and loaded by that absolute path (JNA's unpacking is not used).
     *
     * @return the copy, deleted already where the system lets a loaded library go
     */
    static synchronized LibraryFile loadFromClassPath(ClassLoader loader) {
        String resource = Platform.RESOURCE_PREFIX + "/" + System.mapLibraryName(LIBRARY_NAME);
        String cannot = "cannot load " + resource + " from the class path (the library is for Windows x64; "
                + "GpuInfo.load(path) takes another copy): ";
        // The user's word that nothing is unpacked from jars, kept though JNA does no unpacking here.
        if (Boolean.getBoolean(NO_UNPACK)) {
            throw new GpuInfoException(cannot + NO_UNPACK + " is set, which forbids unpacking it");
        }
        LibraryFile copy;
        try {
            copy = LibraryFile.extract(loader, resource);
        } catch (IOException e) {
            throw new GpuInfoException(cannot + e.getMessage(), e);
        }
        NativeLibrary library;
        try {
            library = open(copy.file());
        } catch (GpuInfoException e) {
            copy.delete();
            throw e;
        }
        releaseExtracted();
        // Linux and macOS keep a loaded library mapped once its file is gone;
        // Windows refuses, so there the copy goes when the library is disposed.
        if (!copy.delete()) {
            extracted = copy;
            extractedLibrary = library;
            if (!cleanUpAtExit) {
                Runtime.getRuntime().addShutdownHook(new Thread(GpuInfo::releaseAtExit, "quillmar-gpuinfo cleanup"));
                cleanUpAtExit = true;
            }
        }
        return copy;
    }

    /** Unloads and deletes the copy this class extracted, once another library or the JVM's exit replaces it. */
    private static void releaseExtracted() {
        if (extracted == null) {
            return;
        }
        extractedLibrary.dispose();
        extracted.delete();
        extracted = null;
        extractedLibrary = null;
    }

    /**
     * At exit no call may be running into the copy: the monitor is taken, and a
     * later call (a daemon thread's) loads a copy of its own, which stays.
     */
    private static synchronized void releaseAtExit() {
        if (extracted != null) {
            calls = null;
            releaseExtracted();
        }
    }

    private static Function function(NativeLibrary library, String file, String name) {
        try {
            return library.getFunction(name);
        } catch (UnsatisfiedLinkError e) {
            throw new GpuInfoException("cannot load " + file + ": it lacks " + name, e);
        }
    }

    /** The library's text, copied before a later call rewrites it. */
    private static String copy(Pointer text) {
        // The bytes are UTF-8 whatever the platform's charset (JNA's String
        // results would decode them in that).
        byte[] bytes = text.getByteArray(0, (int) text.indexOf(0, (byte) 0));
        return new String(bytes, StandardCharsets.UTF_8);
    }

    private static GpuInfoException failure() {
        String reason = copy(calls.lastError.invokePointer(NO_ARGUMENTS));
        return new GpuInfoException(reason.isEmpty() ? UNKNOWN_REASON : reason);
    }

    private static long number(Map<?, ?> entry, String key, long max, String report) {
        if (!(entry.get(key) instanceof Long value) || value < 0 || value > max) {
            throw unreadable("\"" + key + "\" is not a number from 0 to " + max, report);
        }
        return value;
    }

    private static String text(Map<?, ?> entry, String key, String report) {
        if (!(entry.get(key) instanceof String value)) {
            throw unreadable("\"" + key + "\" is not a string", report);
        }
        return value;
    }

    /** The library writes 0 or 1. */
    private static boolean flag(Map<?, ?> entry, String key, String report) {
        Object value = entry.get(key);
        if (value instanceof Boolean b) {
            return b;
        }
        if (!(value instanceof Long n) || (n != 0 && n != 1)) {
            throw unreadable("\"" + key + "\" is not 0 or 1", report);
        }
        return n == 1;
    }

    private static GpuInfoException unreadable(String what, String report) {
        return new GpuInfoException("unreadable report from the library: " + what + ": " + report);
    }
}
