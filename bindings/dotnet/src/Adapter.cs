using System;
using System.Runtime.Serialization;

namespace Quillmar.GpuInfo
{
    /// <summary>One adapter of the library's report; the data member names are the report's keys.</summary>
    [DataContract]
    public sealed class Adapter : IEquatable<Adapter>
    {
        [DataMember(Name = "index", IsRequired = true)] public int Index { get; private set; }
        [DataMember(Name = "name", IsRequired = true)] public string Name { get; private set; }
        [DataMember(Name = "vendor", IsRequired = true)] public string Vendor { get; private set; }
        [DataMember(Name = "vendor_id", IsRequired = true)] public uint VendorId { get; private set; }
        [DataMember(Name = "device_id", IsRequired = true)] public uint DeviceId { get; private set; }
        [DataMember(Name = "dedicated_vram_mb", IsRequired = true)] public long DedicatedVramMb { get; private set; }
        [DataMember(Name = "shared_memory_mb", IsRequired = true)] public long SharedMemoryMb { get; private set; }
        [DataMember(Name = "driver_version", IsRequired = true)] public string DriverVersion { get; private set; }
        /// <summary>1 for Microsoft's software rasterizer, else 0.</summary>
        [DataMember(Name = "software", IsRequired = true)] public int Software { get; private set; }

        public bool Equals(Adapter other)
        {
            return other != null && Index == other.Index && Name == other.Name && Vendor == other.Vendor &&
                   VendorId == other.VendorId && DeviceId == other.DeviceId &&
                   DedicatedVramMb == other.DedicatedVramMb && SharedMemoryMb == other.SharedMemoryMb &&
                   DriverVersion == other.DriverVersion && Software == other.Software;
        }

        public override bool Equals(object obj)
        {
            return Equals(obj as Adapter);
        }

        public override int GetHashCode()
        {
            return Index ^ (int)VendorId ^ (int)(DeviceId << 16) ^ (Name ?? "").GetHashCode();
        }

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
