//go:build !(windows && amd64)

package gpuinfo

// The library is a 64-bit Windows DLL: elsewhere every call says so, and a
// program that imports the package still builds for every target.

// Load returns ErrUnsupported.
func Load(path string) error { return ErrUnsupported }

// Version returns ErrUnsupported.
func Version() (string, error) { return "", ErrUnsupported }

// LastError returns "": there is no library to ask.
func LastError() string { return "" }

// Report returns ErrUnsupported.
func Report() (string, error) { return "", ErrUnsupported }

// Adapters returns ErrUnsupported.
func Adapters() ([]Adapter, error) { return nil, ErrUnsupported }

// AdapterCount returns -1 and ErrUnsupported.
func AdapterCount() (int, error) { return -1, ErrUnsupported }

// VRAMMB returns -1 and ErrUnsupported.
func VRAMMB(index int) (int, error) { return -1, ErrUnsupported }
