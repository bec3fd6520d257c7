using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Runtime.Serialization.Json;

namespace Quillmar.Graphics
{
    /// <summary>
    /// Which graphics adapters this Windows x64 machine has, from
    /// quillmar-dxgi-gpu-info.dll. The DLL sits beside the application (or in
    /// runtimes\win-x64\native below it), or <see cref="Load"/> takes its path.
    /// </summary>
    /// <remarks>
    /// The library answers one call at a time and rewrites its texts on later
    /// calls: every member here holds one lock and copies the text it gets
    /// before letting go of it, so threads may share the class. On Windows the
    /// lock is a named mutex of the process that every binding of the library
    /// takes, so other AssemblyLoadContexts and languages are kept apart too.
    /// </remarks>
    public static class GpuInfo
    {
        /// <summary>The DLL's file name (outside Windows, that of the test build of the same source).</summary>
        public static readonly string LibraryName =
            NativeModule.IsWindows ? "quillmar-dxgi-gpu-info.dll" : "libquillmar-dxgi-gpu-info.so";

        // Only reached if the library failed without saying why.
        private const string UnknownReason = "adapter enumeration failed";

        private static readonly string[] Exports =
            { "gpuinfo_version", "gpuinfo_last_error", "gpuinfo_get_json", "gpuinfo_adapter_count", "gpuinfo_vram_mb" };

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

        private static Library loaded;

        /// <summary>
        /// The DLL beside this assembly, or under runtimes\win-x64\native below
        /// it; the application's base folder when the assembly has no file of its
        /// own (loaded from memory, or bundled into a single-file app).
        /// </summary>
        public static string DefaultPath
        {
            get
            {
                var folders = new List<string>();
                string location = typeof(GpuInfo).GetTypeInfo().Assembly.Location;
                if (!string.IsNullOrEmpty(location))
                    folders.Add(Path.GetDirectoryName(location));
                folders.Add(AppContext.BaseDirectory);
                foreach (string folder in folders)
                {
                    string beside = Path.Combine(folder, LibraryName);
                    if (File.Exists(beside))
                        return beside;
                    string native = Path.Combine(folder, "runtimes", "win-x64", "native", LibraryName);
                    if (NativeModule.IsWindows && File.Exists(native))
                        return native;
                }
                return Path.Combine(folders[0], LibraryName);
            }
        }

        /// <summary>
        /// Loads the library from <paramref name="path"/> (default:
        /// <see cref="DefaultPath"/>) and returns its full path. Throws
        /// <see cref="GpuInfoException"/> naming the path when it can't be loaded
        /// or lacks one of the library's calls; the library loaded before stays
        /// in use then. Other members load the default path on first use.
        /// </summary>
        public static string Load(string path = null)
        {
            using (ProcessLock.Hold())
                return LoadLocked(path);
        }

        private static string LoadLocked(string path)
        {
            if (path == null)
                path = DefaultPath;
            if (path.Length == 0)
                throw new ArgumentException("path must not be empty", "path");
            path = Path.GetFullPath(path);
            if (NativeModule.IsWindows && RuntimeInformation.ProcessArchitecture != Architecture.X64)
                throw CannotLoad(path, string.Format("the DLL is 64-bit x64 and this process is {0}",
                    RuntimeInformation.ProcessArchitecture));
            string why;
            IntPtr module = NativeModule.Open(path, out why);
            if (module == IntPtr.Zero)
                throw CannotLoad(path, why);
            var addresses = new IntPtr[Exports.Length];
            for (int i = 0; i < Exports.Length; ++i)
            {
                addresses[i] = NativeModule.Find(module, Exports[i]);
                if (addresses[i] == IntPtr.Zero)
                {
                    NativeModule.Close(module);
                    throw CannotLoad(path, "it lacks the export " + Exports[i]);
                }
            }
            var next = new Library
            {
                Module = module,
                Version = Call<TextCall>(addresses[0]),
                LastError = Call<TextCall>(addresses[1]),
                GetJson = Call<TextCall>(addresses[2]),
                AdapterCount = Call<CountCall>(addresses[3]),
                VramMb = Call<VramCall>(addresses[4]),
            };
            if (loaded != null)
                NativeModule.Close(loaded.Module);
            loaded = next;
            return path;
        }

        private static GpuInfoException CannotLoad(string path, string why)
        {
            return new GpuInfoException(string.Format("cannot load {0}: {1}", path, why));
        }

        private static T Call<T>(IntPtr address) where T : class
        {
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

        /// <summary>The library's version, "1.0.0". Throws <see cref="GpuInfoException"/> if the DLL can't be loaded.</summary>
        public static string Version
        {
            get
            {
                using (ProcessLock.Hold())
                    return Text.Utf8(Current.Version());
            }
        }

        /// <summary>
        /// Why the last enumeration failed, or "" (a report empties it first; the
        /// counting calls leave an earlier failure in place when they succeed).
        /// </summary>
        public static string LastError
        {
            get
            {
                using (ProcessLock.Hold())
                    return Text.Utf8(Current.LastError());
            }
        }

        /// <summary>The library's JSON report, unchanged. Throws <see cref="GpuInfoException"/>.</summary>
        public static string Report()
        {
            return System.Text.Encoding.UTF8.GetString(ReportBytes());
        }

        private static byte[] ReportBytes()
        {
            using (ProcessLock.Hold())
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

        /// <summary>Every adapter DXGI reports, software ones included. Throws <see cref="GpuInfoException"/>.</summary>
        public static IReadOnlyList<Adapter> Adapters()
        {
            return ParseReport(ReportBytes());
        }

        /// <summary>Number of adapters that are not software adapters. Throws <see cref="GpuInfoException"/>.</summary>
        public static int AdapterCount()
        {
            using (ProcessLock.Hold())
            {
                Library library = Current;
                int count = library.AdapterCount();
                if (count < 0)
                    throw Failure(library);
                return count;
            }
        }

        /// <summary>
        /// Dedicated video memory in whole MiB of the adapter at
        /// <paramref name="index"/> (at most int.MaxValue). Throws
        /// <see cref="ArgumentOutOfRangeException"/> when DXGI lists no adapter
        /// there, <see cref="GpuInfoException"/> when it can't be reached.
        /// </summary>
        public static int VramMb(int index)
        {
            using (ProcessLock.Hold())
            {
                Library library = Current;
                int mb = library.VramMb(index);
                if (mb >= 0)
                    return mb;
                // The library says -1 for both; one report answers, so DXGI
                // recovering in between can't turn a failure into "no adapter".
                IntPtr report = library.GetJson();
                if (report == IntPtr.Zero)
                    throw Failure(library);
                if (index >= 0)
                    foreach (Adapter adapter in ParseReport(Text.Bytes(report)))
                        if (adapter.Index == index)
                            return (int)Math.Min(adapter.DedicatedVramMb, int.MaxValue);
                throw new ArgumentOutOfRangeException("index", index, "no adapter at this index");
            }
        }
    }
}
