using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.IO;
using System.Runtime.InteropServices;
using System.Runtime.Serialization.Json;

namespace Quillmar.GpuInfo
{
    /// <summary>
    /// Which graphics adapters this Windows x64 machine has, from
    /// quillmar-dxgi-gpu-info.dll. The DLL sits beside this assembly (or in
    /// runtimes\win-x64\native below it, as the NuGet package lays it out), or
    /// Load takes its path.
    /// </summary>
    /// <remarks>
    /// The library answers one call at a time and rewrites its texts on later
    /// calls: every member here holds one lock and copies the text it gets
    /// before letting go of it.
    /// </remarks>
    public static class GpuInfo
    {
        /// <summary>The DLL's file name (outside Windows, that of the test build of the same source).</summary>
        public static readonly string LibraryName =
            NativeLibrary.IsWindows ? "quillmar-dxgi-gpu-info.dll" : "libquillmar-dxgi-gpu-info.so";

        // Only reached if the library failed without saying why.
        private const string UnknownReason = "adapter enumeration failed";

        // The texts are returned as IntPtr: declared as string, the marshaller
        // would free the library's static storage after copying it.
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate IntPtr TextCall();

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int CountCall();

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int VramCall(int index);

        private sealed class Library
        {
            internal IntPtr Module;
            internal TextCall Version, LastError, GetJson;
            internal CountCall AdapterCount;
            internal VramCall VramMb;
        }

        private static readonly object Gate = new object();
        private static Library loaded;

        /// <summary>The DLL beside this assembly, or under runtimes\win-x64\native below it.</summary>
        public static string DefaultPath
        {
            get
            {
                string folder = Path.GetDirectoryName(typeof(GpuInfo).Assembly.Location);
                if (string.IsNullOrEmpty(folder))
                    folder = AppDomain.CurrentDomain.BaseDirectory;
                string beside = Path.Combine(folder, LibraryName);
                string native = Path.Combine(Path.Combine(Path.Combine(Path.Combine(folder, "runtimes"), "win-x64"),
                    "native"), LibraryName);
                return !File.Exists(beside) && NativeLibrary.IsWindows && File.Exists(native) ? native : beside;
            }
        }

        /// <summary>
        /// Loads the library from path (default: DefaultPath) and returns its full
        /// path. Throws DllNotFoundException or EntryPointNotFoundException; the
        /// library loaded before stays in use then.
        /// </summary>
        public static string Load(string path = null)
        {
            lock (Gate)
                return LoadLocked(path);
        }

        private static string LoadLocked(string path)
        {
            if (path == null)
                path = DefaultPath;
            if (path.Length == 0)
                throw new ArgumentException("path must not be empty", "path");
            path = Path.GetFullPath(path);
            IntPtr module = NativeLibrary.Open(path);
            Library next;
            try
            {
                next = new Library
                {
                    Module = module,
                    Version = Export<TextCall>(module, path, "gpuinfo_version"),
                    LastError = Export<TextCall>(module, path, "gpuinfo_last_error"),
                    GetJson = Export<TextCall>(module, path, "gpuinfo_get_json"),
                    AdapterCount = Export<CountCall>(module, path, "gpuinfo_adapter_count"),
                    VramMb = Export<VramCall>(module, path, "gpuinfo_vram_mb"),
                };
            }
            catch
            {
                NativeLibrary.Close(module);
                throw;
            }
            if (loaded != null)
                NativeLibrary.Close(loaded.Module);
            loaded = next;
            return path;
        }

        private static T Export<T>(IntPtr module, string path, string name) where T : class
        {
            IntPtr address = NativeLibrary.Find(module, name);
            if (address == IntPtr.Zero)
                throw new EntryPointNotFoundException(string.Format("{0} lacks the export {1}", path, name));
            return (T)(object)Marshal.GetDelegateForFunctionPointer(address, typeof(T));
        }

        private static Library Current
        {
            get
            {
                if (loaded == null)
                    LoadLocked(null);
                return loaded;
            }
        }

        private static GpuInfoException Failure(Library library)
        {
            string reason = Text.Utf8(library.LastError());
            return new GpuInfoException(reason.Length > 0 ? reason : UnknownReason);
        }

        /// <summary>The library's version, "1.0.0".</summary>
        public static string Version
        {
            get
            {
                lock (Gate)
                    return Text.Utf8(Current.Version());
            }
        }

        /// <summary>Why the last enumeration failed, or "" (Adapters() empties it first).</summary>
        public static string LastError
        {
            get
            {
                lock (Gate)
                    return Text.Utf8(Current.LastError());
            }
        }

        /// <summary>The library's JSON report, unchanged. Throws GpuInfoException.</summary>
        public static string Report()
        {
            return System.Text.Encoding.UTF8.GetString(ReportBytes());
        }

        private static byte[] ReportBytes()
        {
            lock (Gate)
            {
                Library library = Current;
                IntPtr report = library.GetJson();
                if (report == IntPtr.Zero)
                    throw Failure(library);
                return Text.Bytes(report);
            }
        }

        /// <summary>Reads a report as the library writes it (UTF-8).</summary>
        public static IReadOnlyList<Adapter> ParseReport(byte[] report)
        {
            var serializer = new DataContractJsonSerializer(typeof(Report));
            using (var stream = new MemoryStream(report))
                return new ReadOnlyCollection<Adapter>(((Report)serializer.ReadObject(stream)).Adapters);
        }

        /// <summary>Every adapter DXGI reports, software ones included. Throws GpuInfoException.</summary>
        public static IReadOnlyList<Adapter> Adapters()
        {
            return ParseReport(ReportBytes());
        }

        /// <summary>Number of adapters that are not software adapters. Throws GpuInfoException.</summary>
        public static int AdapterCount()
        {
            lock (Gate)
            {
                Library library = Current;
                int count = library.AdapterCount();
                if (count < 0)
                    throw Failure(library);
                return count;
            }
        }

        /// <summary>
        /// Dedicated video memory in whole MiB of the adapter at index, or -1: no
        /// such adapter, or a failed enumeration (LastError tells them apart).
        /// </summary>
        public static int VramMb(int index)
        {
            lock (Gate)
                return Current.VramMb(index);
        }
    }
}
