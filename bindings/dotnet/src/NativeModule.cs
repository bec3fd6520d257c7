using System;
using System.ComponentModel;
using System.Runtime.InteropServices;

namespace Quillmar.Graphics
{
    /// <summary>
    /// Loads a library by its full path and finds its exports: LoadLibraryExW on
    /// Windows, dlopen elsewhere (where only the test build of the library
    /// exists). One code path for both target frameworks: netstandard2.0 has
    /// no System.Runtime.InteropServices.NativeLibrary, and a fixed DllImport
    /// name could not take another path.
    /// </summary>
    internal static class NativeModule
    {
        private const int RTLD_NOW = 2;

        internal static readonly bool IsWindows = RuntimeInformation.IsOSPlatform(OSPlatform.Windows);

        // LoadLibraryExW's flags: the library's own imports come from System32
        // alone, never the search order.
        private const uint LoadLibrarySearchDllLoadDir = 0x100, LoadLibrarySearchSystem32 = 0x800;

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr LoadLibraryExW(string path, IntPtr file, uint flags);

        [DllImport("kernel32", CharSet = CharSet.Ansi, ExactSpelling = true)]
        private static extern IntPtr GetProcAddress(IntPtr module, string name);

        [DllImport("kernel32")]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool FreeLibrary(IntPtr module);

        [DllImport("libdl.so.2")]
        private static extern IntPtr dlopen(string path, int flags);

        [DllImport("libdl.so.2")]
        private static extern IntPtr dlsym(IntPtr handle, string name);

        // Returns libdl's own buffer, which must not be freed: IntPtr, as the
        // library's texts.
        [DllImport("libdl.so.2")]
        private static extern IntPtr dlerror();

        [DllImport("libdl.so.2")]
        private static extern int dlclose(IntPtr handle);

        /// <summary>The module at path, or IntPtr.Zero with the loader's reason in why.</summary>
        internal static IntPtr Open(string path, out string why)
        {
            why = null;
            if (IsWindows)
            {
                IntPtr module = LoadLibraryExW(path, IntPtr.Zero, LoadLibrarySearchDllLoadDir | LoadLibrarySearchSystem32);
                if (module == IntPtr.Zero)
                    why = new Win32Exception(Marshal.GetLastWin32Error()).Message;
                return module;
            }
            IntPtr handle = dlopen(path, RTLD_NOW);
            if (handle == IntPtr.Zero)
                why = Text.Utf8(dlerror());
            return handle;
        }

        internal static IntPtr Find(IntPtr module, string name)
        {
            return IsWindows ? GetProcAddress(module, name) : dlsym(module, name);
        }

        internal static void Close(IntPtr module)
        {
            if (IsWindows)
                FreeLibrary(module);
            else
                dlclose(module);
        }
    }

    internal static class Text
    {
        /// <summary>
        /// Copies the NUL-terminated UTF-8 text at p, which stays the library's,
        /// into a string. Never PtrToStringAnsi: Windows reads that in the ANSI
        /// code page.
        /// </summary>
        internal static string Utf8(IntPtr p)
        {
            return p == IntPtr.Zero ? "" : System.Text.Encoding.UTF8.GetString(Bytes(p));
        }

        internal static byte[] Bytes(IntPtr p)
        {
            int length = 0;
            while (Marshal.ReadByte(p, length) != 0)
                ++length;
            var bytes = new byte[length];
            Marshal.Copy(p, bytes, 0, length);
            return bytes;
        }
    }
}
