using System;
using System.IO;
using System.Linq;
using System.Reflection.Metadata;
using System.Reflection.PortableExecutable;
using System.Xml.Linq;
using Xunit;
using Xunit.Abstractions;

namespace Quillmar.Graphics.Tests
{
    /// <summary>The binding's assembly for each target framework, as the package ships it.</summary>
    public sealed class AssemblyTests
    {
        private readonly ITestOutputHelper output;

        public AssemblyTests(ITestOutputHelper output)
        {
            this.output = output;
        }

        // What each build may reference: the framework alone, no package.
        [Theory]
        [InlineData("netstandard2.0", new[] { "netstandard" })]
        [InlineData("net8.0", new[] { "Microsoft.Win32.Primitives", "System.Collections", "System.Runtime",
                                      "System.Runtime.InteropServices", "System.Runtime.Serialization.Json",
                                      "System.Runtime.Serialization.Primitives", "System.Runtime.Serialization.Xml",
                                      "System.Threading" })]
        public void VersionReferencesAndDocumentation(string framework, string[] allowed)
        {
            string folder = Path.Combine(StandIn.Required("GPUINFO_ASSEMBLIES"), "release_" + framework);
            string dll = Path.Combine(folder, "Quillmar.GpuInfo.dll");
            using var pe = new PEReader(File.OpenRead(dll));
            MetadataReader md = pe.GetMetadataReader();
            AssemblyDefinition self = md.GetAssemblyDefinition();
            Assert.Equal("Quillmar.GpuInfo", md.GetString(self.Name));
            Assert.Equal(new Version(1, 0, 0, 0), self.Version);
            string[] references = md.AssemblyReferences.Select(h => md.GetAssemblyReference(h))
                .Select(r => $"{md.GetString(r.Name)} {r.Version}").OrderBy(r => r).ToArray();
            output.WriteLine($"{framework}: {string.Join(", ", references)}");
            Assert.All(references, r => Assert.Contains(r.Split(' ')[0], allowed));
            string[] types = md.TypeDefinitions.Select(h => md.GetTypeDefinition(h))
                .Where(t => (t.Attributes & System.Reflection.TypeAttributes.VisibilityMask) == System.Reflection.TypeAttributes.Public)
                .Select(t => $"{md.GetString(t.Namespace)}.{md.GetString(t.Name)}").OrderBy(t => t).ToArray();
            Assert.Equal(new[] { "Quillmar.Graphics.Adapter", "Quillmar.Graphics.GpuInfo", "Quillmar.Graphics.GpuInfoException" }, types);
            // No type is named like a namespace it sits in.
            Assert.DoesNotContain(types, t => t.Split('.').Last() == "Graphics" || t.Split('.').Last() == "Quillmar");

            XDocument doc = XDocument.Load(Path.ChangeExtension(dll, ".xml"));
            string[] documented = doc.Descendants("member").Select(m => (string)m.Attribute("name")!).ToArray();
            foreach (string member in new[] { "T:Quillmar.Graphics.GpuInfo", "P:Quillmar.Graphics.GpuInfo.Version",
                                              "M:Quillmar.Graphics.GpuInfo.VramMb(System.Int32)",
                                              "P:Quillmar.Graphics.GpuInfoException.Reason", "P:Quillmar.Graphics.Adapter.Software" })
                Assert.Contains(member, documented);
        }
    }
}
