// The shared cases on Windows' own .NET against the real DLL, as the NuGet
// package lays it out beside this program. The library reaches its dxgi.dll
// through the test seam (dxgi_seam.dll beside this program), which hands it
// the test double (fake_dxgi.dll, whose preset this program picks), one
// without CreateDXGIFactory, or none.
//
//   Quillmar.GpuInfo.WindowsTests --seam          every case the seam can give
//   Quillmar.GpuInfo.WindowsTests --case <name>   one reachable case, through the system's own DXGI
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.Loader;
using System.Text.Json;
using System.Runtime.InteropServices;

namespace Quillmar.Graphics.Tests
{
    /// <summary>Scenarios through the seam and the double's own control calls.</summary>
    internal sealed class Seam : IScenarios
    {
        // Larger than the double's struct fake_scenario (40 adapters of a few
        // hundred bytes): the preset is filled in here and handed back as is.
        private const int ScenarioBytes = 1 << 20;
        private const int DoubleMode = 0, NoEntryMode = 1, MissingMode = 2;

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int AttachCall([MarshalAs(UnmanagedType.LPStr)] string library, int mode);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int PresetCall([MarshalAs(UnmanagedType.LPStr)] string name, IntPtr scenario);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void SetCall(IntPtr scenario);

        private readonly AttachCall attach;
        private readonly PresetCall preset;
        private readonly SetCall set;
        private readonly IntPtr scenario = Marshal.AllocHGlobal(ScenarioBytes);

        public Seam()
        {
            IntPtr seam = NativeLibrary.Load(Beside("dxgi_seam.dll"));
            attach = Marshal.GetDelegateForFunctionPointer<AttachCall>(NativeLibrary.GetExport(seam, "dxgi_seam_attach"));
            // The module the seam hands the library: loaded here too, so it stays
            // loaded with its scenario between the library's calls.
            IntPtr fake = NativeLibrary.Load(Beside("fake_dxgi.dll"));
            preset = Marshal.GetDelegateForFunctionPointer<PresetCall>(NativeLibrary.GetExport(fake, "fake_dxgi_preset"));
            set = Marshal.GetDelegateForFunctionPointer<SetCall>(NativeLibrary.GetExport(fake, "fake_dxgi_set_scenario"));
        }

        public static string Beside(string file) => Path.Combine(AppContext.BaseDirectory, file);

        public void Use(string name)
        {
            int mode = name == "missing" ? MissingMode : name == "no_entry" ? NoEntryMode : DoubleMode;
            if (mode == DoubleMode)
            {
                if (preset(name, scenario) != 1)
                    throw new CheckFailed("the double has no preset " + name);
                set(scenario);
            }
            // Again after every Load: a library loaded afresh has its own imports.
            if (attach(GpuInfo.LibraryName, mode) != 1)
                throw new CheckFailed("dxgi_seam_attach failed");
        }
    }

    /// <summary>The system's own DXGI: nothing to set.</summary>
    internal sealed class SystemDxgi : IScenarios
    {
        public void Use(string name) { }
    }

    internal static class Program
    {
        private const int Threads = 8;
        private const int CallsEach = 100;
        private static int passed, failed;

        private static void Test(string name, Action body)
        {
            try
            {
                body();
                ++passed;
                Console.WriteLine("ok - " + name);
            }
            catch (Exception e)
            {
                ++failed;
                Console.WriteLine($"FAIL - {name}: {e}");
            }
        }

        /// <summary>
        /// Adapters() of the package loaded again into an AssemblyLoadContext of
        /// its own: a second GpuInfo class, with its own statics, on the same DLL.
        /// </summary>
        private static Func<IReadOnlyList<Adapter>> SecondCopy()
        {
            var context = new AssemblyLoadContext("second copy of the binding");
            Assembly copy = context.LoadFromAssemblyPath(typeof(GpuInfo).Assembly.Location);
            Type type = copy.GetType(typeof(GpuInfo).FullName!) ?? throw new CheckFailed("no GpuInfo in the copy");
            if (type == typeof(GpuInfo))
                throw new CheckFailed("the second context gave back the first copy");
            var report = (Func<string>)Delegate.CreateDelegate(typeof(Func<string>),
                type.GetMethod(nameof(GpuInfo.Report)) ?? throw new CheckFailed("no Report in the copy"));
            return () => GpuInfo.ParseReport(System.Text.Encoding.UTF8.GetBytes(report()));
        }

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr CreateEventW(IntPtr attributes, bool manualReset, bool initialState, string name);

        /// <summary>
        /// An event made under the lock's name before the binding's first call (by
        /// anyone who guessed the name) leaves it no mutex: every call throws
        /// GpuInfoException for the lock, none runs unlocked. A process of its
        /// own, as the binding makes its lock once.
        /// </summary>
        private static int ForeignLock()
        {
            using JsonDocument table = JsonDocument.Parse(File.ReadAllBytes(Seam.Beside("cases.json")));
            string name = table.RootElement.GetProperty("lock").GetProperty("name").GetString()!
                .Replace("{pid}", Environment.ProcessId.ToString(System.Globalization.CultureInfo.InvariantCulture));
            if (CreateEventW(IntPtr.Zero, true, false, name) == IntPtr.Zero)
                throw new CheckFailed("CreateEventW failed with " + Marshal.GetLastWin32Error());
            foreach ((string call, Action run) in Checks.EveryCall)
            {
                Test(call + " under a foreign lock name", () =>
                {
                    try
                    {
                        run();
                    }
                    catch (GpuInfoException e) when (e.Reason.StartsWith("no process lock: CreateMutexW failed", StringComparison.Ordinal))
                    {
                        return;
                    }
                    throw new CheckFailed("no GpuInfoException for the lock");
                });
            }
            Console.WriteLine($"{passed} passed, {failed} failed");
            return failed == 0 ? 0 : 1;
        }

        private static int Main(string[] args)
        {
            if (args.Length == 1 && args[0] == "--foreign-lock")
                return ForeignLock();
            CaseFile cases = CaseFile.Read(Seam.Beside("cases.json"));
            Console.WriteLine($"{RuntimeInformation.FrameworkDescription}, {RuntimeInformation.OSDescription}, " +
                              $"{RuntimeInformation.ProcessArchitecture}");
            Test("the package's DLL is found beside the program", () =>
            {
                Checks.Equal(Seam.Beside(GpuInfo.LibraryName), GpuInfo.DefaultPath, "DefaultPath");
                Checks.Equal(Checks.PackageVersion, GpuInfo.Version, "Version");
                Checks.Equal(new Version(Checks.PackageVersion + ".0"), typeof(GpuInfo).Assembly.GetName().Version,
                             "AssemblyVersion");
            });
            Test("the process lock has the name every binding shares", () =>
            {
                using JsonDocument table = JsonDocument.Parse(File.ReadAllBytes(Seam.Beside("cases.json")));
                JsonElement shared = table.RootElement.GetProperty("lock");
                Type processLock = typeof(GpuInfo).Assembly.GetType("Quillmar.Graphics.ProcessLock")
                                   ?? throw new CheckFailed("no ProcessLock");
                const BindingFlags inside = BindingFlags.NonPublic | BindingFlags.Static;
                Checks.Equal(shared.GetProperty("name").GetString(),
                             (string?)processLock.GetField("NamePattern", inside)?.GetRawConstantValue(), "NamePattern");
                Checks.Equal((uint)shared.GetProperty("wait_ms").GetInt32(),
                             (uint?)processLock.GetField("WaitMs", inside)?.GetRawConstantValue(), "WaitMs");
                Checks.Equal(shared.GetProperty("name").GetString()!.Replace("{pid}", "4242"),
                             (string?)processLock.GetMethod("Name", inside)?.Invoke(null, new object[] { 4242 }), "Name(4242)");
            });
            if (args.Length == 2 && args[0] == "--case")
            {
                Case c = cases[args[1]];
                Test("reachable: " + c.Name, () => Checks.Reachable(c, new SystemDxgi()));
            }
            else if (args.Length == 1 && args[0] == "--seam")
            {
                var seam = new Seam();
                foreach (Case c in cases.Cases.Where(c => c.Adapters != null))
                    Test("reachable: " + c.Name, () => Checks.Reachable(c, seam));
                foreach (Case c in cases.Cases.Where(c => c.Reason != null))
                    Test("unreachable: " + c.Name, () => Checks.Unreachable(c, seam));
                foreach (Sequence q in cases.Sequences)
                    Test("sequence: " + q.Name, () => Checks.Run(q, seam));
                foreach (string path in cases.LoadErrorPaths)
                    Test("cannot load: " + path, () => Checks.LoadFails(path, AppContext.BaseDirectory, seam));
                Test($"{Threads} threads x {CallsEach} calls of Adapters() on a changing report", () =>
                {
                    Generation rule = cases.Changing ?? throw new CheckFailed("no changing case in the table");
                    int distinct = Checks.AllWhole(rule, seam, Threads, CallsEach);
                    Console.WriteLine($"    {distinct} whole reports, none mixed");
                });
                Test($"{Threads} threads x {CallsEach} calls, half through a second AssemblyLoadContext's copy", () =>
                {
                    Generation rule = cases.Changing ?? throw new CheckFailed("no changing case in the table");
                    int distinct = Checks.AllWhole(rule, seam, Threads, CallsEach, SecondCopy());
                    Console.WriteLine($"    {distinct} whole reports, none mixed");
                });
            }
            else
            {
                Console.Error.WriteLine("usage: Quillmar.GpuInfo.WindowsTests --seam | --case <name> | --foreign-lock");
                return 2;
            }
            Console.WriteLine($"{passed} passed, {failed} failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
