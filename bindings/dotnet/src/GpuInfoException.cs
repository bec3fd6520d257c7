using System;

namespace Quillmar.GpuInfo
{
    /// <summary>The adapters could not be listed: DXGI could not be reached.</summary>
    public sealed class GpuInfoException : Exception
    {
        public GpuInfoException(string reason) : base(reason)
        {
            Reason = reason;
        }

        /// <summary>The library's last-error text, such as "dxgi.dll not found".</summary>
        public string Reason { get; private set; }
    }
}
