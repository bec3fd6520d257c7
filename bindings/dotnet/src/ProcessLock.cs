using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace Quillmar.Graphics
{
    /// <summary>
    /// The lock held across every call of the library and the copy of its
    /// text. The library's texts are one per process while this class is one
    /// per AssemblyLoadContext, so on Windows it is the named mutex
    /// "Local\quillmar-dxgi-gpu-info-&lt;pid&gt;" that every binding of the
    /// library takes. It is made with the process token's default security,
    /// so another user's object of that name can't be opened; one held for
    /// longer than <see cref="WaitMs"/> (which no call of the library takes)
    /// throws <see cref="GpuInfoException"/> rather than hang. A holder that
    /// ended without letting go counts as let go: every call rewrites the
    /// texts whole.
    /// </summary>
    internal static class ProcessLock
    {
        internal const string NamePattern = @"Local\quillmar-dxgi-gpu-info-{pid}";
        internal const uint WaitMs = 30000;
        private const uint WaitObject0 = 0, WaitAbandoned = 0x80;

        private static readonly object Gate = new object();
        private static IntPtr mutex;

        // Kernel32's own, rather than System.Diagnostics.Process for one number.
        [DllImport("kernel32")]
        private static extern uint GetCurrentProcessId();

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr CreateMutexW(IntPtr attributes, bool initialOwner, string name);

        [DllImport("kernel32")]
        private static extern uint WaitForSingleObject(IntPtr handle, uint ms);

        [DllImport("kernel32")]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool ReleaseMutex(IntPtr handle);

        internal static string Name(int pid)
        {
            return NamePattern.Replace("{pid}", pid.ToString(System.Globalization.CultureInfo.InvariantCulture));
        }

        /// <summary>Takes the lock; disposing the result lets go of it.</summary>
        internal static Held Hold()
        {
            Monitor.Enter(Gate);
            if (!NativeModule.IsWindows)
                return new Held(IntPtr.Zero);
            try
            {
                if (mutex == IntPtr.Zero)
                {
                    IntPtr made = CreateMutexW(IntPtr.Zero, false, Name((int)GetCurrentProcessId()));
                    if (made == IntPtr.Zero)
                        throw new GpuInfoException("no process lock: CreateMutexW failed with " + Marshal.GetLastWin32Error());
                    mutex = made;
                }
                uint got = WaitForSingleObject(mutex, WaitMs);
                if (got != WaitObject0 && got != WaitAbandoned)
                    throw new GpuInfoException("no process lock: WaitForSingleObject gave " + got);
                return new Held(mutex);
            }
            catch
            {
                Monitor.Exit(Gate);
                throw;
            }
        }

        internal struct Held : IDisposable
        {
            private readonly IntPtr held;

            internal Held(IntPtr mutex)
            {
                held = mutex;
            }

            public void Dispose()
            {
                if (held != IntPtr.Zero)
                    ReleaseMutex(held);
                Monitor.Exit(Gate);
            }
        }
    }
}
