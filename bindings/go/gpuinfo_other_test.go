//go:build !(windows && amd64)

package gpuinfo

import (
	"errors"
	"testing"
)

// Everywhere but Windows x64 every call must say so, never pretend.
func TestEveryCallIsUnsupported(t *testing.T) {
	calls := []struct {
		name string
		call func() error
	}{
		{"Load", func() error { return Load(LibraryName) }},
		{"Version", func() error { _, err := Version(); return err }},
		{"Report", func() error { _, err := Report(); return err }},
		{"Adapters", func() error {
			list, err := Adapters()
			if list != nil {
				t.Errorf("Adapters() = %v", list)
			}
			return err
		}},
		{"AdapterCount", func() error { _, err := AdapterCount(); return err }},
		{"VRAMMB", func() error {
			mb, err := VRAMMB(0)
			if mb != -1 {
				t.Errorf("VRAMMB(0) = %d", mb)
			}
			return err
		}},
	}
	for _, c := range calls {
		if err := c.call(); !errors.Is(err, ErrUnsupported) {
			t.Errorf("%s: %v, want ErrUnsupported", c.name, err)
		}
	}
	if got := LastError(); got != "" {
		t.Errorf("LastError() = %q", got)
	}
}
