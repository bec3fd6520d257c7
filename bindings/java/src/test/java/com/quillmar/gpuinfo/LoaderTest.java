package com.quillmar.gpuinfo;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.DisabledOnOs;
import org.junit.jupiter.api.condition.OS;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The first call's copy of the library from the class path: where it is
 * written, who can reach it, that it is loaded by that path and deleted.
 */
@DisabledOnOs(value = OS.WINDOWS, disabledReason = "the stand-in is a Linux build; SystemDxgiTest runs there")
class LoaderTest {
    private static final String RESOURCE = com.sun.jna.Platform.RESOURCE_PREFIX + "/"
            + System.mapLibraryName(GpuInfo.LIBRARY_NAME);
    private static final Path TMP = Path.of(System.getProperty("java.io.tmpdir")).toAbsolutePath();

    @AfterEach
    void backToTheStandIn() {
        GpuInfo.load(StandIn.LIBRARY);
    }

    @Test
    void eachCopyIsInAFreshFolderOnlyItsOwnerCanReach(@TempDir Path classPath) throws Exception {
        try (URLClassLoader loader = loaderOf(ChildJvm.classPathWithStandIn(classPath))) {
            LibraryFile first = LibraryFile.extract(loader, RESOURCE);
            LibraryFile second = LibraryFile.extract(loader, RESOURCE);
            for (LibraryFile copy : List.of(first, second)) {
                assertEquals(TMP, copy.folder().getParent(), copy.folder().toString());
                assertTrue(copy.folder().getFileName().toString().startsWith(LibraryFile.FOLDER_PREFIX),
                        copy.folder().toString());
                assertEquals(LibraryFile.OWNER_ONLY, Files.getPosixFilePermissions(copy.folder()));
                assertEquals(copy.folder().resolve(System.mapLibraryName(GpuInfo.LIBRARY_NAME)), copy.file());
                assertArrayEquals(Files.readAllBytes(StandIn.LIBRARY), Files.readAllBytes(copy.file()));
                assertTrue(copy.delete());
                assertFalse(Files.exists(copy.folder()), copy.folder().toString());
            }
            assertNotEquals(first.folder(), second.folder());
        }
    }

    @Test
    void theCopyIsLoadedByItsPathAndThenDeleted(@TempDir Path classPath) throws Exception {
        try (URLClassLoader loader = loaderOf(ChildJvm.classPathWithStandIn(classPath))) {
            LibraryFile copy = GpuInfo.loadFromClassPath(loader);
            // Linux keeps the loaded library mapped, so nothing waits for the JVM's exit.
            assertFalse(Files.exists(copy.file()), copy.file().toString());
            assertFalse(Files.exists(copy.folder()), copy.folder().toString());
            assertEquals(GpuInfoTest.projectVersion(), GpuInfo.version());
        }
    }

    /**
     * The whole path in a JVM of its own, the library in a jar as users get it:
     * what the system has mapped is the copy, and it is already gone.
     */
    @Test
    void theFirstCallMapsACopyThatIsAlreadyDeleted(@TempDir Path jarFolder) throws Exception {
        ChildJvm.Result result = ChildJvm.probe("example", List.of(), List.of(jarWithStandIn(jarFolder)));
        assertEquals(0, result.exitCode(), result.output());
        List<String> mappedFiles = result.output().lines().filter(l -> l.startsWith("mapped "))
                .map(l -> l.substring("mapped ".length())).toList();
        assertEquals(1, mappedFiles.size(), result.output());
        String mapped = mappedFiles.get(0);
        assertTrue(mapped.endsWith(" (deleted)"), mapped);
        Path folder = Path.of(mapped.substring(0, mapped.length() - " (deleted)".length())).getParent();
        assertTrue(folder.getFileName().toString().startsWith(LibraryFile.FOLDER_PREFIX), mapped);
        assertFalse(Files.exists(folder), mapped);
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "nounpack         | true  | jna.nounpack is set",
        "missing resource | false | it is not on the class path"})
    void noCopyIsAFailureNamingItsCause(String what, boolean noUnpack, String cause, @TempDir Path folder)
            throws Exception {
        List<String> options = noUnpack ? List.of("-D" + GpuInfo.NO_UNPACK + "=true") : List.of();
        List<Path> extra = noUnpack ? List.of(jarWithStandIn(folder)) : List.of();
        ChildJvm.Result result = ChildJvm.probe("example", options, extra);
        assertEquals(Probe.LOAD_FAILED, result.exitCode(), result.output());
        assertTrue(result.output().startsWith("GpuInfoException cannot load " + RESOURCE + " from the class path"),
                result.output());
        assertTrue(result.output().contains(cause), result.output());
    }

    /** A jar holding the stand-in where the binding's jar holds the DLL. */
    private static Path jarWithStandIn(Path folder) throws Exception {
        Path jar = folder.resolve("stand-in.jar");
        try (JarOutputStream out = new JarOutputStream(Files.newOutputStream(jar))) {
            out.putNextEntry(new JarEntry(RESOURCE));
            Files.copy(StandIn.LIBRARY, out);
            out.closeEntry();
        }
        return jar;
    }

    private static URLClassLoader loaderOf(Path folder) throws Exception {
        return new URLClassLoader(new URL[] {folder.toUri().toURL()}, null);
    }
}
