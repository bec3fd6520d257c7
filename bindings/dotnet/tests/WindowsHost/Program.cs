// The shared cases on Windows' own .NET against the real DLL, as the NuGet
// package lays it out beside this program. The library reaches its dxgi.dll
// through the test seam (dxgi_seam.dll beside this program), which hands it
// the test double (fake_dxgi.dll, whose preset this program picks), one
// without CreateDXGIFactory, or none.
//
//   Quillmar.GpuInfo.WindowsTests --seam          every case the seam can give
//   Quillmar.GpuInfo.WindowsTests --case <name>   one reachable case, through the system's own DXGI
//   Quillmar.GpuInfo.WindowsTests --squatter <name>  one row of the lock's squatter table
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

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr CreateMutexW(ref SecurityAttributes attributes, bool initialOwner, string name);

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr CreateMutexW(IntPtr attributes, bool initialOwner, string name);

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr OpenMutexW(uint access, bool inherit, string name);

        [DllImport("kernel32")]
        private static extern uint WaitForSingleObject(IntPtr handle, uint ms);

        [DllImport("kernel32")]
        private static extern bool ReleaseMutex(IntPtr handle);

        [DllImport("kernel32")]
        private static extern bool CloseHandle(IntPtr handle);

        [DllImport("kernel32")]
        private static extern IntPtr LocalFree(IntPtr memory);

        [DllImport("advapi32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern bool ConvertStringSecurityDescriptorToSecurityDescriptorW(string sddl, uint revision,
            out IntPtr descriptor, IntPtr size);

        [StructLayout(LayoutKind.Sequential)]
        private struct SecurityAttributes
        {
            public int Length;
            public IntPtr Descriptor;
            public int Inherit;
        }

        private const uint Synchronize = 0x00100000, MutexModifyState = 0x0001;
        private const uint WaitObject0 = 0, WaitAbandoned = 0x80;
        private const uint SddlRevision1 = 1;

        private static string LockName(JsonElement lockRule) => lockRule.GetProperty("name").GetString()!
            .Replace("{pid}", Environment.ProcessId.ToString(System.Globalization.CultureInfo.InvariantCulture));

        /// <summary>Whether another thread takes the lock at once: the call before let go of it.</summary>
        private static bool LockFreeElsewhere(string name)
        {
            bool taken = false;
            var other = new System.Threading.Thread(() =>
            {
                IntPtr mutex = OpenMutexW(Synchronize | MutexModifyState, false, name);
                if (mutex == IntPtr.Zero)
                    return;
                uint got = WaitForSingleObject(mutex, 0);
                taken = got == WaitObject0 || got == WaitAbandoned;
                if (taken)
                    ReleaseMutex(mutex);
                CloseHandle(mutex);
            });
            other.Start();
            other.Join();
            return taken;
        }

        /// <summary>
        /// One row of the squatter table (cases.json "lock" "squatters"), in a
        /// process of its own as the binding keeps its mutex once it has one:
        /// the object is planted before the first call, which must throw
        /// GpuInfoException with the row's reason or succeed; once the squatter
        /// lets go, the next call must succeed, and each success leaves the lock free.
        /// </summary>
        private static int Squatter(string rowName)
        {
            using JsonDocument table = JsonDocument.Parse(File.ReadAllBytes(Seam.Beside("cases.json")));
            JsonElement lockRule = table.RootElement.GetProperty("lock");
            JsonElement row = lockRule.GetProperty("squatters").EnumerateArray()
                .First(r => r.GetProperty("name").GetString() == rowName);
            string makes = row.GetProperty("makes").GetString()!;
            string? error = row.TryGetProperty("error", out JsonElement e) ? e.GetString() : null;
            Type processLock = typeof(GpuInfo).Assembly.GetType("Quillmar.Graphics.ProcessLock")
                               ?? throw new CheckFailed("no ProcessLock");
            (processLock.GetField("waitMs", BindingFlags.NonPublic | BindingFlags.Static)
             ?? throw new CheckFailed("no ProcessLock.waitMs")).SetValue(null, lockRule.GetProperty("test_wait_ms").GetUInt32());
            string name = LockName(lockRule);
            IntPtr planted = IntPtr.Zero;
            System.Threading.Thread? holder = null;
            using var made = new System.Threading.ManualResetEventSlim();
            using var release = new System.Threading.ManualResetEventSlim();
            switch (makes)
            {
                case "event":
                    planted = CreateEventW(IntPtr.Zero, true, false, name);
                    break;
                case "mutex":
                    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(row.GetProperty("sddl").GetString()!,
                            SddlRevision1, out IntPtr descriptor, IntPtr.Zero))
                        throw new CheckFailed("unreadable SDDL");
                    var attributes = new SecurityAttributes
                    {
                        Length = Marshal.SizeOf<SecurityAttributes>(), Descriptor = descriptor, Inherit = 0,
                    };
                    planted = CreateMutexW(ref attributes, false, name);
                    LocalFree(descriptor);
                    break;
                case "held":
                case "abandoned":
                    // Held by a thread that keeps it until told, or ends holding it.
                    holder = new System.Threading.Thread(() =>
                    {
                        planted = CreateMutexW(IntPtr.Zero, true, name);
                        made.Set();
                        if (makes == "held")
                        {
                            release.Wait();
                            ReleaseMutex(planted);
                        }
                    });
                    holder.Start();
                    made.Wait();
                    if (makes == "abandoned")
                        holder.Join();
                    break;
                default:
                    throw new CheckFailed("no squatter kind " + makes);
            }
            if (planted == IntPtr.Zero)
                throw new CheckFailed("the squatter's object was not made");
            Test(rowName + ": the first call", () =>
            {
                string? got = null;
                try
                {
                    Checks.Equal(Checks.PackageVersion, GpuInfo.Version, "Version");
                }
                catch (GpuInfoException thrown)
                {
                    got = thrown.Reason;
                }
                Checks.Equal(error, got, "the lock's failure");
                if (got == null && !LockFreeElsewhere(name))
                    throw new CheckFailed("the lock is still held after the call");
            });
            release.Set();
            holder?.Join();
            CloseHandle(planted);
            Test(rowName + ": the call once the squatter has gone", () =>
            {
                Checks.Equal(Checks.PackageVersion, GpuInfo.Version, "Version");
                if (!LockFreeElsewhere(name))
                    throw new CheckFailed("the lock is still held after the call");
            });
            Console.WriteLine($"{passed} passed, {failed} failed");
            return failed == 0 ? 0 : 1;
        }

        private static int Main(string[] args)
        {
            if (args.Length == 2 && args[0] == "--squatter")
                return Squatter(args[1]);
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
                string lockName;
                using (JsonDocument table = JsonDocument.Parse(File.ReadAllBytes(Seam.Beside("cases.json"))))
                    lockName = LockName(table.RootElement.GetProperty("lock"));
                foreach (string scenario in new[] { "example", "missing" })
                {
                    Test("after every call another thread takes the lock at once: " + scenario, () =>
                    {
                        seam.Use(scenario);
                        foreach ((string call, Action run) in Checks.EveryCall)
                        {
                            try
                            {
                                run();
                            }
                            catch (GpuInfoException)
                            {
                                // What it throws is the cases' business; here only the lock.
                            }
                            if (!LockFreeElsewhere(lockName))
                                throw new CheckFailed("the lock is still held after " + call);
                        }
                    });
                }
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
                Console.Error.WriteLine("usage: Quillmar.GpuInfo.WindowsTests --seam | --case <name> | --squatter <name>");
                return 2;
            }
            Console.WriteLine($"{passed} passed, {failed} failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
