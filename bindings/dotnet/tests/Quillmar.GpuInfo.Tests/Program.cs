using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;

namespace Quillmar.Graphics.Tests
{
    // The declarations a new user writes first. Declared as string, the
    // text's pointer is handed to the marshaller, which frees it after the
    // copy: the library's static storage.
    internal static class WrongDeclarations
    {
        private const string Library = "quillmar-dxgi-gpu-info";

        [DllImport(Library, EntryPoint = "gpuinfo_version")]
        internal static extern string VersionAsString();

        [DllImport(Library, EntryPoint = "gpuinfo_version")]
        [return: MarshalAs(UnmanagedType.LPUTF8Str)]
        internal static extern string VersionAsUtf8String();

        [DllImport(Library, EntryPoint = "gpuinfo_get_json")]
        internal static extern string ReportAsString();
    }

    /// <summary>
    /// This test assembly run as a program (dotnet Quillmar.GpuInfo.Tests.dll
    /// &lt;what&gt;): one thing a test wants done in a process of its own.
    /// </summary>
    public static class Program
    {
        internal static readonly Dictionary<string, Func<string>> Declarations = new Dictionary<string, Func<string>>
        {
            { "string-return", () => WrongDeclarations.VersionAsString() },
            { "utf8-string-return", () => WrongDeclarations.VersionAsUtf8String() },
            { "string-return-report", () => WrongDeclarations.ReportAsString() },
            { "binding", () => GpuInfo.Version + " " + GpuInfo.Report().Length },
        };

        public static int Main(string[] args)
        {
            if (args.Length != 1)
            {
                Console.Error.WriteLine("usage: Quillmar.GpuInfo.Tests <string-return|utf8-string-return|string-return-report|binding|missing-library>");
                return 2;
            }
            if (args[0] == "missing-library")
                return MissingLibrary();
            string folder = Environment.GetEnvironmentVariable("LD_LIBRARY_PATH")!;
            GpuInfo.Load(Path.Combine(folder, GpuInfo.LibraryName));
            Func<string> call = Declarations[args[0]];
            for (int i = 0; i < 3; ++i)
            {
                Console.Out.Flush();
                Console.WriteLine("calling");
                Console.Out.Flush();
                Console.WriteLine("returned " + call());
            }
            return 0;
        }

        private static int MissingLibrary()
        {
            foreach ((string name, Action call) in Checks.EveryCall)
            {
                try
                {
                    call();
                    Console.WriteLine($"{name}: returned");
                }
                catch (Exception e)
                {
                    Console.WriteLine($"{name}: {e.GetType().Name}: {e.Message}");
                }
            }
            return 0;
        }
    }
}
