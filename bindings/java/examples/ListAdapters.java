// Lists this machine's graphics adapters. With the jar and its dependencies
// on the class path (Java 11 and later run a source file as it is):
//   java -cp "quillmar-gpuinfo-1.0.0.jar;jna-5.13.0.jar" ListAdapters.java
import com.quillmar.gpuinfo.Adapter;
import com.quillmar.gpuinfo.GpuInfo;
import com.quillmar.gpuinfo.GpuInfoException;

public class ListAdapters {
    public static void main(String[] args) {
        try {
            System.out.println("quillmar-dxgi-gpu-info " + GpuInfo.version() + ", "
                    + GpuInfo.adapterCount() + " hardware adapter(s)");
            for (Adapter a : GpuInfo.adapters()) {
                System.out.printf("%d  %s  %s  %,d MiB%s%n", a.index(), a.name(), a.vendor(),
                        a.dedicatedVramMb(), a.software() ? "  (software)" : "");
            }
            System.out.println("adapter 0: " + GpuInfo.vramMb(0) + " MiB");
        } catch (GpuInfoException e) {
            System.err.println("no adapters: " + e.reason());
            System.exit(1);
        } catch (IndexOutOfBoundsException e) {
            System.out.println("no adapter 0");
        }
    }
}
