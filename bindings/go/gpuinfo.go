// Package gpuinfo tells which graphics adapters a Windows x64 machine has,
// from quillmar-dxgi-gpu-info.dll, through package syscall: standard library
// only, no cgo. The DLL sits beside the executable, or Load takes its path.
//
// The library answers one call at a time and rewrites its texts on later
// calls, so every call here holds one lock and copies the text it gets
// before letting go of it.
package gpuinfo

import (
	"encoding/json"
	"errors"
)

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
	Software        int    `json:"software"`
}

// Error is a failed enumeration: DXGI could not be reached. Reason is the
// library's last-error text, such as "dxgi.dll not found".
type Error struct {
	Reason string
}

func (e *Error) Error() string {
	return "gpuinfo: " + e.Reason
}

// unknownReason is only reached if the library failed without saying why.
const unknownReason = "adapter enumeration failed"

func parseReport(report string) ([]Adapter, error) {
	var parsed struct {
		Adapters []Adapter `json:"adapters"`
	}
	if err := json.Unmarshal([]byte(report), &parsed); err != nil {
		return nil, err
	}
	if parsed.Adapters == nil {
		return nil, errors.New("gpuinfo: the report has no adapter list")
	}
	return parsed.Adapters, nil
}
