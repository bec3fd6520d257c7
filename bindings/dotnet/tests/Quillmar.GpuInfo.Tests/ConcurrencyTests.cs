using Xunit;
using Xunit.Abstractions;

namespace Quillmar.Graphics.Tests
{
    public sealed class ConcurrencyTests
    {
        private const int Threads = 8;
        private const int CallsEach = 250;
        private readonly ITestOutputHelper output;

        public ConcurrencyTests(ITestOutputHelper output)
        {
            this.output = output;
        }

        /// <summary>A report that changes on every enumeration, read by many threads at once.</summary>
        [Fact]
        public void EveryResultIsOneWholeReport()
        {
            Generation rule = StandIn.Cases.Changing ?? throw new CheckFailed("no changing case in the table");
            int distinct = Checks.AllWhole(rule, StandIn.Instance, Threads, CallsEach);
            output.WriteLine($"{Threads} threads x {CallsEach} calls: {distinct} whole reports, none mixed");
        }
    }
}
