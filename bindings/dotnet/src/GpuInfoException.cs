using System;

namespace Quillmar.Graphics
{
    /// <summary>
    /// The adapters could not be listed: DXGI could not be reached, or
    /// quillmar-dxgi-gpu-info.dll itself could not be loaded.
    /// </summary>
    public sealed class GpuInfoException : Exception
    {
        /// <summary>An exception whose message is <paramref name="reason"/>.</summary>
        public GpuInfoException(string reason) : base(reason)
        {
            Reason = reason;
        }

        /// <summary>An exception whose message is <paramref name="reason"/>, caused by <paramref name="inner"/>.</summary>
        public GpuInfoException(string reason, Exception inner) : base(reason, inner)
        {
            Reason = reason;
        }

        /// <summary>
        /// The library's last-error text (such as "dxgi.dll not found") when the
        /// enumeration failed; "cannot load &lt;path&gt;: &lt;why&gt;" when the DLL could not
        /// be loaded.
        /// </summary>
        public string Reason { get; private set; }
    }
}
