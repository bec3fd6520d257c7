// The binding's real code in mono against the library's own source built as a
// Linux shared library on the native tests' in-memory Windows
// (tests/support/native/binding_library.cpp). Which scenario the library sees is
// picked through its control call; what each must give is
// bindings/testdata/cases.json.
//
//   mono GpuInfoTests.exe                 every test (GPUINFO_STAND_IN, GPUINFO_CASES)
//   mono GpuInfoTests.exe <declaration>   one call through that declaration, in a child process
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Runtime.Serialization;
using System.Runtime.Serialization.Json;
using System.Text;
using Quillmar.GpuInfo;

[DataContract]
internal sealed class TestCase
{
    [DataMember(Name = "name")] public string Name;
    [DataMember(Name = "adapters")] public Adapter[] Adapters;
    [DataMember(Name = "reason")] public string Reason;
}

[DataContract]
internal sealed class CaseFile
{
    [DataMember(Name = "cases")] public TestCase[] Cases;
}

// The declarations a new user writes first. Declared as string, the text's
// pointer is handed to the marshaller, which frees it after the copy: the
// library's static storage.
internal static class WrongDeclarations
{
    internal const string Library = "quillmar-dxgi-gpu-info";

    [DllImport(Library, EntryPoint = "gpuinfo_version")]
    internal static extern string VersionAsString();

    [DllImport(Library, EntryPoint = "gpuinfo_version")]
    [return: MarshalAs(UnmanagedType.LPUTF8Str)]
    internal static extern string VersionAsUtf8String();

    [DllImport(Library, EntryPoint = "gpuinfo_get_json")]
    internal static extern string ReportAsString();
}

internal static class GpuInfoTests
{
    private const int ChildTimeoutMs = 60000;
    // The marshaller hands the library's static text to free(): glibc either
    // refuses it ("free(): invalid pointer") or faults inside free() itself,
    // depending on the bytes before the text. Either is the crash.
    private const string FreeFailure = "free(): invalid pointer";
    private const string FreeFault = "SIGSEGV";

    private static readonly Dictionary<string, Func<string>> Declarations = new Dictionary<string, Func<string>>
    {
        { "string-return", () => WrongDeclarations.VersionAsString() },
        { "utf8-string-return", () => WrongDeclarations.VersionAsUtf8String() },
        { "string-return-report", () => WrongDeclarations.ReportAsString() },
        { "binding", () => GpuInfo.Version + " " + GpuInfo.Report().Length },
    };

    private static string standIn;
    private static List<TestCase> cases;
    private static int passed, failed;

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    private delegate int ScenarioCall([MarshalAs(UnmanagedType.LPStr)] string name);

    private static ScenarioCall scenario;

    [DllImport("libdl.so.2")]
    private static extern IntPtr dlopen(string path, int flags);

    [DllImport("libdl.so.2")]
    private static extern IntPtr dlsym(IntPtr handle, string name);

    private static void Use(string name)
    {
        if (scenario(name) != 1)
            throw new Exception("the stand-in has no scenario " + name);
    }

    private static void Check(bool condition, string what)
    {
        if (!condition)
            throw new Exception(what);
    }

    private static void Equal<T>(T want, T got, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(want, got))
            throw new Exception(string.Format("{0}: got '{1}', want '{2}'", what, got, want));
    }

    private static TException Throws<TException>(Action action, string what) where TException : Exception
    {
        try
        {
            action();
        }
        catch (TException e)
        {
            return e;
        }
        throw new Exception(what + ": no " + typeof(TException).Name);
    }

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
            Console.WriteLine("FAIL - " + name + ": " + e);
        }
    }

    private static TestCase Case(string name)
    {
        return cases.First(c => c.Name == name);
    }

    private static void Reachable(TestCase c)
    {
        Use(c.Name);
        IReadOnlyList<Adapter> list = GpuInfo.Adapters();
        Equal(c.Adapters.Length, list.Count, "adapters");
        for (int i = 0; i < list.Count; ++i)
            Equal(c.Adapters[i], list[i], "adapter " + i);
        Equal("", GpuInfo.LastError, "LastError after a report");
        Equal(c.Adapters.Count(a => a.Software == 0), GpuInfo.AdapterCount(), "AdapterCount");
        foreach (Adapter a in list)
            Equal((int)Math.Min(a.DedicatedVramMb, int.MaxValue), GpuInfo.VramMb(a.Index), "VramMb(" + a.Index + ")");
        foreach (int index in new[] { list.Count, -1, int.MaxValue, int.MinValue })
            Equal(-1, GpuInfo.VramMb(index), "VramMb(" + index + ")");
        Check(((ICollection<Adapter>)list).IsReadOnly, "the list can be changed");
    }

    private static void Unreachable(TestCase c)
    {
        Use(c.Name);
        foreach (Action call in new Action[] { () => GpuInfo.Adapters(), () => GpuInfo.AdapterCount(),
                                               () => GpuInfo.Report() })
        {
            GpuInfoException e = Throws<GpuInfoException>(call, c.Name);
            Equal(c.Reason, e.Reason, "Reason");
            Equal(c.Reason, e.Message, "Message");
            Equal(c.Reason, GpuInfo.LastError, "LastError");
        }
        foreach (int index in new[] { 0, 1, -1 })
            Equal(-1, GpuInfo.VramMb(index), "VramMb(" + index + ")");
        Equal("1.0.0", GpuInfo.Version, "Version");
    }

    private static void NamesArriveIntact()
    {
        Use("beyond_bmp");
        string name = GpuInfo.Adapters()[0].Name;
        var above = new List<int>();
        for (int i = 0; i < name.Length; i += char.IsSurrogatePair(name, i) ? 2 : 1)
            if (char.ConvertToUtf32(name, i) > 0xFFFF)
                above.Add(char.ConvertToUtf32(name, i));
        Check(above.SequenceEqual(new[] { 0x1F600, 0x20BB7 }), "characters above U+FFFF: " + name);
        Use("mixed");
        byte[] utf8 = Encoding.UTF8.GetBytes(GpuInfo.Adapters()[0].Name);
        byte[] want = Encoding.UTF8.GetBytes("Radeon Pr") .Concat(new byte[] { 0xC3, 0xA9 })
            .Concat(Encoding.UTF8.GetBytes("cision ")).Concat(new byte[] { 0xE2, 0x82, 0xAC, 0x20, 0xE6, 0xBC, 0xA2, 0xE5, 0xAD, 0x97 })
            .ToArray();
        Check(utf8.SequenceEqual(want), "mixed name bytes: " + BitConverter.ToString(utf8));
    }

    private static void LastErrorFollowsTheLibrary()
    {
        Use("create_fails");
        Throws<GpuInfoException>(() => GpuInfo.Adapters(), "create_fails");
        Use("example");
        // Counting leaves the earlier failure text; the report empties it.
        Equal(1, GpuInfo.AdapterCount(), "AdapterCount");
        Equal("CreateDXGIFactory failed", GpuInfo.LastError, "LastError after counting");
        Equal(2, GpuInfo.Adapters().Count, "adapters");
        Equal("", GpuInfo.LastError, "LastError after a report");
    }

    private static string LoadedLibraryPath(string fragment)
    {
        foreach (string line in File.ReadAllLines("/proc/self/maps"))
        {
            string path = line.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries).Last();
            if (Path.GetFileName(path).Contains(fragment))
                return path;
        }
        throw new Exception("no " + fragment + " loaded");
    }

    private static void Loading()
    {
        try
        {
            Equal(Path.GetFullPath(standIn), GpuInfo.Load(standIn), "Load(path)");
            Use("example");
            Throws<DllNotFoundException>(() => GpuInfo.Load(Path.Combine("no-such-folder", GpuInfo.LibraryName)),
                                         "a missing file");
            var e = Throws<EntryPointNotFoundException>(() => GpuInfo.Load(LoadedLibraryPath("libc.so")),
                                                        "a library without the calls");
            Check(e.Message.Contains("lacks the export gpuinfo_version"), e.Message);
            Equal(2, GpuInfo.Adapters().Count, "the library loaded before still answers");
            Throws<ArgumentException>(() => GpuInfo.Load(""), "an empty path");
            // The build lays a copy out beside this assembly and the binding's:
            // a second library with its own state, at its default scenario.
            string beside = Path.Combine(Path.GetDirectoryName(typeof(GpuInfo).Assembly.Location), GpuInfo.LibraryName);
            Equal(beside, GpuInfo.DefaultPath, "DefaultPath");
            Equal(beside, GpuInfo.Load(), "Load()");
            Use("create_fails");
            Equal(Case("example").Adapters.Length, GpuInfo.Adapters().Count, "the copy beside the assembly");
        }
        finally
        {
            GpuInfo.Load(standIn);
        }
    }

    private static string RunChild(string declaration, out int exitCode)
    {
        var start = new ProcessStartInfo(Process.GetCurrentProcess().MainModule.FileName,
                                         "\"" + typeof(GpuInfoTests).Assembly.Location + "\" " + declaration)
        {
            UseShellExecute = false,
            RedirectStandardOutput = true,
            RedirectStandardError = true,
        };
        start.EnvironmentVariables["LD_LIBRARY_PATH"] = Path.GetDirectoryName(Path.GetFullPath(standIn));
        start.EnvironmentVariables["MONO_ENV_OPTIONS"] = "";
        using (Process child = Process.Start(start))
        {
            var err = child.StandardError.ReadToEndAsync();
            string output = child.StandardOutput.ReadToEnd();
            if (!child.WaitForExit(ChildTimeoutMs))
            {
                child.Kill();
                throw new Exception(declaration + ": the child did not finish");
            }
            exitCode = child.ExitCode;
            return output + err.Result;
        }
    }

    private static void StringReturnCrashes()
    {
        foreach (string declaration in new[] { "string-return", "utf8-string-return", "string-return-report" })
        {
            int code;
            string output = RunChild(declaration, out code);
            bool inFree = output.Contains(FreeFailure) || (output.Contains(FreeFault) && output.Contains("free"));
            Check(code != 0 && inFree && !output.Contains("returned"),
                  string.Format("{0}: exit {1}, expected a crash in free():\n{2}", declaration, code, output));
            Console.WriteLine("    {0}: exit {1}, \"{2}\"", declaration, code,
                              output.Contains(FreeFailure) ? FreeFailure : FreeFault + " in free()");
        }
        int exit;
        string survived = RunChild("binding", out exit);
        Check(exit == 0 && survived.StartsWith("returned 1.0.0 "), "the binding: exit " + exit + "\n" + survived);
    }

    private static int Child(string declaration)
    {
        GpuInfo.Load(Path.Combine(Environment.GetEnvironmentVariable("LD_LIBRARY_PATH"), GpuInfo.LibraryName));
        Func<string> call = Declarations[declaration];
        for (int i = 0; i < 3; ++i)
            Console.WriteLine("returned " + call());
        return 0;
    }

    private static int Main(string[] args)
    {
        if (args.Length == 1)
            return Child(args[0]);
        standIn = Environment.GetEnvironmentVariable("GPUINFO_STAND_IN");
        var serializer = new DataContractJsonSerializer(typeof(CaseFile));
        using (var stream = File.OpenRead(Environment.GetEnvironmentVariable("GPUINFO_CASES")))
            cases = ((CaseFile)serializer.ReadObject(stream)).Cases.ToList();
        IntPtr control = dlopen(standIn, 2);
        scenario = (ScenarioCall)Marshal.GetDelegateForFunctionPointer(dlsym(control, "gpuinfo_stand_in_scenario"),
                                                                       typeof(ScenarioCall));
        GpuInfo.Load(standIn);

        Test("Version", () => Equal("1.0.0", GpuInfo.Version, "Version"));
        foreach (TestCase c in cases.Where(c => c.Adapters != null))
            Test("reachable: " + c.Name, () => Reachable(c));
        foreach (TestCase c in cases.Where(c => c.Reason != null))
            Test("unreachable: " + c.Name, () => Unreachable(c));
        Test("names arrive intact", NamesArriveIntact);
        Test("LastError follows the library", LastErrorFollowsTheLibrary);
        Test("Load", Loading);
        Test("a string return frees the library's text and crashes; the binding does not", StringReturnCrashes);
        Console.WriteLine("{0} passed, {1} failed", passed, failed);
        return failed == 0 ? 0 : 1;
    }
}
