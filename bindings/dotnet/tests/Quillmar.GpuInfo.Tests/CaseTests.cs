using System.Collections.Generic;
using System.Linq;
using Xunit;

namespace Quillmar.Graphics.Tests
{
    /// <summary>Every case of the shared table, on the stand-in.</summary>
    public sealed class CaseTests
    {
        private readonly StandIn standIn = StandIn.Instance;

        public static IEnumerable<object[]> ReachableCases() =>
            StandIn.Cases.Cases.Where(c => c.Adapters != null).Select(c => new object[] { c.Name });

        public static IEnumerable<object[]> UnreachableCases() =>
            StandIn.Cases.Cases.Where(c => c.Reason != null).Select(c => new object[] { c.Name });

        public static IEnumerable<object[]> Sequences() =>
            StandIn.Cases.Sequences.Select(q => new object[] { q.Name });

        [Theory]
        [MemberData(nameof(ReachableCases))]
        public void Reachable(string name) => Checks.Reachable(StandIn.Cases[name], standIn);

        [Theory]
        [MemberData(nameof(UnreachableCases))]
        public void Unreachable(string name) => Checks.Unreachable(StandIn.Cases[name], standIn);

        [Theory]
        [MemberData(nameof(Sequences))]
        public void Sequence(string name) => Checks.Run(StandIn.Cases.Sequences.First(q => q.Name == name), standIn);

        [Fact]
        public void NamesArriveIntact()
        {
            standIn.Use("beyond_bmp");
            string name = GpuInfo.Adapters()[0].Name;
            var above = new List<int>();
            for (int i = 0; i < name.Length; i += char.IsSurrogatePair(name, i) ? 2 : 1)
                if (char.ConvertToUtf32(name, i) > 0xFFFF)
                    above.Add(char.ConvertToUtf32(name, i));
            Assert.Equal(new[] { 0x1F600, 0x20BB7 }, above);
            standIn.Use("mixed");
            Assert.Equal("52-61-64-65-6F-6E-20-50-72-C3-A9-63-69-73-69-6F-6E-20-E2-82-AC-20-E6-BC-A2-E5-AD-97",
                         System.BitConverter.ToString(System.Text.Encoding.UTF8.GetBytes(GpuInfo.Adapters()[0].Name)));
        }

        [Fact]
        public void LastErrorFollowsTheLibrary()
        {
            standIn.Use("create_fails");
            Assert.Throws<GpuInfoException>(() => GpuInfo.Adapters());
            standIn.Use("example");
            // Counting leaves the earlier failure text; the report empties it.
            Assert.Equal(1, GpuInfo.AdapterCount());
            Assert.Equal("CreateDXGIFactory failed", GpuInfo.LastError);
            Assert.Equal(2, GpuInfo.Adapters().Count);
            Assert.Equal("", GpuInfo.LastError);
        }

        [Fact]
        public void ResultsAreCopies()
        {
            standIn.Use("example");
            string report = GpuInfo.Report();
            IReadOnlyList<Adapter> adapters = GpuInfo.Adapters();
            standIn.Use("mixed");
            Assert.NotEqual(report, GpuInfo.Report());
            Assert.Equal(StandIn.Cases["example"].Adapters, adapters);
            Assert.Equal(adapters, GpuInfo.ParseReport(System.Text.Encoding.UTF8.GetBytes(report)));
        }

        [Fact]
        public void SoftwareIsABoolean()
        {
            standIn.Use("example");
            Assert.Equal(new[] { false, true }, GpuInfo.Adapters().Select(a => a.Software));
            // The library's own report says 0 and 1 where the shared case says false and true.
            using var report = System.Text.Json.JsonDocument.Parse(GpuInfo.Report());
            Assert.Equal(StandIn.Cases["example"].Adapters!.Select(a => a.Software ? 1 : 0),
                         report.RootElement.GetProperty("adapters").EnumerateArray().Select(a => a.GetProperty("software").GetInt32()));
        }
    }
}
