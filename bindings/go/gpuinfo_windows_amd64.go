//go:build windows && amd64

package gpuinfo

import (
	"fmt"
	"math"
	"os"
	"path/filepath"
	"runtime"
	"sync"
	"syscall"
	"unsafe"
)

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
	// The process-wide named mutex, made on first use.
	processMutex syscall.Handle
)

var (
	kernel32            = syscall.NewLazyDLL("kernel32.dll")
	createMutexW        = kernel32.NewProc("CreateMutexW")
	waitForSingleObject = kernel32.NewProc("WaitForSingleObject")
	releaseMutex        = kernel32.NewProc("ReleaseMutex")
	localFree           = kernel32.NewProc("LocalFree")
	// Who owns an object: the lock's mutex and the cache's folders.
	advapi32        = syscall.NewLazyDLL("advapi32.dll")
	getSecurityInfo = advapi32.NewProc("GetSecurityInfo")
)

const (
	errorAlreadyExists       = 183
	ownerSecurityInformation = 0x1
)

const (
	waitObject0   = 0
	waitAbandoned = 0x80
)

// hold takes the lock of every call: mu for this copy of the package, and
// the named mutex every binding of the library in this process takes. The
// mutex belongs to a thread, so the goroutine keeps to its thread until the
// returned function lets go of both.
func hold() (func(), error) {
	mu.Lock()
	runtime.LockOSThread()
	fail := func(err error) (func(), error) {
		runtime.UnlockOSThread()
		mu.Unlock()
		return nil, err
	}
	if processMutex == 0 {
		name, err := syscall.UTF16PtrFromString(lockName(os.Getpid()))
		if err != nil {
			return fail(&Error{Reason: "no process lock: " + err.Error()})
		}
		// A failure is not kept: the next call tries again, as the squatter may have gone.
		h, _, callErr := createMutexW.Call(0, 0, uintptr(unsafe.Pointer(name)))
		if h == 0 {
			return fail(&Error{Reason: fmt.Sprintf("no process lock: CreateMutexW failed with %d", callErr)})
		}
		if callErr == syscall.Errno(errorAlreadyExists) && !ownMutex(syscall.Handle(h)) {
			syscall.CloseHandle(syscall.Handle(h))
			return fail(&Error{Reason: "no process lock: the mutex under its name is not this process's own"})
		}
		processMutex = syscall.Handle(h)
	}
	got, _, _ := waitForSingleObject.Call(uintptr(processMutex), uintptr(lockWaitNowMs))
	if got != waitObject0 && got != waitAbandoned {
		return fail(&Error{Reason: fmt.Sprintf("no process lock: WaitForSingleObject gave %d", got)})
	}
	return func() {
		releaseMutex.Call(uintptr(processMutex))
		runtime.UnlockOSThread()
		mu.Unlock()
	}, nil
}

// Load loads the DLL at path, made absolute first. With path "" it loads the
// DLL the module carries (a released module embeds it: see loadEmbedded),
// or in a module without one the DLL beside the executable. A file that
// can't be loaded or lacks one of the library's calls is a *LoadError
// naming the absolute path, and the library loaded before stays in use.
func Load(path string) error {
	mu.Lock()
	defer mu.Unlock()
	return load(path)
}

func load(path string) error {
	if path == "" {
		if data := embeddedLibrary(); data != nil {
			return loadEmbedded(data)
		}
		exe, err := os.Executable()
		if err != nil {
			return &LoadError{Path: LibraryName, Err: fmt.Errorf("finding the executable's folder: %w", err)}
		}
		path = filepath.Join(filepath.Dir(exe), LibraryName)
	}
	// A bare name would be searched for in the current directory too.
	if abs, err := filepath.Abs(path); err == nil {
		path = abs
	} else {
		return &LoadError{Path: path, Err: err}
	}
	return loadPath(path)
}

// loadPath loads the DLL at the absolute path and takes its five calls.
func loadPath(path string) error {
	dll, err := openLibrary(path)
	if err != nil {
		return &LoadError{Path: path, Err: err}
	}
	return useLibrary(dll, path)
}

// LoadLibraryExW's search flags: the DLL's own imports come from its folder
// and System32 alone, never from the current directory or PATH (the library
// imports KERNEL32 only).
const (
	loadLibrarySearchDLLLoadDir = 0x100
	loadLibrarySearchSystem32   = 0x800
)

var loadLibraryExW = kernel32.NewProc("LoadLibraryExW")

// openLibrary maps the DLL at the absolute path; the error is Windows' own.
func openLibrary(path string) (*syscall.DLL, error) {
	name, err := syscall.UTF16PtrFromString(path)
	if err != nil {
		return nil, err
	}
	h, _, callErr := loadLibraryExW.Call(uintptr(unsafe.Pointer(name)), 0,
		loadLibrarySearchDLLLoadDir|loadLibrarySearchSystem32)
	if h == 0 {
		return nil, callErr
	}
	return &syscall.DLL{Name: path, Handle: syscall.Handle(h)}, nil
}

// useLibrary takes the five calls of the mapped DLL and makes it the one in
// use, or releases it.
func useLibrary(dll *syscall.DLL, path string) error {
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
			return &LoadError{Path: path, Err: fmt.Errorf("lacks the export %s", e.name)}
		}
		*e.proc = proc
	}
	if loaded != nil {
		loaded.dll.Release()
	}
	loaded = next
	return nil
}

// current is the loaded library, loading the module's own (Load("")) first
// if none is. The caller holds mu.
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

// Version is the library's version, "1.0.0".
func Version() (string, error) {
	unlock, err := hold()
	if err != nil {
		return "", err
	}
	defer unlock()
	l, err := current()
	if err != nil {
		return "", err
	}
	return text(call(l.version)), nil
}

// LastError is why the last enumeration failed, or "" (Report and Adapters
// empty it first; AdapterCount and VRAMMB leave an earlier text in place
// when they succeed). It is "" too when the DLL can't be loaded: the other
// calls return that error.
func LastError() string {
	unlock, err := hold()
	if err != nil {
		return ""
	}
	defer unlock()
	l, err := current()
	if err != nil {
		return ""
	}
	return text(call(l.lastError))
}

// Report is the library's JSON report, unchanged. A failed enumeration is
// an *Error.
func Report() (string, error) {
	unlock, err := hold()
	if err != nil {
		return "", err
	}
	defer unlock()
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

// Adapters lists every adapter DXGI reports, software ones included, all
// from one enumeration. A failed enumeration is an *Error.
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
	unlock, err := hold()
	if err != nil {
		return -1, err
	}
	defer unlock()
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

// VRAMMB is the dedicated video memory in whole MiB of the adapter at index
// (the Index of its Adapter), saturated at math.MaxInt32. With -1 it returns
// ErrIndex (errors.Is) when there is no adapter at index, or an *Error when
// the enumeration failed.
func VRAMMB(index int) (int, error) {
	// The export takes a 32-bit int: a wider index would arrive cut to its
	// low half, 1<<32 as 0.
	if index < math.MinInt32 || index > math.MaxInt32 {
		return -1, indexError(index)
	}
	unlock, err := hold()
	if err != nil {
		return -1, err
	}
	defer unlock()
	l, err := current()
	if err != nil {
		return -1, err
	}
	mb := result(call(l.vramMB, uintptr(int32(index))))
	if mb >= 0 {
		return mb, nil
	}
	// -1 is both answers; one report answers, so DXGI recovering in
	// between can't turn a failure into "no adapter".
	p := call(l.getJSON)
	if p == 0 {
		return -1, failure(l)
	}
	if adapters, err := parseReport(text(p)); err == nil && index >= 0 {
		for _, a := range adapters {
			if a.Index == index {
				if a.DedicatedVRAMMB > math.MaxInt32 {
					return math.MaxInt32, nil
				}
				return int(a.DedicatedVRAMMB), nil
			}
		}
	}
	return -1, indexError(index)
}

func indexError(index int) error {
	return fmt.Errorf("%w (index %d)", ErrIndex, index)
}
