package com.quillmar.gpuinfo;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The report reader (Json and parseReport) on texts the library writes and texts it never does. */
class ReportReaderTest {
    private static final String ONE = "{\"adapters\":[{\"index\":0,\"name\":\"Example V7 Graphics\",\"vendor\":\"AMD\","
            + "\"vendor_id\":4098,\"device_id\":29631,\"dedicated_vram_mb\":16368,\"shared_memory_mb\":32727,"
            + "\"driver_version\":\"31.0.24033.1003\",\"software\":0}]}";

    static Stream<Arguments> read() {
        return Stream.of(
                Arguments.of("the example", ONE, "Example V7 Graphics"),
                Arguments.of("white space between tokens", ONE.replace(",", " ,\n\t").replace(":", "\r: "),
                        "Example V7 Graphics"),
                Arguments.of("escapes", ONE.replace("Example V7", "\\\"E\\\\x\\/\\u00e9\\ud83d\\ude00\\t"),
                        "\"E\\x/\u00e9\ud83d\ude00\t Graphics"),
                Arguments.of("UTF-8 as it is", ONE.replace("Example", "\u00c9xample \u4e2d"),
                        "\u00c9xample \u4e2d V7 Graphics"),
                Arguments.of("a key a later library adds", ONE.replace("\"software\":0", "\"software\":0,\"luid\":[1,{}]"),
                        "Example V7 Graphics"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource
    void read(String label, String report, String name) {
        assertEquals(List.of(new Adapter(0, name, "AMD", 4098, 29631, 16368, 32727, "31.0.24033.1003", false)),
                GpuInfo.parseReport(report));
    }

    static Stream<Arguments> refused() {
        return Stream.of(
                Arguments.of("software 2", ONE.replace("\"software\":0", "\"software\":2")),
                Arguments.of("software as text", ONE.replace("\"software\":0", "\"software\":\"0\"")),
                Arguments.of("a negative id", ONE.replace("29631", "-1")),
                Arguments.of("a fraction", ONE.replace("16368", "16368.5")),
                Arguments.of("an exponent", ONE.replace("16368", "1e3")),
                Arguments.of("beyond a long", ONE.replace("16368", "99999999999999999999")),
                Arguments.of("an index beyond an int", ONE.replace("\"index\":0", "\"index\":2147483648")),
                Arguments.of("a missing key", ONE.replace(",\"driver_version\":\"31.0.24033.1003\"", "")),
                Arguments.of("no adapters list", ONE.replace("adapters", "list")),
                Arguments.of("an adapter that is no object", "{\"adapters\":[1]}"),
                Arguments.of("not an object", "[]"),
                Arguments.of("cut short", ONE.substring(0, ONE.length() - 1)),
                Arguments.of("text after it", ONE + "x"),
                Arguments.of("a trailing comma", ONE.replace("}]}", "},]}")),
                Arguments.of("a key twice", ONE.replace("\"software\":0", "\"software\":0,\"software\":1")),
                Arguments.of("a leading zero", ONE.replace("4098", "04098")),
                Arguments.of("a raw control character", ONE.replace("Example", "Ex\u0001ample")),
                Arguments.of("an unknown escape", ONE.replace("Example", "\\x41")),
                Arguments.of("a short \\u escape", ONE.replace("Example", "\\u00e")),
                Arguments.of("single quotes", ONE.replace("\"AMD\"", "'AMD'")),
                Arguments.of("deeper than any report", "[".repeat(100) + "]".repeat(100)),
                Arguments.of("nothing", ""));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource
    void refused(String label, String report) {
        GpuInfoException e = assertThrows(GpuInfoException.class, () -> GpuInfo.parseReport(report));
        assertTrue(e.getMessage().startsWith("the library's report is not JSON: ")
                || e.getMessage().startsWith("unreadable report from the library: "), e.getMessage());
    }
}
