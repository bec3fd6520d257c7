// A program of its own that uses the module as a user would: built for
// Windows x64 it lists the adapters, elsewhere it says the library is
// unsupported there (exit 3).
package main

import (
	"errors"
	"fmt"
	"os"

	gpuinfo "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go"
)

const exitUnsupported = 3

func main() {
	version, err := gpuinfo.Version()
	if errors.Is(err, gpuinfo.ErrUnsupported) {
		fmt.Println("unsupported:", err)
		os.Exit(exitUnsupported)
	}
	if err != nil {
		fmt.Println(err)
		os.Exit(1)
	}
	list, err := gpuinfo.Adapters()
	if err != nil {
		fmt.Println(err)
		os.Exit(1)
	}
	fmt.Printf("library %s, %d adapter(s)\n", version, len(list))
	for _, a := range list {
		fmt.Printf("%d %s software=%t\n", a.Index, a.Name, a.Software)
	}
}
