// Package gpuinfo tells which graphics adapters a Windows x64 machine has,
// from quillmar-dxgi-gpu-info.dll, through package syscall: standard library
// only, no cgo. A released module carries the DLL and loads its own copy
// from the user's cache folder; otherwise the DLL sits beside the
// executable, or Load takes its path.
//
// The library is a 64-bit Windows DLL. On any other system or architecture
// the package still compiles, and every call returns ErrUnsupported, so a
// cross-platform program can import it unconditionally.
//
// The library answers one call at a time and rewrites its texts on later
// calls, so every call here holds one lock and copies the text it gets
// before letting go of it: goroutines may share the package.
package gpuinfo

import (
	"encoding/json"
	"errors"
	"strconv"
	"strings"
)

// LibraryName is the DLL's file name; without an embedded DLL, Load("")
// looks for it beside the executable.
const LibraryName = "quillmar-dxgi-gpu-info.dll"

// Adapter is one adapter of the library's report; the JSON tags are the
// report's keys.
type Adapter struct {
	Index           int    `json:"index"`
	Name            string `json:"name"`
	Vendor          string `json:"vendor"`
	VendorID        uint32 `json:"vendor_id"`
	DeviceID        uint32 `json:"device_id"`
	DedicatedVRAMMB int64  `json:"dedicated_vram_mb"`
	SharedMemoryMB  int64  `json:"shared_memory_mb"`
	DriverVersion   string `json:"driver_version"`
	Software        bool   `json:"software"`
}

// adapterJSON is the report's form of an adapter: software is 0 or 1 there.
type adapterJSON struct {
	Adapter
	Software int `json:"software"`
}

// Error is a failed enumeration: DXGI could not be reached. Reason is the
// library's last-error text, such as "dxgi.dll not found".
type Error struct {
	Reason string
}

func (e *Error) Error() string {
	return "gpuinfo: " + e.Reason
}

// LoadError is a library that could not be loaded from Path, or that lacks
// one of the library's calls.
type LoadError struct {
	Path string
	Err  error
}

func (e *LoadError) Error() string {
	return "gpuinfo: loading " + e.Path + ": " + e.Err.Error()
}

func (e *LoadError) Unwrap() error {
	return e.Err
}

var (
	// ErrIndex is VRAMMB's error for an index with no adapter while DXGI
	// answered; test for it with errors.Is.
	ErrIndex = errors.New("gpuinfo: no adapter at that index")

	// ErrUnsupported is every call's error on anything but Windows x64.
	ErrUnsupported = errors.New("gpuinfo: only Windows on x64 (amd64) is supported")
)

// lockNamePattern names the Windows mutex that every binding of the library
// holds across each call and the copy of its text, {pid} the decimal process
// id: the library's texts are one per process, whatever copies of this
// package or other languages call it. It is made with the process token's
// default security; an object already under the name that is no mutex, or
// not owned and labelled as this process's own objects are, is an *Error at
// once, and the next call tries again. One held longer than lockWaitMs
// (which no call of the library takes) is an *Error rather than a hang. A
// holder that ended without letting go counts as let go: every call rewrites
// the texts whole.
const (
	lockNamePattern = `Local\quillmar-dxgi-gpu-info-{pid}`
	lockWaitMs      = 30000
)

func lockName(pid int) string {
	return strings.Replace(lockNamePattern, "{pid}", strconv.Itoa(pid), 1)
}

// unknownReason is only reached if the library failed without saying why.
const unknownReason = "adapter enumeration failed"

func parseReport(report string) ([]Adapter, error) {
	var parsed struct {
		Adapters []adapterJSON `json:"adapters"`
	}
	if err := json.Unmarshal([]byte(report), &parsed); err != nil {
		return nil, err
	}
	if parsed.Adapters == nil {
		return nil, errors.New("gpuinfo: the report has no adapter list")
	}
	list := make([]Adapter, len(parsed.Adapters))
	for i, a := range parsed.Adapters {
		list[i] = a.Adapter
		list[i].Software = a.Software != 0
	}
	return list, nil
}
