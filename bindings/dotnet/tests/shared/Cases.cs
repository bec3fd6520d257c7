// What the binding must give for each scenario, read from the shared table
// bindings/testdata/cases.json, and the checks that hold it to that. Compiled
// into the Linux xunit tests (against the native stand-in) and into the
// Windows test program (against the real DLL, through the test seam), which
// differ only in how they put a scenario in front of the library.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Text.Json;
using System.Threading;

namespace Quillmar.Graphics.Tests
{
    /// <summary>Puts the library in front of a named scenario ("missing": dxgi.dll can't be loaded).</summary>
    public interface IScenarios
    {
        void Use(string name);
    }

    public sealed class ExpectedError
    {
        public string Call = "";
        public int? Index;
        public string Error = "";

        public override string ToString() => Index is int i ? $"{Call}({i}): {Error}" : $"{Call}: {Error}";
    }

    public sealed class Case
    {
        public string Name = "";
        public List<Adapter>? Adapters;
        public string? Reason;
        public int? AdapterCount;
        public List<ExpectedError> Errors = new List<ExpectedError>();

        public override string ToString() => Name;
    }

    public sealed class Step
    {
        public string Scenario = "";
        public string Call = "";
        public int? Index;
        public string? Error;
        public string? Reason;
        public int? Result;

        public override string ToString() => $"{Scenario}: {Call}{(Index is int i ? $"({i})" : "")}";
    }

    public sealed class Sequence
    {
        public string Name = "";
        public List<Step> Steps = new List<Step>();

        public override string ToString() => Name;
    }

    /// <summary>The rule every whole report of the "changing" scenario follows.</summary>
    /// <summary>
    /// The changing case: what tells a whole report from a torn one. Enumeration
    /// g lists CountBase + g % CountModulus adapters, each name carrying g as the
    /// digits after the template's text before {g}.
    /// </summary>
    public sealed class Generation
    {
        public int CountBase, CountModulus;
        public string NameTemplate = "";

        /// <summary>The one g a whole report carries; null for a torn one.</summary>
        public long? Of(IReadOnlyList<Adapter> report)
        {
            string head = NameTemplate.Substring(0, NameTemplate.IndexOf("{g}", StringComparison.Ordinal));
            var found = report.Select(a => a.Name.StartsWith(head, StringComparison.Ordinal)
                    && long.TryParse(new string(a.Name.Skip(head.Length).TakeWhile(char.IsAsciiDigit).ToArray()), out long g)
                    ? g : (long?)null).Distinct().ToList();
            if (found.Count != 1 || found[0] is not long one || report.Count != CountBase + one % CountModulus)
                return null;
            return one;
        }
    }

    public sealed class CaseFile
    {
        public List<Case> Cases = new List<Case>();
        public List<string> LoadErrorPaths = new List<string>();
        public List<Sequence> Sequences = new List<Sequence>();
        public Generation? Changing;

        public Case this[string name] => Cases.First(c => c.Name == name);

        public static CaseFile Read(string path)
        {
            using JsonDocument doc = JsonDocument.Parse(File.ReadAllBytes(path));
            JsonElement root = doc.RootElement;
            var file = new CaseFile();
            foreach (JsonElement c in root.GetProperty("cases").EnumerateArray())
            {
                if (c.TryGetProperty("generation", out JsonElement gen))
                {
                    JsonElement count = gen.GetProperty("count");
                    file.Changing = new Generation
                    {
                        CountBase = count.GetProperty("base").GetInt32(),
                        CountModulus = count.GetProperty("modulus").GetInt32(),
                        NameTemplate = gen.GetProperty("name").GetString()!,
                    };
                    continue;
                }
                var one = new Case { Name = c.GetProperty("name").GetString()! };
                if (c.TryGetProperty("adapters", out JsonElement adapters))
                    one.Adapters = adapters.EnumerateArray().Select(ReadAdapter).ToList();
                if (c.TryGetProperty("reason", out JsonElement reason))
                    one.Reason = reason.GetString();
                if (c.TryGetProperty("adapter_count", out JsonElement n))
                    one.AdapterCount = n.GetInt32();
                if (c.TryGetProperty("errors", out JsonElement errors))
                    one.Errors = errors.EnumerateArray().Select(e => new ExpectedError
                    {
                        Call = e.GetProperty("call").GetString()!,
                        Index = e.TryGetProperty("index", out JsonElement i) ? i.GetInt32() : (int?)null,
                        Error = e.GetProperty("error").GetString()!,
                    }).ToList();
                file.Cases.Add(one);
            }
            if (root.TryGetProperty("load_errors", out JsonElement loads))
                file.LoadErrorPaths = loads.EnumerateArray().Select(l => l.GetProperty("path").GetString()!).ToList();
            if (root.TryGetProperty("sequences", out JsonElement sequences))
                file.Sequences = sequences.EnumerateArray().Select(q => new Sequence
                {
                    Name = q.GetProperty("name").GetString()!,
                    Steps = q.GetProperty("steps").EnumerateArray().Select(s => new Step
                    {
                        Scenario = s.GetProperty("scenario").GetString()!,
                        Call = s.GetProperty("call").GetString()!,
                        Index = s.TryGetProperty("index", out JsonElement i) ? i.GetInt32() : (int?)null,
                        Error = s.TryGetProperty("error", out JsonElement e) ? e.GetString() : null,
                        Reason = s.TryGetProperty("reason", out JsonElement r) ? r.GetString() : null,
                        Result = s.TryGetProperty("result", out JsonElement v) ? v.GetInt32() : (int?)null,
                    }).ToList(),
                }).ToList();
            return file;
        }

        private static Adapter ReadAdapter(JsonElement a) => new Adapter(
            a.GetProperty("index").GetInt32(), a.GetProperty("name").GetString()!, a.GetProperty("vendor").GetString()!,
            a.GetProperty("vendor_id").GetUInt32(), a.GetProperty("device_id").GetUInt32(),
            a.GetProperty("dedicated_vram_mb").GetInt64(), a.GetProperty("shared_memory_mb").GetInt64(),
            a.GetProperty("driver_version").GetString()!, a.GetProperty("software").GetBoolean());
    }

    public sealed class CheckFailed : Exception
    {
        public CheckFailed(string message) : base(message) { }
    }

    /// <summary>The checks, each throwing CheckFailed (or the binding's own exception) on a fault.</summary>
    public static class Checks
    {
        /// <summary>The version the package says of itself, which set-version.sh writes with the library's.</summary>
        public static readonly string PackageVersion = typeof(GpuInfo).Assembly
            .GetCustomAttribute<AssemblyInformationalVersionAttribute>()!.InformationalVersion;

        /// <summary>Every call of the binding that reaches the library, by name.</summary>
        public static readonly (string Name, Action Run)[] EveryCall =
        {
            ("Version", () => _ = GpuInfo.Version),
            ("LastError", () => _ = GpuInfo.LastError),
            ("Report", () => GpuInfo.Report()),
            ("Adapters", () => GpuInfo.Adapters()),
            ("AdapterCount", () => GpuInfo.AdapterCount()),
            ("VramMb", () => GpuInfo.VramMb(0)),
        };

        public static void That(bool condition, string what)
        {
            if (!condition)
                throw new CheckFailed(what);
        }

        public static void Equal<T>(T want, T got, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(want, got))
                throw new CheckFailed($"{what}: got '{got}', want '{want}'");
        }

        public static TException Throws<TException>(Action action, string what) where TException : Exception
        {
            try
            {
                action();
            }
            catch (TException e)
            {
                return e;
            }
            catch (Exception e)
            {
                throw new CheckFailed($"{what}: {e.GetType().Name} instead of {typeof(TException).Name}: {e.Message}");
            }
            throw new CheckFailed($"{what}: no {typeof(TException).Name}");
        }

        /// <summary>A scenario whose DXGI answers: every call and the report agree with the table.</summary>
        public static void Reachable(Case c, IScenarios scenarios)
        {
            scenarios.Use(c.Name);
            IReadOnlyList<Adapter> list = GpuInfo.Adapters();
            Equal("", GpuInfo.LastError, "LastError after a report");
            That(((ICollection<Adapter>)list).IsReadOnly, "the list can be changed");
            if (c.Adapters == null)
            {
                // Wine's own DXGI: how many; any machine's ("system"): whatever it has.
                if (c.AdapterCount != null)
                    Equal(c.AdapterCount, list.Count, "adapters");
                foreach (Adapter a in list)
                    Equal(a.VendorId == 0x1414, a.Software, $"adapter {a.Index} Software");
            }
            else
            {
                Equal(c.Adapters.Count, list.Count, "adapters");
                for (int i = 0; i < list.Count; ++i)
                    Equal(c.Adapters[i], list[i], "adapter " + i);
            }
            Equal(list.Count(a => !a.Software), GpuInfo.AdapterCount(), "AdapterCount");
            foreach (Adapter a in list)
                Equal((int)Math.Min(a.DedicatedVramMb, int.MaxValue), GpuInfo.VramMb(a.Index), $"VramMb({a.Index})");
            Equal(PackageVersion, GpuInfo.Version, "Version");
            Errors(c, scenarios);
        }

        /// <summary>A scenario whose DXGI can't be reached: every enumerating call throws the reason.</summary>
        public static void Unreachable(Case c, IScenarios scenarios)
        {
            scenarios.Use(c.Name);
            Errors(c, scenarios);
            Equal(c.Reason, GpuInfo.LastError, "LastError");
            Equal(PackageVersion, GpuInfo.Version, "Version");
        }

        /// <summary>Each call the table lists fails with its kind of error.</summary>
        public static void Errors(Case c, IScenarios scenarios)
        {
            foreach (ExpectedError e in c.Errors)
                Fails(e.Call, e.Index, e.Error, c.Reason, e.ToString());
        }

        private static Action Call(string call, int? index)
        {
            switch (call)
            {
                case "report": return () => GpuInfo.Report();
                case "adapters": return () => GpuInfo.Adapters();
                case "adapter_count": return () => GpuInfo.AdapterCount();
                case "vram_mb": return () => GpuInfo.VramMb(index ?? throw new CheckFailed("vram_mb without an index"));
                default: throw new CheckFailed("unknown call " + call);
            }
        }

        private static void Fails(string call, int? index, string error, string? reason, string what)
        {
            Action action = Call(call, index);
            switch (error)
            {
                case "enumeration":
                    GpuInfoException e = Throws<GpuInfoException>(action, what);
                    Equal(reason, e.Reason, what + ": Reason");
                    Equal(reason, e.Message, what + ": Message");
                    break;
                case "index":
                    ArgumentOutOfRangeException r = Throws<ArgumentOutOfRangeException>(action, what);
                    Equal("index", r.ParamName, what + ": ParamName");
                    Equal((object?)index, r.ActualValue, what + ": ActualValue");
                    break;
                default:
                    throw new CheckFailed("unknown error kind " + error);
            }
        }

        /// <summary>Steps in one process, each after what the ones before left behind.</summary>
        public static void Run(Sequence q, IScenarios scenarios)
        {
            foreach (Step s in q.Steps)
            {
                scenarios.Use(s.Scenario);
                if (s.Error != null)
                    Fails(s.Call, s.Index, s.Error, s.Reason, $"{q.Name}, {s}");
                else if (s.Call == "vram_mb")
                    Equal(s.Result, GpuInfo.VramMb(s.Index!.Value), $"{q.Name}, {s}");
                else
                    Call(s.Call, s.Index)();
            }
        }

        /// <summary>
        /// A path that can't be loaded: GpuInfoException naming the path made
        /// absolute, and the library loaded before still answers.
        /// </summary>
        public static void LoadFails(string relative, string folder, IScenarios scenarios)
        {
            scenarios.Use("example");
            string before = GpuInfo.Report();
            string path = Path.GetFullPath(Path.Combine(folder, relative));
            GpuInfoException e = Throws<GpuInfoException>(() => GpuInfo.Load(path), relative);
            That(e.Message.Contains(path), $"the message does not name {path}: {e.Message}");
            Equal(e.Message, e.Reason, "Reason");
            Equal(before, GpuInfo.Report(), "the library loaded before");
        }

        /// <summary>
        /// Threads call Adapters() at once while every enumeration lists
        /// another report: each result must be one whole report. Returns the
        /// number of distinct reports seen.
        /// </summary>
        /// <remarks>
        /// With <paramref name="other"/>, every other thread calls it instead of
        /// this copy's Adapters(): another copy of the binding in the process.
        /// </remarks>
        public static int AllWhole(Generation rule, IScenarios scenarios, int threads, int callsEach,
                                   Func<IReadOnlyList<Adapter>>? other = null)
        {
            scenarios.Use("changing");
            var faults = new List<string>();
            var generations = new HashSet<long>();
            var start = new Barrier(threads);
            var workers = Enumerable.Range(0, threads).Select(t => new Thread(() =>
            {
                Func<IReadOnlyList<Adapter>> call = other != null && t % 2 == 1 ? other : GpuInfo.Adapters;
                start.SignalAndWait();
                long last = 0; // g only grows: each call enumerates after this thread's last one
                for (int n = 0; n < callsEach; ++n)
                {
                    IReadOnlyList<Adapter> got;
                    try
                    {
                        got = call();
                    }
                    catch (Exception e)
                    {
                        // A report torn while it was copied may not even parse.
                        lock (faults)
                            faults.Add(e.GetType().Name + ": " + e.Message);
                        continue;
                    }
                    long? g = rule.Of(got);
                    lock (faults)
                    {
                        if (g is long whole && whole > last)
                            generations.Add(last = whole);
                        else
                            faults.Add($"after generation {last}: [{string.Join("; ", got)}]");
                    }
                }
            })).ToList();
            workers.ForEach(w => w.Start());
            workers.ForEach(w => w.Join());
            That(faults.Count == 0, $"{faults.Count} torn reports, first: {faults.FirstOrDefault()}");
            That(generations.Count == threads * callsEach,
                 $"{generations.Count} distinct reports from {threads * callsEach} calls: enumerations were shared or lost");
            return generations.Count;
        }
    }
}
