package com.quillmar.gpuinfo;

import com.fasterxml.jackson.databind.JsonNode;
import com.fasterxml.jackson.databind.ObjectMapper;
import com.sun.jna.NativeLibrary;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The library's own source built as a Linux shared library on the native
 * tests' in-memory Windows (tests/native/binding_library.cpp), and what each of
 * its scenarios must give (bindings/testdata/cases.json).
 *
 * <p>Environment: GPUINFO_STAND_IN (the shared library), GPUINFO_CASES (the table).
 */
final class StandIn {
    static final Path LIBRARY = Path.of(required("GPUINFO_STAND_IN")).toAbsolutePath();
    static final Path CASE_FILE = Path.of(required("GPUINFO_CASES")).toAbsolutePath();
    static final Map<String, Case> CASES = readCases();

    /** A scenario: its adapters when DXGI is reachable, else the library's reason. */
    record Case(String name, List<Adapter> adapters, String reason) {
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

    /** Only Wine's own DXGI has neither adapters nor a reason: it is never the stand-in's. */
    static List<Case> unreachable() {
        return CASES.values().stream().filter(c -> c.reason() != null).toList();
    }

    private static String required(String name) {
        String value = System.getenv(name);
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException(name + " is not set (ctest -L binding-java sets it)");
        }
        return value;
    }

    // Read here with the table's own keys, not by the binding's report reader,
    // so a fault in that reader can't agree with itself.
    private static Map<String, Case> readCases() {
        JsonNode root;
        try {
            root = new ObjectMapper().readTree(CASE_FILE.toFile());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        Map<String, Case> cases = new LinkedHashMap<>();
        for (JsonNode c : root.get("cases")) {
            List<Adapter> adapters = null;
            if (c.has("adapters")) {
                adapters = new ArrayList<>();
                for (JsonNode a : c.get("adapters")) {
                    JsonNode software = a.get("software");
                    adapters.add(new Adapter(a.get("index").intValue(), a.get("name").textValue(),
                            a.get("vendor").textValue(), a.get("vendor_id").longValue(),
                            a.get("device_id").longValue(), a.get("dedicated_vram_mb").longValue(),
                            a.get("shared_memory_mb").longValue(), a.get("driver_version").textValue(),
                            software.isBoolean() ? software.booleanValue() : software.intValue() == 1));
                }
            }
            String reason = c.has("reason") ? c.get("reason").textValue() : null;
            cases.put(c.get("name").textValue(), new Case(c.get("name").textValue(), adapters, reason));
        }
        return cases;
    }
}
