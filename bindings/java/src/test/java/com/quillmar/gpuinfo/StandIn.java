package com.quillmar.gpuinfo;

import com.sun.jna.NativeLibrary;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The library's own source built as a Linux shared library on the native
 * tests' in-memory Windows (tests/support/native/binding_library.cpp), and what each of
 * its scenarios must give (bindings/testdata/cases.json, read here once).
 *
 * <p>Environment: GPUINFO_STAND_IN (the shared library), GPUINFO_CASES (the table).
 */
final class StandIn {
    static final Path LIBRARY = Path.of(required("GPUINFO_STAND_IN")).toAbsolutePath();
    static final Path CASE_FILE = Path.of(required("GPUINFO_CASES")).toAbsolutePath();
    private static final Map<?, ?> TABLE = readTable();

    /** The named mutex every binding takes: its name pattern and wait. */
    static Map<?, ?> lock() {
        return (Map<?, ?>) TABLE.get("lock");
    }
    static final Map<String, Case> CASES = cases();

    /** How a call must fail: DXGI unreachable, no adapter at that index, a library that can't be loaded. */
    enum Failure {
        ENUMERATION, INDEX, LOAD;

        static Failure named(String kind) {
            return valueOf(kind.toUpperCase(java.util.Locale.ROOT));
        }
    }

    /**
     * One call, named as the C export it stands for, and what it must give:
     * a failure (with the library's reason for an enumeration failure) or a result.
     */
    record Call(String call, Integer index, Failure failure, String reason, Long result) {
        /** The binding's call. */
        Object invoke() {
            return switch (call) {
                case "report" -> GpuInfo.report();
                case "adapters" -> GpuInfo.adapters();
                case "adapter_count" -> GpuInfo.adapterCount();
                case "vram_mb" -> GpuInfo.vramMb(index);
                default -> throw new IllegalArgumentException("no call " + call);
            };
        }

        Class<? extends RuntimeException> thrown() {
            return failure == Failure.INDEX ? IndexOutOfBoundsException.class : GpuInfoException.class;
        }

        @Override
        public String toString() {
            return call + (index == null ? "()" : "(" + index + ")") + " -> "
                    + (failure == null ? String.valueOf(result) : failure.toString().toLowerCase(java.util.Locale.ROOT));
        }
    }

    /** A scenario: its adapters when DXGI is reachable, else the library's reason; the calls that must fail. */
    record Case(String name, List<Adapter> adapters, String reason, List<Call> errors) {
        boolean reachable() {
            return adapters != null;
        }

        long hardwareCount() {
            return adapters.stream().filter(a -> !a.software()).count();
        }

        /** The scenario's name, for the tests' names. */
        @Override
        public String toString() {
            return name;
        }
    }

    /** Steps run in order in one process, each under its scenario. */
    record Sequence(String name, List<Step> steps) {
        @Override
        public String toString() {
            return name;
        }
    }

    record Step(String scenario, Call call) {
    }

    /** A library path that must fail to load, relative to the working directory. */
    record LoadError(Path path) {
        @Override
        public String toString() {
            return path.toString();
        }
    }

    private StandIn() {
    }

    /** Replaces the stand-in's DXGI with the named scenario. */
    static void use(String scenario) {
        int known = NativeLibrary.getInstance(LIBRARY.toString())
                .getFunction("gpuinfo_stand_in_scenario").invokeInt(new Object[] {scenario});
        if (known != 1) {
            throw new IllegalArgumentException("the stand-in has no scenario " + scenario);
        }
    }

    static Case use(Case c) {
        use(c.name());
        return c;
    }

    static List<Case> reachable() {
        return CASES.values().stream().filter(Case::reachable).toList();
    }

    /** The scenarios the stand-in has: all but Wine's own DXGI, which only Wine has. */
    static List<Case> ofTheStandIn() {
        return CASES.values().stream().filter(c -> c.reachable() || c.reason() != null).toList();
    }

    static List<Sequence> sequences() {
        List<Sequence> sequences = new ArrayList<>();
        for (Map<?, ?> s : objects(TABLE.get("sequences"))) {
            List<Step> steps = new ArrayList<>();
            for (Map<?, ?> step : objects(s.get("steps"))) {
                steps.add(new Step((String) step.get("scenario"), call(step)));
            }
            sequences.add(new Sequence((String) s.get("name"), steps));
        }
        return sequences;
    }

    static List<LoadError> loadErrors() {
        List<LoadError> errors = new ArrayList<>();
        for (Map<?, ?> e : objects(TABLE.get("load_errors"))) {
            if (Failure.named((String) e.get("error")) != Failure.LOAD) {
                throw new IllegalStateException("a load error that is not 'load': " + e);
            }
            errors.add(new LoadError(Path.of((String) e.get("path"))));
        }
        return errors;
    }

    /** The "changing" scenario's rule: what enumeration number g lists. */
    static Map<?, ?> generationRule() {
        for (Map<?, ?> c : objects(TABLE.get("cases"))) {
            if (c.containsKey("generation")) {
                return (Map<?, ?>) c.get("generation");
            }
        }
        throw new IllegalStateException("no case has a generation rule");
    }

    private static String required(String name) {
        String value = System.getenv(name);
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException(name + " is not set (ctest -L binding-java sets it)");
        }
        return value;
    }

    private static Map<?, ?> readTable() {
        try {
            return (Map<?, ?>) Json.parse(Files.readString(CASE_FILE));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (Json.ParseException e) {
            throw new IllegalStateException(CASE_FILE + " is not JSON: " + e.getMessage(), e);
        }
    }

    /** The table's list of objects, or none when the key is absent. */
    private static List<Map<?, ?>> objects(Object list) {
        List<Map<?, ?>> objects = new ArrayList<>();
        if (list != null) {
            for (Object item : (List<?>) list) {
                objects.add((Map<?, ?>) item);
            }
        }
        return objects;
    }

    private static String text(Map<?, ?> object, String key) {
        return (String) object.get(key);
    }

    private static long number(Map<?, ?> object, String key) {
        return (Long) object.get(key);
    }

    // Read here with the table's own keys, not by the binding's report reader,
    // so a fault in that reader can't agree with itself.
    private static Map<String, Case> cases() {
        Map<String, Case> cases = new LinkedHashMap<>();
        for (Map<?, ?> c : objects(TABLE.get("cases"))) {
            List<Adapter> adapters = null;
            if (c.containsKey("adapters")) {
                adapters = new ArrayList<>();
                for (Map<?, ?> a : objects(c.get("adapters"))) {
                    if (!(a.get("software") instanceof Boolean software)) {
                        throw new IllegalStateException("'software' is not a boolean: " + a);
                    }
                    adapters.add(new Adapter((int) number(a, "index"), text(a, "name"),
                            text(a, "vendor"), number(a, "vendor_id"),
                            number(a, "device_id"), number(a, "dedicated_vram_mb"),
                            number(a, "shared_memory_mb"), text(a, "driver_version"),
                            software));
                }
            }
            String reason = text(c, "reason");
            List<Call> errors = new ArrayList<>();
            for (Map<?, ?> e : objects(c.get("errors"))) {
                Call call = call(e);
                // An enumeration failure carries the case's reason.
                errors.add(new Call(call.call(), call.index(), call.failure(), reason, null));
            }
            String name = text(c, "name");
            cases.put(name, new Case(name, adapters, reason, errors));
        }
        return cases;
    }

    private static Call call(Map<?, ?> step) {
        return new Call(text(step, "call"),
                step.containsKey("index") ? (int) number(step, "index") : null,
                step.containsKey("error") ? Failure.named(text(step, "error")) : null,
                text(step, "reason"),
                step.containsKey("result") ? number(step, "result") : null);
    }
}
