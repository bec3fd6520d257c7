using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using Xunit;
using Xunit.Abstractions;

namespace Quillmar.Graphics.Tests
{
    public sealed class ChildResult
    {
        public int ExitCode;
        public string Output = "";
    }

    /// <summary>This test assembly run as a program in a process of its own (Program.Main).</summary>
    public static class Child
    {
        private const int TimeoutMs = 60000;

        public static ChildResult Run(string what)
        {
            // The SDK names the dotnet host it runs the tests with.
            string host = Environment.GetEnvironmentVariable("DOTNET_HOST_PATH") ?? "dotnet";
            var start = new ProcessStartInfo(host)
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            };
            start.ArgumentList.Add("exec");
            start.ArgumentList.Add(typeof(Child).Assembly.Location);
            start.ArgumentList.Add(what);
            start.Environment["LD_LIBRARY_PATH"] = Path.GetDirectoryName(Path.GetFullPath(StandIn.Path));
            // No crash dump or report for the crashes these children are for.
            start.Environment["DOTNET_DbgEnableMiniDump"] = "0";
            using Process child = Process.Start(start)!;
            var err = child.StandardError.ReadToEndAsync();
            string output = child.StandardOutput.ReadToEnd();
            if (!child.WaitForExit(TimeoutMs))
            {
                child.Kill();
                throw new CheckFailed(what + ": the child did not finish");
            }
            return new ChildResult { ExitCode = child.ExitCode, Output = output + err.Result };
        }
    }

    public sealed class CrashTests
    {
        // What a process killed by a signal exits with, as Process reports it.
        private const int KilledBy = 128;
        private const int SigAbrt = 6;
        private const int SigSegv = 11;
        private readonly ITestOutputHelper output;

        public CrashTests(ITestOutputHelper output)
        {
            this.output = output;
        }

        /// <summary>
        /// Declared as string, the text's pointer goes to the marshaller, which
        /// frees it (free() here, CoTaskMemFree on Windows): the library's static
        /// storage. glibc refuses the pointer with SIGABRT and a message that
        /// says "invalid pointer" (free() or munmap_chunk(), by the bytes before
        /// the text), or faults reading them: either way the process dies in
        /// that first call. The binding copies the text and survives.
        /// </summary>
        [Theory]
        [InlineData("string-return")]
        [InlineData("utf8-string-return")]
        [InlineData("string-return-report")]
        public void StringReturnCrashes(string declaration)
        {
            ChildResult run = Child.Run(declaration);
            string[] lines = run.Output.Split('\n');
            bool refused = run.ExitCode == KilledBy + SigAbrt && run.Output.Contains("invalid pointer");
            bool faulted = run.ExitCode == KilledBy + SigSegv;
            Assert.True((refused || faulted) && lines.Count(l => l == "calling") == 1 && !run.Output.Contains("returned"),
                        $"{declaration}: exit {run.ExitCode}, expected to die in its first call:\n{run.Output}");
            output.WriteLine($"{declaration}: exit {run.ExitCode}, {(refused ? lines.First(l => l.Contains("invalid pointer")) : "SIGSEGV")}");
        }

        [Fact]
        public void TheBindingSurvives()
        {
            ChildResult run = Child.Run("binding");
            Assert.True(run.ExitCode == 0, run.Output);
            Assert.Equal(3, run.Output.Split('\n').Count(l => l.StartsWith("returned " + Checks.PackageVersion + " ")));
        }
    }
}
