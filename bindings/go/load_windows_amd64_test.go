//go:build windows && amd64

package gpuinfo

import (
	"bytes"
	"errors"
	"os"
	"path/filepath"
	"syscall"
	"testing"
)

// The loader's errors for a DLL that can't be found, and for one found
// without a function asked for.
const (
	errorModNotFound  = syscall.Errno(126)
	errorProcNotFound = syscall.Errno(127)
)

// TestLoadImportsFromSystemOnly: the library's own imports are not looked
// for in the current directory. A copy of the library whose KERNEL32 import
// is renamed to a DLL that only the current directory holds (another DLL,
// without those functions) fails because that DLL is not found. Through the
// search order it would be found there: Windows then fails for the
// functions it lacks, and Wine binds them to stubs and loads the copy.
func TestLoadImportsFromSystemOnly(t *testing.T) {
	needCacheTests(t)
	const imported, cwdOnly = "KERNEL32.dll\x00", "cwdonly1.dll\x00" // the same length
	data := libraryBytes(t)
	if bytes.Count(data, []byte(imported)) != 1 {
		t.Fatalf("the library names %q %d times, not once", imported, bytes.Count(data, []byte(imported)))
	}
	// Beside the test, written afresh each run: Wine keeps a DLL whose load
	// failed open until the process ends.
	patched := besideExecutable(t, "imports-cwd-only.dll")
	if err := os.WriteFile(patched, bytes.Replace(data, []byte(imported), []byte(cwdOnly), 1), 0o600); err != nil {
		t.Fatal(err)
	}
	other, err := os.ReadFile(besideExecutable(t, "fake_dxgi.dll"))
	if err != nil {
		t.Fatal(err)
	}
	cwd := t.TempDir()
	if err := os.WriteFile(filepath.Join(cwd, cwdOnly[:len(cwdOnly)-1]), other, 0o600); err != nil {
		t.Fatal(err)
	}
	back, err := os.Getwd()
	if err != nil {
		t.Fatal(err)
	}
	if err := os.Chdir(cwd); err != nil {
		t.Fatal(err)
	}
	defer os.Chdir(back)
	err = Load(patched)
	var le *LoadError
	if !errors.As(err, &le) || !errors.Is(err, errorModNotFound) {
		if errors.Is(err, errorProcNotFound) {
			t.Fatalf("Load(%s) found its import in the current directory: %v", patched, err)
		}
		t.Fatalf("Load(%s) = %v, want a *LoadError for a DLL not found", patched, err)
	}
}
