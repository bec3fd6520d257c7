using System;
using System.Runtime.Serialization;

namespace Quillmar.Graphics
{
    /// <summary>One adapter of the library's report; the data member names are the report's keys.</summary>
    [DataContract]
    public sealed class Adapter : IEquatable<Adapter>
    {
        /// <summary>Position in DXGI's order; the index <see cref="GpuInfo.VramMb"/> takes.</summary>
        [DataMember(Name = "index", IsRequired = true)] public int Index { get; private set; }

        /// <summary>The adapter's name as DXGI gives it, trailing spaces removed.</summary>
        [DataMember(Name = "name", IsRequired = true)] public string Name { get; private set; }

        /// <summary>Microsoft, NVIDIA, Intel, AMD, VMware, Red Hat, QEMU or Unknown.</summary>
        [DataMember(Name = "vendor", IsRequired = true)] public string Vendor { get; private set; }

        /// <summary>PCI vendor id.</summary>
        [DataMember(Name = "vendor_id", IsRequired = true)] public uint VendorId { get; private set; }

        /// <summary>PCI device id.</summary>
        [DataMember(Name = "device_id", IsRequired = true)] public uint DeviceId { get; private set; }

        /// <summary>Dedicated video memory, whole MiB.</summary>
        [DataMember(Name = "dedicated_vram_mb", IsRequired = true)] public long DedicatedVramMb { get; private set; }

        /// <summary>Shared system memory, whole MiB.</summary>
        [DataMember(Name = "shared_memory_mb", IsRequired = true)] public long SharedMemoryMb { get; private set; }

        /// <summary>User-mode driver version as four numbers, or "" when DXGI gives none.</summary>
        [DataMember(Name = "driver_version", IsRequired = true)] public string DriverVersion { get; private set; }

        // The report writes 0 or 1.
        [DataMember(Name = "software", IsRequired = true)] private int software;

        /// <summary>True for Microsoft's software rasterizer.</summary>
        public bool Software { get { return software != 0; } }

        /// <summary>An adapter with these values (for tests and for comparing with a report).</summary>
        public Adapter(int index, string name, string vendor, uint vendorId, uint deviceId, long dedicatedVramMb,
                       long sharedMemoryMb, string driverVersion, bool software)
        {
            Index = index;
            Name = name;
            Vendor = vendor;
            VendorId = vendorId;
            DeviceId = deviceId;
            DedicatedVramMb = dedicatedVramMb;
            SharedMemoryMb = sharedMemoryMb;
            DriverVersion = driverVersion;
            this.software = software ? 1 : 0;
        }

        /// <summary>True when every field is the same.</summary>
        public bool Equals(Adapter other)
        {
            return other != null && Index == other.Index && Name == other.Name && Vendor == other.Vendor &&
                   VendorId == other.VendorId && DeviceId == other.DeviceId &&
                   DedicatedVramMb == other.DedicatedVramMb && SharedMemoryMb == other.SharedMemoryMb &&
                   DriverVersion == other.DriverVersion && Software == other.Software;
        }

        /// <summary>True when <paramref name="obj"/> is an adapter with the same fields.</summary>
        public override bool Equals(object obj)
        {
            return Equals(obj as Adapter);
        }

        /// <summary>A hash of the index, ids and name.</summary>
        public override int GetHashCode()
        {
            return Index ^ (int)VendorId ^ (int)(DeviceId << 16) ^ (Name ?? "").GetHashCode();
        }

        /// <summary>One line with every field.</summary>
        public override string ToString()
        {
            return string.Format("{0}: {1} ({2} {3:X4}:{4:X4}), {5} MiB dedicated, {6} MiB shared, driver '{7}', software {8}",
                Index, Name, Vendor, VendorId, DeviceId, DedicatedVramMb, SharedMemoryMb, DriverVersion, Software);
        }
    }

    [DataContract]
    internal sealed class Report
    {
        [DataMember(Name = "adapters", IsRequired = true)] public Adapter[] Adapters { get; set; }
    }
}
