package com.quillmar.gpuinfo;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.fasterxml.jackson.databind.JsonNode;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.DisabledOnOs;
import org.junit.jupiter.api.condition.OS;

/**
 * Many threads at once on the "changing" scenario, whose every enumeration g
 * lists a new set of adapters (the rule is bindings/testdata/cases.json's). A
 * call that read the library's text while another rewrote it would mix two
 * generations, or see one generation twice.
 */
@DisabledOnOs(value = OS.WINDOWS, disabledReason = "the stand-in is a Linux build; SystemDxgiTest runs there")
class ConcurrencyTest {
    private static final String SCENARIO = "changing";
    private static final int THREADS = 8;
    private static final int CALLS = 250;
    // Threads that meanwhile make the library enumerate through its other calls.
    private static final int OTHER_THREADS = 2;

    private static final JsonNode RULE = StandIn.generationRule();
    private static final String NAME = RULE.get("name").textValue();
    // The name template's {g} and {i} as numbers: which generation a list claims to be.
    private static final Pattern NAMED = Pattern.compile(
            Pattern.quote(NAME).replace("{g}", "\\E(\\d+)\\Q").replace("{i}", "\\E(\\d+)\\Q"));

    @Test
    void everyResultIsOneWholeReport() throws Exception {
        GpuInfo.load(StandIn.LIBRARY);
        StandIn.use(SCENARIO);
        Set<Long> generations = ConcurrentHashMap.newKeySet();
        CountDownLatch start = new CountDownLatch(1);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS + OTHER_THREADS);
        List<Future<?>> work = new ArrayList<>();
        try {
            for (int t = 0; t < THREADS; ++t) {
                work.add(pool.submit(() -> {
                    start.await();
                    for (int call = 0; call < CALLS; ++call) {
                        long g = wholeGeneration(GpuInfo.adapters());
                        assertTrue(generations.add(g), "generation " + g + " seen twice");
                    }
                    return null;
                }));
            }
            long mostAdapters = RULE.get("count").get("base").longValue() + RULE.get("count").get("modulus").longValue() - 1;
            long firstAdapterMb = RULE.get("dedicated_vram_mb_base").longValue();
            for (int t = 0; t < OTHER_THREADS; ++t) {
                work.add(pool.submit(() -> {
                    start.await();
                    for (int call = 0; call < CALLS; ++call) {
                        int count = GpuInfo.adapterCount();
                        assertTrue(count >= 1 && count <= mostAdapters, "adapterCount() " + count);
                        assertEquals(firstAdapterMb, GpuInfo.vramMb(0));
                    }
                    return null;
                }));
            }
            start.countDown();
            for (Future<?> f : work) {
                f.get();
            }
        } finally {
            pool.shutdownNow();
        }
        assertEquals(THREADS * CALLS, generations.size());
        System.out.printf("%d threads x %d calls of adapters(): %d whole reports, each its own generation;"
                + " %d more threads x %d calls of adapterCount() and vramMb(0) meanwhile%n",
                THREADS, CALLS, generations.size(), OTHER_THREADS, CALLS);
    }

    /** The generation g the list claims to be, once it is exactly what enumeration g lists. */
    private static long wholeGeneration(List<Adapter> adapters) {
        assertTrue(!adapters.isEmpty(), "no adapters");
        Matcher first = NAMED.matcher(adapters.get(0).name());
        assertTrue(first.matches(), adapters.get(0).name());
        long g = Long.parseLong(first.group(1));
        assertEquals(expected(g), adapters, "generation " + g);
        return g;
    }

    private static List<Adapter> expected(long g) {
        JsonNode count = RULE.get("count");
        long n = count.get("base").longValue() + g % count.get("modulus").longValue();
        List<Adapter> adapters = new ArrayList<>();
        for (int i = 0; i < n; ++i) {
            adapters.add(new Adapter(i, NAME.replace("{g}", Long.toString(g)).replace("{i}", Integer.toString(i)),
                    RULE.get("vendor").textValue(), RULE.get("vendor_id").longValue(),
                    g % RULE.get("device_id_modulus").longValue(), RULE.get("dedicated_vram_mb_base").longValue() + i,
                    RULE.get("shared_memory_mb").longValue(), RULE.get("driver_version").textValue(),
                    RULE.get("software").booleanValue()));
        }
        return adapters;
    }
}
