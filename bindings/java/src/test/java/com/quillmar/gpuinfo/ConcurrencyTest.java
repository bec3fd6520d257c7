package com.quillmar.gpuinfo;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
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

    private static final Map<?, ?> RULE = StandIn.generationRule();
    private static final long COUNT_BASE = (Long) ((Map<?, ?>) RULE.get("count")).get("base");
    private static final long COUNT_MODULUS = (Long) ((Map<?, ?>) RULE.get("count")).get("modulus");
    // The g a name carries: the digits after the template's text before {g}.
    private static final Pattern CARRIED = Pattern.compile(
            Pattern.quote(((String) RULE.get("name")).split("\\{g\\}")[0]) + "(\\d+)");

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
                    long last = 0; // g only grows: each call enumerates after this thread's last one
                    for (int call = 0; call < CALLS; ++call) {
                        List<Adapter> adapters = GpuInfo.adapters();
                        long g = generation(adapters);
                        assertTrue(g > last, "torn after generation " + last + ": " + adapters);
                        last = g;
                        generations.add(g);
                    }
                    return null;
                }));
            }
            long mostAdapters = COUNT_BASE + COUNT_MODULUS - 1;
            for (int t = 0; t < OTHER_THREADS; ++t) {
                work.add(pool.submit(() -> {
                    start.await();
                    for (int call = 0; call < CALLS; ++call) {
                        int count = GpuInfo.adapterCount();
                        assertTrue(count >= 1 && count <= mostAdapters, "adapterCount() " + count);
                        assertTrue(GpuInfo.vramMb(0) >= 0, "vramMb(0)");
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

    /** The one g a whole report carries: every name the same g, as many adapters as g gives; -1 if torn. */
    private static long generation(List<Adapter> adapters) {
        Set<Long> found = new HashSet<>();
        for (Adapter a : adapters) {
            Matcher m = CARRIED.matcher(a.name());
            found.add(m.lookingAt() ? Long.parseLong(m.group(1)) : -1L);
        }
        long g = found.size() == 1 ? found.iterator().next() : -1;
        return g >= 0 && adapters.size() == COUNT_BASE + g % COUNT_MODULUS ? g : -1;
    }
}
