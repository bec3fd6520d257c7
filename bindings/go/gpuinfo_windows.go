//go:build windows

package gpuinfo

import (
	"fmt"
	"math"
	"os"
	"path/filepath"
	"sync"
	"syscall"
	"unsafe"
)

// LibraryName is the DLL's file name; Load("") looks for it beside the
// executable.
const LibraryName = "quillmar-dxgi-gpu-info.dll"

type library struct {
	dll          *syscall.DLL
	version      *syscall.Proc
	lastError    *syscall.Proc
	getJSON      *syscall.Proc
	adapterCount *syscall.Proc
	vramMB       *syscall.Proc
}

var (
	mu     sync.Mutex
	loaded *library
)

// Load loads the DLL at path, or beside the executable when path is "".
// If it can't be loaded or lacks one of the library's calls, the library
// loaded before stays in use.
func Load(path string) error {
	mu.Lock()
	defer mu.Unlock()
	return load(path)
}

func load(path string) error {
	if path == "" {
		exe, err := os.Executable()
		if err != nil {
			return fmt.Errorf("gpuinfo: finding the executable's folder: %w", err)
		}
		path = filepath.Join(filepath.Dir(exe), LibraryName)
	}
	// A bare name would be searched for in the current directory too.
	path, err := filepath.Abs(path)
	if err != nil {
		return fmt.Errorf("gpuinfo: %w", err)
	}
	dll, err := syscall.LoadDLL(path)
	if err != nil {
		return fmt.Errorf("gpuinfo: loading %s: %w", path, err)
	}
	next := &library{dll: dll}
	exports := []struct {
		name string
		proc **syscall.Proc
	}{
		{"gpuinfo_version", &next.version},
		{"gpuinfo_last_error", &next.lastError},
		{"gpuinfo_get_json", &next.getJSON},
		{"gpuinfo_adapter_count", &next.adapterCount},
		{"gpuinfo_vram_mb", &next.vramMB},
	}
	for _, e := range exports {
		proc, err := dll.FindProc(e.name)
		if err != nil {
			dll.Release()
			return fmt.Errorf("gpuinfo: %s lacks the export %s", path, e.name)
		}
		*e.proc = proc
	}
	if loaded != nil {
		loaded.dll.Release()
	}
	loaded = next
	return nil
}

// current is the loaded library, loading the one beside the executable
// first if none is. The caller holds mu.
func current() (*library, error) {
	if loaded == nil {
		if err := load(""); err != nil {
			return nil, err
		}
	}
	return loaded, nil
}

// call returns what the export returned. Proc.Call's error result is not
// the failure signal: it is whatever GetLastError held, "Success." or a
// left-over, and the library's calls report failure in their result alone.
func call(proc *syscall.Proc, args ...uintptr) uintptr {
	r, _, _ := proc.Call(args...)
	return r
}

// result is the export's int: Call hands back the whole register, where
// -1 reads as 0xffffffff.
func result(r uintptr) int {
	return int(int32(r))
}

// text copies the NUL-terminated UTF-8 text at p, which lives in the DLL's
// static storage and is rewritten by later calls, into a Go string. The
// address is read through &p rather than converted with unsafe.Pointer(p):
// it is not Go memory, and the copy is made before the lock is let go.
func text(p uintptr) string {
	if p == 0 {
		return ""
	}
	start := *(*unsafe.Pointer)(unsafe.Pointer(&p))
	n := 0
	for *(*byte)(unsafe.Add(start, n)) != 0 {
		n++
	}
	return string(unsafe.Slice((*byte)(start), n))
}

func failure(l *library) error {
	reason := text(call(l.lastError))
	if reason == "" {
		reason = unknownReason
	}
	return &Error{Reason: reason}
}

// Version is the library's version, "1.0.0", or "" if the DLL can't be
// loaded.
func Version() string {
	mu.Lock()
	defer mu.Unlock()
	l, err := current()
	if err != nil {
		return ""
	}
	return text(call(l.version))
}

// LastError is why the last enumeration failed, or "" (Adapters empties
// it first).
func LastError() string {
	mu.Lock()
	defer mu.Unlock()
	l, err := current()
	if err != nil {
		return ""
	}
	return text(call(l.lastError))
}

// Report is the library's JSON report, unchanged. A failed enumeration is
// an *Error.
func Report() (string, error) {
	mu.Lock()
	defer mu.Unlock()
	l, err := current()
	if err != nil {
		return "", err
	}
	p := call(l.getJSON)
	if p == 0 {
		return "", failure(l)
	}
	return text(p), nil
}

// Adapters lists every adapter DXGI reports, software ones included. A
// failed enumeration is an *Error.
func Adapters() ([]Adapter, error) {
	report, err := Report()
	if err != nil {
		return nil, err
	}
	return parseReport(report)
}

// AdapterCount is the number of adapters that are not software adapters. A
// failed enumeration is an *Error, with -1.
func AdapterCount() (int, error) {
	mu.Lock()
	defer mu.Unlock()
	l, err := current()
	if err != nil {
		return -1, err
	}
	n := result(call(l.adapterCount))
	if n < 0 {
		return -1, failure(l)
	}
	return n, nil
}

// VRAMMB is the dedicated video memory in whole MiB of the adapter at index,
// or -1: no such adapter, a failed enumeration (LastError tells them apart)
// or a DLL that can't be loaded.
func VRAMMB(index int) int {
	// The export takes a 32-bit int: a wider index would arrive cut to its
	// low half, 1<<32 as 0.
	if index < math.MinInt32 || index > math.MaxInt32 {
		return -1
	}
	mu.Lock()
	defer mu.Unlock()
	l, err := current()
	if err != nil {
		return -1
	}
	return result(call(l.vramMB, uintptr(int32(index))))
}
