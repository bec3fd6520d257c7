using System;
using System.Runtime.InteropServices;
using Xunit;

// One library, one scenario at a time: no two tests may run at once.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Quillmar.Graphics.Tests
{
    /// <summary>The stand-in library, its scenario control, and the shared table.</summary>
    public sealed class StandIn : IScenarios
    {
        public static readonly string Path = Required("GPUINFO_STAND_IN");
        public static readonly CaseFile Cases = CaseFile.Read(Required("GPUINFO_CASES"));
        // Last: its constructor reads the two above.
        public static readonly StandIn Instance = new StandIn();

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int ScenarioCall([MarshalAs(UnmanagedType.LPUTF8Str)] string name);

        private readonly ScenarioCall scenario;

        private StandIn()
        {
            IntPtr library = NativeLibrary.Load(Path);
            scenario = Marshal.GetDelegateForFunctionPointer<ScenarioCall>(
                NativeLibrary.GetExport(library, "gpuinfo_stand_in_scenario"));
            GpuInfo.Load(Path);
        }

        public static string Required(string name) =>
            Environment.GetEnvironmentVariable(name) ?? throw new InvalidOperationException(name + " is not set");

        public void Use(string name)
        {
            if (scenario(name) != 1)
                throw new CheckFailed("the stand-in has no scenario " + name);
        }

        /// <summary>The stand-in loaded again (tests that load another library call this when done).</summary>
        public static void Reload() => GpuInfo.Load(Path);
    }
}
