package com.quillmar.gpuinfo;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

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

/**
 * Many threads at once on the "changing" scenario, whose every enumeration
 * lists a new generation g: 1 + g % 4 adapters named "Generation g adapter i",
 * device id g % 65536. A call that read the library's text while another
 * rewrote it would mix two generations, or see one generation twice.
 */
class ConcurrencyTest {
    private static final int THREADS = 8;
    private static final int CALLS = 250;
    // Threads that meanwhile make the library enumerate through its other calls.
    private static final int OTHER_THREADS = 2;
    private static final long NVIDIA = 0x10DE;
    private static final int GENERATIONS_PER_LIST = 4;
    private static final long DEVICE_IDS = 65536;
    private static final Pattern NAME = Pattern.compile("Generation (\\d+) adapter (\\d+)");

    @Test
    void everyResultIsOneWholeReport() throws Exception {
        GpuInfo.load(StandIn.LIBRARY);
        StandIn.use("changing");
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
            for (int t = 0; t < OTHER_THREADS; ++t) {
                work.add(pool.submit(() -> {
                    start.await();
                    for (int call = 0; call < CALLS; ++call) {
                        int count = GpuInfo.adapterCount();
                        assertTrue(count >= 1 && count <= GENERATIONS_PER_LIST, "adapterCount() " + count);
                        assertEquals(1, GpuInfo.vramMb(0));
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

    /** The one generation every adapter of the list belongs to. */
    private static long wholeGeneration(List<Adapter> adapters) {
        assertTrue(!adapters.isEmpty(), "no adapters");
        Matcher first = NAME.matcher(adapters.get(0).name());
        assertTrue(first.matches(), adapters.get(0).name());
        long g = Long.parseLong(first.group(1));
        assertEquals(1 + g % GENERATIONS_PER_LIST, adapters.size(), "adapters of generation " + g);
        for (int i = 0; i < adapters.size(); ++i) {
            Adapter a = adapters.get(i);
            assertEquals(new Adapter(i, "Generation " + g + " adapter " + i, "NVIDIA", NVIDIA, g % DEVICE_IDS,
                    i + 1, 1, "", false), a);
        }
        return g;
    }
}
