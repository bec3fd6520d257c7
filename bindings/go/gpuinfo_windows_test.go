//go:build windows

package gpuinfo

// Runs under Wine as a Windows test binary, laid out beside the DLL, a
// second copy of it in alt\ and cases.json (bindings/testdata), which says
// what each scenario must give. -case names the DXGI the process sees.

import (
	"encoding/json"
	"errors"
	"flag"
	"math"
	"os"
	"path/filepath"
	"reflect"
	"strings"
	"syscall"
	"testing"
	"unicode/utf8"
	"unsafe"
)

var caseName = flag.String("case", "", "the scenario of cases.json this process sees")

var seamMode = flag.String("seam", "",
	"double, no_entry or missing: the library gets that dxgi.dll through dxgi_seam.dll beside the test, "+
		"not from the system directory")

// attachSeam points the loaded library's own import of LoadLibraryExA at the
// test seam (tests/seam), which hands it the dxgi.dll test double, a dxgi.dll
// without CreateDXGIFactory, or none; the double beside the seam picks its
// scenario from FAKE_DXGI_SCENARIO. A library loaded afresh needs it again.
func attachSeam(t *testing.T) {
	t.Helper()
	if *seamMode == "" {
		return
	}
	modes := map[string]uintptr{"double": 0, "no_entry": 1, "missing": 2}
	mode, ok := modes[*seamMode]
	if !ok {
		t.Fatalf("unknown -seam %q", *seamMode)
	}
	Version() // loads the library if it isn't yet
	seam, err := syscall.LoadDLL(besideExecutable(t, "dxgi_seam.dll"))
	if err != nil {
		t.Fatal(err)
	}
	attach, err := seam.FindProc("dxgi_seam_attach")
	if err != nil {
		t.Fatal(err)
	}
	name, err := syscall.BytePtrFromString(LibraryName)
	if err != nil {
		t.Fatal(err)
	}
	if r, _, _ := attach.Call(uintptr(unsafe.Pointer(name)), mode); int32(r) != 1 {
		t.Fatalf("dxgi_seam_attach(%s, %s) failed", LibraryName, *seamMode)
	}
}

type testCase struct {
	Name         string    `json:"name"`
	Adapters     []Adapter `json:"adapters"`
	Reason       string    `json:"reason"`
	AdapterCount *int      `json:"adapter_count"` // nil: any number
}

func besideExecutable(t *testing.T, name string) string {
	t.Helper()
	exe, err := os.Executable()
	if err != nil {
		t.Fatal(err)
	}
	return filepath.Join(filepath.Dir(exe), name)
}

func expected(t *testing.T) testCase {
	t.Helper()
	attachSeam(t)
	data, err := os.ReadFile(besideExecutable(t, "cases.json"))
	if err != nil {
		t.Fatal(err)
	}
	var file struct {
		Cases []testCase `json:"cases"`
	}
	if err := json.Unmarshal(data, &file); err != nil {
		t.Fatal(err)
	}
	for _, c := range file.Cases {
		if c.Name == *caseName {
			return c
		}
	}
	t.Fatalf("no case %q in cases.json", *caseName)
	return testCase{}
}

func nonSoftware(list []Adapter) int {
	n := 0
	for _, a := range list {
		if a.Software == 0 {
			n++
		}
	}
	return n
}

func TestVersion(t *testing.T) {
	if got := Version(); got != "1.0.0" {
		t.Fatalf("Version() = %q", got)
	}
}

func TestReachable(t *testing.T) {
	c := expected(t)
	if c.Reason != "" {
		t.Skip("DXGI is unreachable in this case")
	}
	list, err := Adapters()
	if err != nil {
		t.Fatalf("Adapters(): %v", err)
	}
	// Every field, the names byte for byte: the mixed and beyond_bmp cases
	// hold é, €, CJK and characters above U+FFFF.
	if c.Adapters != nil {
		if !reflect.DeepEqual(list, c.Adapters) {
			t.Fatalf("Adapters() =\n%+v\nwant\n%+v", list, c.Adapters)
		}
	} else if c.AdapterCount != nil && len(list) != *c.AdapterCount {
		t.Fatalf("%d adapters, want %d: %+v", len(list), *c.AdapterCount, list)
	}
	if got := LastError(); got != "" {
		t.Errorf("LastError() = %q after a report", got)
	}
	count, err := AdapterCount()
	if err != nil || count != nonSoftware(list) {
		t.Errorf("AdapterCount() = %d, %v; want %d", count, err, nonSoftware(list))
	}
	for _, a := range list {
		if !utf8.ValidString(a.Name) || a.Index < 0 || (a.Software == 1) != (a.VendorID == 0x1414) {
			t.Errorf("adapter %+v", a)
		}
		want := a.DedicatedVRAMMB
		if want > math.MaxInt32 {
			want = math.MaxInt32 // the library saturates
		}
		if got := VRAMMB(a.Index); int64(got) != want {
			t.Errorf("VRAMMB(%d) = %d, want %d", a.Index, got, want)
		}
	}
	// Out of range, on both sides of int32 and past it: 1<<32 would reach
	// the library as 0 if it were passed on.
	for _, index := range []int{len(list), -1, math.MaxInt32, math.MinInt32, 1 << 32, -1 << 32, 1<<32 + 1} {
		if got := VRAMMB(index); got != -1 {
			t.Errorf("VRAMMB(%d) = %d, want -1", index, got)
		}
	}
	again, err := Adapters()
	if err != nil || !reflect.DeepEqual(again, list) {
		t.Errorf("a second report differs: %+v, %v", again, err)
	}
}

func TestUnreachable(t *testing.T) {
	c := expected(t)
	if c.Reason == "" {
		t.Skip("DXGI is reachable in this case")
	}
	list, err := Adapters()
	var e *Error
	if list != nil || !errors.As(err, &e) || e.Reason != c.Reason {
		t.Fatalf("Adapters() = %v, %v; want an *Error with reason %q", list, err, c.Reason)
	}
	if err.Error() != "gpuinfo: "+c.Reason {
		t.Errorf("message %q", err.Error())
	}
	if got := LastError(); got != c.Reason {
		t.Errorf("LastError() = %q", got)
	}
	count, err := AdapterCount()
	if count != -1 || !errors.As(err, &e) || e.Reason != c.Reason {
		t.Errorf("AdapterCount() = %d, %v", count, err)
	}
	for _, index := range []int{0, 1, -1} {
		if got := VRAMMB(index); got != -1 {
			t.Errorf("VRAMMB(%d) = %d, want -1", index, got)
		}
	}
	if got := LastError(); got != c.Reason {
		t.Errorf("LastError() = %q after VRAMMB", got)
	}
}

func TestLoad(t *testing.T) {
	defer func() {
		if err := Load(""); err != nil {
			t.Fatal(err)
		}
	}()
	if err := Load(besideExecutable(t, filepath.Join("alt", LibraryName))); err != nil {
		t.Fatalf("a copy elsewhere: %v", err)
	}
	if Version() != "1.0.0" {
		t.Fatal("the copy elsewhere does not answer")
	}
	if err := Load(besideExecutable(t, filepath.Join("no-such-folder", LibraryName))); err == nil {
		t.Error("a missing file loaded")
	}
	// A DLL without the library's calls.
	system, err := os.ReadFile(`C:\windows\system32\kernel32.dll`)
	if err != nil || len(system) == 0 {
		t.Fatalf("kernel32.dll: %v", err)
	}
	err = Load(`C:\windows\system32\kernel32.dll`)
	if err == nil || !strings.Contains(err.Error(), "lacks the export gpuinfo_version") {
		t.Errorf("kernel32.dll as the library: %v", err)
	}
	if Version() != "1.0.0" {
		t.Error("a failed Load dropped the library loaded before")
	}
	if err := Load(""); err != nil {
		t.Errorf("Load(\"\") beside the executable: %v", err)
	}
}
