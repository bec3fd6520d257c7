using System;
using Quillmar.Graphics;

internal static class Program
{
    private static int Main()
    {
        try
        {
            foreach (Adapter a in GpuInfo.Adapters())
                Console.WriteLine(a);
            return 0;
        }
        catch (GpuInfoException e)
        {
            Console.Error.WriteLine(e.Message);
            return 1;
        }
    }
}
