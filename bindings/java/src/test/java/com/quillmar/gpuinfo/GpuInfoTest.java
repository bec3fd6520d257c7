package com.quillmar.gpuinfo;

import static com.quillmar.gpuinfo.StandIn.use;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quillmar.gpuinfo.StandIn.Call;
import com.quillmar.gpuinfo.StandIn.Case;
import com.quillmar.gpuinfo.StandIn.Failure;
import com.quillmar.gpuinfo.StandIn.Sequence;
import com.quillmar.gpuinfo.StandIn.Step;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Path;
import java.util.List;
import java.util.Properties;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.DisabledOnOs;
import org.junit.jupiter.api.condition.OS;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The binding's real code on the library's own source built as a Linux shared
 * library (the stand-in), scenario by scenario as bindings/testdata/cases.json
 * says.
 */
@DisabledOnOs(value = OS.WINDOWS, disabledReason = "the stand-in is a Linux build; SystemDxgiTest runs there")
class GpuInfoTest {
    /** How long another thread may take to enter a monitor nobody holds. */
    private static final long LOCK_CHECK_MS = 10000;
    @BeforeAll
    static void loadStandIn() {
        GpuInfo.load(StandIn.LIBRARY);
    }

    static List<Case> reachable() {
        return StandIn.reachable();
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("reachable")
    void adaptersAreTheReport(Case c) {
        use(c);
        List<Adapter> adapters = GpuInfo.adapters();
        assertEquals(c.adapters(), adapters);
        assertEquals("", GpuInfo.lastError());
        assertEquals(c.hardwareCount(), GpuInfo.adapterCount());
        assertEquals(c.adapters(), GpuInfo.parseReport(GpuInfo.report()));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("reachable")
    void vramMbAgreesWithTheReportAndRefusesTheIntExtremes(Case c) {
        use(c);
        for (Adapter a : c.adapters()) {
            // The library saturates what an int can't hold.
            assertEquals(Math.min(a.dedicatedVramMb(), Integer.MAX_VALUE), GpuInfo.vramMb(a.index()));
        }
        int count = c.adapters().size();
        for (int index : new int[] {Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            IndexOutOfBoundsException e = assertThrows(IndexOutOfBoundsException.class, () -> GpuInfo.vramMb(index));
            assertEquals("no adapter at index " + index + " of " + count, e.getMessage());
        }
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("reachable")
    void theListCannotBeChanged(Case c) {
        use(c);
        List<Adapter> adapters = GpuInfo.adapters();
        Adapter any = c.adapters().isEmpty() ? null : c.adapters().get(0);
        assertAll(
                () -> assertThrows(UnsupportedOperationException.class, () -> adapters.add(any)),
                () -> assertThrows(UnsupportedOperationException.class, () -> adapters.clear()));
    }

    static Stream<Arguments> errors() {
        return StandIn.ofTheStandIn().stream().flatMap(c -> c.errors().stream().map(e -> Arguments.of(c, e)));
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("errors")
    void callsFailAsTheTableSays(Case c, Call call) {
        use(c);
        RuntimeException e = assertThrows(call.thrown(), call::invoke);
        if (call.failure() == Failure.ENUMERATION) {
            assertEquals(c.reason(), ((GpuInfoException) e).reason());
            assertEquals(c.reason(), e.getMessage());
            assertEquals(c.reason(), GpuInfo.lastError());
            assertEquals(projectVersion(), GpuInfo.version());
        } else {
            assertEquals("no adapter at index " + call.index() + " of " + c.adapters().size(), e.getMessage());
        }
    }

    /** The named mutex is the one every binding of the library takes. */
    @Test
    void theProcessLockHasTheSharedName() {
        assertEquals((String) StandIn.lock().get("name"), ProcessLock.NAME_PATTERN);
        assertEquals(((Long) StandIn.lock().get("wait_ms")).intValue(), ProcessLock.WAIT_MS);
        assertEquals(((String) StandIn.lock().get("name")).replace("{pid}", "4242"), ProcessLock.name(4242));
    }

    /** Another thread takes the binding's lock at once after every call, failed ones too. */
    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("errors")
    void everyCallLetsGoOfTheLock(Case c, Call call) throws InterruptedException {
        use(c);
        assertThrows(call.thrown(), call::invoke);
        assertFreeElsewhere();
        GpuInfo.version();
        assertFreeElsewhere();
        GpuInfo.lastError();
        assertFreeElsewhere();
    }

    private static void assertFreeElsewhere() throws InterruptedException {
        boolean[] taken = {false};
        Thread other = new Thread(() -> {
            synchronized (GpuInfo.class) {
                taken[0] = true;
            }
        });
        other.start();
        other.join(LOCK_CHECK_MS);
        assertTrue(taken[0], "another thread could not take the lock");
    }

    /** The locked section of a platform thread runs where it was called; before JDK 19 none is virtual. */
    @Test
    void aPlatformThreadIsNotVirtual() {
        assertTrue(!ProcessLock.isVirtual(Thread.currentThread()));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("com.quillmar.gpuinfo.StandIn#sequences")
    void sequencesGiveWhatTheTableSays(Sequence sequence) {
        for (Step step : sequence.steps()) {
            use(step.scenario());
            Call call = step.call();
            if (call.failure() == null) {
                assertEquals(call.result().longValue(), ((Number) call.invoke()).longValue(), call.toString());
                continue;
            }
            RuntimeException e = assertThrows(call.thrown(), call::invoke, call.toString());
            if (call.reason() != null) {
                assertEquals(call.reason(), ((GpuInfoException) e).reason(), call.toString());
            }
        }
    }

    @Test
    void aStaleFailureTextDoesNotTurnABadIndexIntoAFailure() {
        Case missing = use(StandIn.CASES.get("missing"));
        assertThrows(GpuInfoException.class, GpuInfo::adapterCount);
        Case example = use(StandIn.CASES.get("example"));
        // The counting calls leave the earlier failure text in place when they succeed...
        assertEquals(example.hardwareCount(), GpuInfo.adapterCount());
        assertEquals(missing.reason(), GpuInfo.lastError());
        // ...so only the report can say that the index, not DXGI, was wrong.
        assertThrows(IndexOutOfBoundsException.class, () -> GpuInfo.vramMb(99));
        assertEquals("", GpuInfo.lastError());
    }

    @Test
    void resultsAreCopiesThatLaterCallsDoNotRewrite() {
        Case example = use(StandIn.CASES.get("example"));
        String report = GpuInfo.report();
        List<Adapter> adapters = GpuInfo.adapters();
        String version = GpuInfo.version();
        use("mixed");
        assertNotEquals(report, GpuInfo.report());
        assertThrows(GpuInfoException.class, () -> {
            use("create_fails");
            GpuInfo.report();
        });
        assertEquals(example.adapters(), GpuInfo.parseReport(report));
        assertEquals(example.adapters(), adapters);
        assertEquals(projectVersion(), version);
    }

    @Test
    void namesArriveAsTheirCodePoints() {
        use("beyond_bmp");
        // One code point each, not a pair of surrogates or replacement marks.
        assertEquals(List.of(0x1f600, 0x20bb7), GpuInfo.adapters().get(0).name().codePoints()
                .filter(cp -> cp > 0x7f).boxed().collect(Collectors.toList()));
    }

    @Test
    void theVersionIsTheProjects() {
        assertEquals(projectVersion(), GpuInfo.version());
    }

    static Stream<Arguments> unloadable() {
        return Stream.concat(
                StandIn.loadErrors().stream().map(e -> Arguments.of("shared: " + e, e.path(), "")),
                Stream.of(
                        Arguments.of("not a library", StandIn.CASE_FILE, ""),
                        Arguments.of("a library without the calls", Path.of("/lib/x86_64-linux-gnu/libm.so.6"),
                                "it lacks gpuinfo_version")));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("unloadable")
    void aLibraryThatCannotBeLoadedIsNamedAndTheOneBeforeStays(String what, Path path, String detail) {
        GpuInfoException e = assertThrows(GpuInfoException.class, () -> GpuInfo.load(path));
        assertTrue(e.getMessage().startsWith("cannot load " + path.toAbsolutePath()), e.getMessage());
        assertTrue(e.getMessage().contains(detail), e.getMessage());
        assertEquals(e.getMessage(), e.reason());
        use("example");
        assertEquals(StandIn.CASES.get("example").adapters(), GpuInfo.adapters());
    }

    @Test
    void aRelativePathIsTakenFromTheWorkingDirectory() {
        GpuInfo.load(Path.of("").toAbsolutePath().relativize(StandIn.LIBRARY));
        use("example");
        assertEquals(StandIn.CASES.get("example").adapters(), GpuInfo.adapters());
    }

    @Test
    void theFirstCallLoadsTheLibraryFromTheClassPath(@TempDir Path folder) throws Exception {
        ChildJvm.Result result = ChildJvm.probe("example", List.of(), List.of(ChildJvm.classPathWithStandIn(folder)));
        assertEquals(0, result.exitCode(), result.output());
        assertTrue(result.output().startsWith("version " + projectVersion() + "\n"), result.output());
        assertEquals(StandIn.CASES.get("example").adapters().size(),
                result.output().lines().filter(l -> l.startsWith("name ")).count(), result.output());
    }

    @Test
    void theReadmesExampleRuns(@TempDir Path folder) throws Exception {
        Path example = Path.of(System.getProperty("gpuinfo.examples"), "ListAdapters.java");
        ChildJvm.Result result = ChildJvm.run("example", List.of("-Dfile.encoding=UTF-8"),
                List.of(ChildJvm.classPathWithStandIn(folder)), List.of(example.toString()));
        assertEquals(0, result.exitCode(), result.output());
        Case c = StandIn.CASES.get("example");
        assertTrue(result.output().startsWith("quillmar-dxgi-gpu-info " + projectVersion() + ", "
                + c.hardwareCount() + " hardware adapter(s)\n"), result.output());
        for (Adapter a : c.adapters()) {
            assertTrue(result.output().contains(a.index() + "  " + a.name() + "  " + a.vendor() + "  "), result.output());
        }
        assertTrue(result.output().endsWith("adapter 0: " + c.adapters().get(0).dedicatedVramMb() + " MiB\n"),
                result.output());
    }

    @Test
    void noLibraryOnTheClassPathIsAFailureNamingWhereItLooked() throws Exception {
        ChildJvm.Result result = ChildJvm.probe("example", List.of(), List.of());
        assertEquals(Probe.LOAD_FAILED, result.exitCode(), result.output());
        String resource = com.sun.jna.Platform.RESOURCE_PREFIX + "/" + System.mapLibraryName(GpuInfo.LIBRARY_NAME);
        assertTrue(result.output().startsWith("GpuInfoException cannot load " + resource + " from the class path"),
                result.output());
    }

    @Test
    void namesAreUtf8WhateverThePlatformCharset() throws Exception {
        for (String scenario : List.of("mixed", "beyond_bmp")) {
            ChildJvm.Result result = ChildJvm.probe(scenario,
                    List.of("-Dfile.encoding=ISO-8859-1", "-Djna.encoding=ISO-8859-1"), List.of(),
                    StandIn.LIBRARY.toString());
            assertEquals(0, result.exitCode(), result.output());
            List<String> names = StandIn.CASES.get(scenario).adapters().stream()
                    .map(a -> "name " + Probe.codePoints(a.name())).toList();
            assertEquals(names, result.output().lines().filter(l -> l.startsWith("name ")).toList(), scenario);
        }
    }

    static String projectVersion() {
        Properties project = new Properties();
        try (InputStream in = GpuInfoTest.class.getResourceAsStream("project.properties")) {
            project.load(in);
        } catch (IOException e) {
            throw new AssertionError(e);
        }
        return project.getProperty("version");
    }
}
