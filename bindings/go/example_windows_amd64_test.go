//go:build windows && amd64

package gpuinfo_test

// The tests run these against the dxgi.dll test double's "example" preset:
// one hardware adapter and Microsoft's software rasterizer.

import (
	"errors"
	"fmt"

	gpuinfo "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go"
)

func ExampleAdapters() {
	list, err := gpuinfo.Adapters()
	if err != nil {
		// An *gpuinfo.Error: DXGI could not be reached, err.Reason says why.
		fmt.Println(err)
		return
	}
	for _, a := range list {
		if a.Software {
			continue
		}
		fmt.Printf("%d: %s (%s %04X:%04X), %d MiB dedicated, driver %s\n",
			a.Index, a.Name, a.Vendor, a.VendorID, a.DeviceID, a.DedicatedVRAMMB, a.DriverVersion)
	}
	// Output:
	// 0: Example V7 Graphics (AMD 1002:73BF), 16368 MiB dedicated, driver 31.0.24033.1003
}

func ExampleVRAMMB() {
	for index := 0; ; index++ {
		mb, err := gpuinfo.VRAMMB(index)
		if errors.Is(err, gpuinfo.ErrIndex) {
			fmt.Println(index, "adapters")
			break
		}
		if err != nil {
			fmt.Println(err)
			return
		}
		fmt.Printf("adapter %d: %d MiB\n", index, mb)
	}
	// Output:
	// adapter 0: 16368 MiB
	// adapter 1: 0 MiB
	// 2 adapters
}

func ExampleError() {
	_, err := gpuinfo.AdapterCount()
	var e *gpuinfo.Error
	switch {
	case errors.As(err, &e):
		fmt.Println("DXGI unreachable:", e.Reason)
	case errors.Is(err, gpuinfo.ErrUnsupported):
		fmt.Println("not Windows x64")
	case err != nil:
		fmt.Println(err) // a *gpuinfo.LoadError: the DLL is missing or not the library
	default:
		fmt.Println("DXGI answered")
	}
	// Output:
	// DXGI answered
}
