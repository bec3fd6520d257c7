package com.quillmar.gpuinfo;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledOnOs;
import org.junit.jupiter.api.condition.OS;

/**
 * On Windows x64: the DLL from the class path, where the jar carries it (the
 * build's -Dgpuinfo.dll.dir), against the machine's own DXGI. What it lists
 * differs by machine, so the calls are held to agree with each other and
 * with the report's rules.
 */
@EnabledOnOs(value = OS.WINDOWS, architectures = "amd64")
class SystemDxgiTest {
    private static final long MICROSOFT = 0x1414;

    @Test
    void theCallsAgreeWithTheReport() {
        List<Adapter> adapters = GpuInfo.adapters();
        assertEquals("", GpuInfo.lastError());
        assertEquals(GpuInfoTest.projectVersion(), GpuInfo.version());
        assertEquals(adapters.stream().filter(a -> !a.software()).count(), GpuInfo.adapterCount());
        for (int i = 0; i < adapters.size(); ++i) {
            Adapter a = adapters.get(i);
            assertEquals(i, a.index());
            assertEquals(a.vendorId() == MICROSOFT, a.software(), a.toString());
            assertEquals(Math.min(a.dedicatedVramMb(), Integer.MAX_VALUE), GpuInfo.vramMb(i));
            System.out.println(a);
        }
        assertThrows(IndexOutOfBoundsException.class, () -> GpuInfo.vramMb(adapters.size()));
    }
}
