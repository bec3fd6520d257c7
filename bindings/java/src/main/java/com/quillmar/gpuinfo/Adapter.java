package com.quillmar.gpuinfo;

/**
 * One graphics adapter of the library's report, in DXGI's order.
 *
 * @param index the argument {@link GpuInfo#vramMb(int)} takes for this adapter
 * @param name the adapter's description, as DXGI gives it
 * @param vendor Microsoft, NVIDIA, Intel, AMD, VMware, Red Hat, QEMU or Unknown
 * @param vendorId PCI vendor id (0 to 4294967295)
 * @param deviceId PCI device id (0 to 4294967295)
 * @param dedicatedVramMb dedicated video memory, whole MiB
 * @param sharedMemoryMb shared system memory, whole MiB
 * @param driverVersion user-mode driver version as four numbers, or "" when DXGI gives none
 * @param software whether this is Microsoft's software rasterizer
 */
public record Adapter(
        int index,
        String name,
        String vendor,
        long vendorId,
        long deviceId,
        long dedicatedVramMb,
        long sharedMemoryMb,
        String driverVersion,
        boolean software) {
}
