using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using Xunit;

namespace Quillmar.Graphics.Tests
{
    public sealed class LoadTests : IDisposable
    {
        private readonly StandIn standIn = StandIn.Instance;

        public void Dispose() => StandIn.Reload();

        private static string Folder => Path.GetDirectoryName(typeof(LoadTests).Assembly.Location)!;

        public static IEnumerable<object[]> LoadErrors() => StandIn.Cases.LoadErrorPaths.Select(p => new object[] { p });

        [Theory]
        [MemberData(nameof(LoadErrors))]
        public void TableLoadErrors(string path) => Checks.LoadFails(path, Folder, standIn);

        private static string LoadedLibrary(string fragment) =>
            File.ReadLines("/proc/self/maps").Select(l => l.Split(' ', StringSplitOptions.RemoveEmptyEntries).Last())
                .First(p => Path.GetFileName(p).Contains(fragment));

        [Fact]
        public void WhatCannotBeLoadedNamesThePath()
        {
            standIn.Use("example");
            // A file that is no library, and a library without the calls.
            foreach ((string path, string why) in new[] { (StandIn.Cases.GetType().Assembly.Location, "cannot load"),
                                                          (LoadedLibrary("libc.so"), "lacks the export gpuinfo_version") })
            {
                GpuInfoException e = Assert.Throws<GpuInfoException>(() => GpuInfo.Load(path));
                Assert.Contains(path, e.Message);
                Assert.Contains(why, e.Message);
                Assert.Equal(2, GpuInfo.Adapters().Count);
            }
            Assert.Throws<ArgumentException>(() => GpuInfo.Load(""));
        }

        [Fact]
        public void LoadReturnsTheFullPath()
        {
            string relative = Path.GetRelativePath(Directory.GetCurrentDirectory(), StandIn.Path);
            Assert.Equal(Path.GetFullPath(StandIn.Path), GpuInfo.Load(relative));
        }

        /// <summary>A copy beside the binding's assembly is its default: a second library with its own state.</summary>
        [Fact]
        public void DefaultPathIsBesideTheAssembly()
        {
            string beside = Path.Combine(Path.GetDirectoryName(typeof(GpuInfo).Assembly.Location)!, GpuInfo.LibraryName);
            File.Copy(StandIn.Path, beside, true);
            try
            {
                Assert.Equal(beside, GpuInfo.DefaultPath);
                Assert.Equal(beside, GpuInfo.Load());
                standIn.Use("create_fails");
                Assert.Equal(StandIn.Cases["example"].Adapters!.Count, GpuInfo.Adapters().Count);
            }
            finally
            {
                StandIn.Reload();
                File.Delete(beside);
            }
        }

        /// <summary>An assembly loaded from memory has no file: the app's base folder stands in.</summary>
        [Fact]
        public void DefaultPathOfAnAssemblyWithoutAFile()
        {
            Assembly inMemory = Assembly.Load(File.ReadAllBytes(typeof(GpuInfo).Assembly.Location));
            Assert.Equal("", inMemory.Location);
            object? path = inMemory.GetType(typeof(GpuInfo).FullName!)!.GetProperty(nameof(GpuInfo.DefaultPath))!.GetValue(null);
            Assert.Equal(Path.Combine(AppContext.BaseDirectory, GpuInfo.LibraryName), path);
        }

        /// <summary>No library anywhere: every member throws GpuInfoException naming the default path.</summary>
        [Fact]
        public void MissingLibrary()
        {
            ChildResult run = Child.Run("missing-library");
            Assert.True(run.ExitCode == 0, run.Output);
            string beside = Path.Combine(Path.GetDirectoryName(typeof(GpuInfo).Assembly.Location)!, GpuInfo.LibraryName);
            string[] lines = run.Output.Trim().Split('\n');
            Assert.Equal(new[] { "Version", "LastError", "Report", "Adapters", "AdapterCount", "VramMb" },
                         lines.Select(l => l.Split(':')[0]));
            Assert.All(lines, l => Assert.StartsWith($"{l.Split(':')[0]}: GpuInfoException: cannot load {beside}: ", l));
        }
    }
}
