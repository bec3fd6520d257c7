//go:build windows && amd64

package gpuinfo

// Runs under Wine as a Windows test binary, laid out beside the DLL, a
// second copy of it in alt\ and cases.json (bindings/testdata), which says
// what each scenario must give. -case names the DXGI the process sees.

import (
	"encoding/json"
	"errors"
	"flag"
	"fmt"
	"math"
	"os"
	"os/exec"
	"path/filepath"
	"reflect"
	"regexp"
	"runtime"
	"strconv"
	"strings"
	"sync"
	"syscall"
	"testing"
	"unicode/utf8"
	"unsafe"
)

var caseName = flag.String("case", "", "the scenario of cases.json this process sees")

var seamMode = flag.String("seam", "",
	"double, no_entry or missing: the library gets that dxgi.dll through dxgi_seam.dll beside the test, "+
		"not from the system directory")

// Concurrency test: goroutines, and calls of Adapters each makes.
const (
	concurrentGoroutines = 16
	callsPerGoroutine    = 100
)

// The seam's modes (tests/seam/dxgi_seam.h).
var seamModes = map[string]uintptr{"double": 0, "no_entry": 1, "missing": 2}

func TestMain(m *testing.M) {
	flag.Parse()
	if *seamMode != "" {
		if err := attachSeam(*seamMode); err != nil {
			fmt.Fprintln(os.Stderr, err)
			os.Exit(1)
		}
	}
	os.Exit(m.Run())
}

// attachSeam points the loaded library's own import of LoadLibraryExA at the
// test seam (tests/seam), which hands it the dxgi.dll test double, a dxgi.dll
// without CreateDXGIFactory, or none; the double beside the seam picks its
// scenario from FAKE_DXGI_SCENARIO. A library loaded afresh needs it again,
// and calling it again changes the mode.
func attachSeam(mode string) error {
	code, ok := seamModes[mode]
	if !ok {
		return fmt.Errorf("unknown seam mode %q", mode)
	}
	if _, err := Version(); err != nil { // loads the library if it isn't yet
		return err
	}
	exe, err := os.Executable()
	if err != nil {
		return err
	}
	seam, err := syscall.LoadDLL(filepath.Join(filepath.Dir(exe), "dxgi_seam.dll"))
	if err != nil {
		return err
	}
	attach, err := seam.FindProc("dxgi_seam_attach")
	if err != nil {
		return err
	}
	name, err := syscall.BytePtrFromString(LibraryName)
	if err != nil {
		return err
	}
	if r, _, _ := attach.Call(uintptr(unsafe.Pointer(name)), code); int32(r) != 1 {
		return fmt.Errorf("dxgi_seam_attach(%s, %s) failed", LibraryName, mode)
	}
	return nil
}

func mustAttachSeam(t *testing.T, mode string) {
	t.Helper()
	if err := attachSeam(mode); err != nil {
		t.Fatal(err)
	}
}

// scenarioBytes is more than the double's struct fake_scenario (its adapters
// of a few hundred bytes each): the preset is filled in here and handed back.
const scenarioBytes = 1 << 20

// mustUsePreset gives the double beside the test (the module the seam hands
// the library) the named preset through its own control calls, which also
// start its counts afresh.
func mustUsePreset(t *testing.T, preset string) {
	t.Helper()
	exe, err := os.Executable()
	if err != nil {
		t.Fatal(err)
	}
	double, err := syscall.LoadDLL(filepath.Join(filepath.Dir(exe), "fake_dxgi.dll"))
	if err != nil {
		t.Fatal(err)
	}
	fill, err := double.FindProc("fake_dxgi_preset")
	if err != nil {
		t.Fatal(err)
	}
	set, err := double.FindProc("fake_dxgi_set_scenario")
	if err != nil {
		t.Fatal(err)
	}
	name, err := syscall.BytePtrFromString(preset)
	if err != nil {
		t.Fatal(err)
	}
	scenario := make([]byte, scenarioBytes)
	if r, _, _ := fill.Call(uintptr(unsafe.Pointer(name)), uintptr(unsafe.Pointer(&scenario[0]))); int32(r) != 1 {
		t.Fatalf("the double has no preset %q", preset)
	}
	set.Call(uintptr(unsafe.Pointer(&scenario[0])))
}

// expectedError is a call that must fail, and how.
type expectedError struct {
	Call  string `json:"call"`
	Index int    `json:"index"`
	Error string `json:"error"`
}

// generation is what tells a whole report of the "changing" scenario from a
// torn one: enumeration g lists Count.Base + g%Count.Modulus adapters, each
// name carrying g as the digits after the template's text before {g}.
type generation struct {
	Count struct {
		Base    int `json:"base"`
		Modulus int `json:"modulus"`
	} `json:"count"`
	Name string `json:"name"`
}

type testCase struct {
	Name         string          `json:"name"`
	Adapters     []Adapter       `json:"adapters"`
	Reason       string          `json:"reason"`
	AdapterCount *int            `json:"adapter_count"` // nil: any number
	Errors       []expectedError `json:"errors"`
	Generation   *generation     `json:"generation"`
}

type step struct {
	Scenario string `json:"scenario"`
	Call     string `json:"call"`
	Index    int    `json:"index"`
	Error    string `json:"error"`
	Reason   string `json:"reason"`
	Result   *int   `json:"result"`
}

type casesFile struct {
	Cases      []testCase `json:"cases"`
	LoadErrors []struct {
		Path  string `json:"path"`
		Error string `json:"error"`
	} `json:"load_errors"`
	Sequences []struct {
		Name  string `json:"name"`
		Steps []step `json:"steps"`
	} `json:"sequences"`
	Lock struct {
		Name       string     `json:"name"`
		WaitMs     int        `json:"wait_ms"`
		TestWaitMs uint32     `json:"test_wait_ms"`
		Squatters  []squatter `json:"squatters"`
	} `json:"lock"`
}

func besideExecutable(t *testing.T, name string) string {
	t.Helper()
	exe, err := os.Executable()
	if err != nil {
		t.Fatal(err)
	}
	return filepath.Join(filepath.Dir(exe), name)
}

func readCases(t *testing.T) casesFile {
	t.Helper()
	data, err := os.ReadFile(besideExecutable(t, "cases.json"))
	if err != nil {
		t.Fatal(err)
	}
	var file casesFile
	if err := json.Unmarshal(data, &file); err != nil {
		t.Fatal(err)
	}
	return file
}

func expected(t *testing.T) testCase {
	t.Helper()
	for _, c := range readCases(t).Cases {
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
		if !a.Software {
			n++
		}
	}
	return n
}

// callNamed makes the call cases.json names (after the C exports) and
// returns its error.
func callNamed(t *testing.T, name string, index int) error {
	t.Helper()
	var err error
	switch name {
	case "report":
		var text string
		text, err = Report()
		if err != nil && text != "" {
			t.Errorf("Report() = %q with an error", text)
		}
	case "adapters":
		var list []Adapter
		list, err = Adapters()
		if err != nil && list != nil {
			t.Errorf("Adapters() = %v with an error", list)
		}
	case "adapter_count":
		var count int
		count, err = AdapterCount()
		if err != nil && count != -1 {
			t.Errorf("AdapterCount() = %d with an error", count)
		}
	case "vram_mb":
		var mb int
		mb, err = VRAMMB(index)
		if err != nil && mb != -1 {
			t.Errorf("VRAMMB(%d) = %d with an error", index, mb)
		}
	default:
		t.Fatalf("cases.json names an unknown call %q", name)
	}
	if !lockFreeElsewhere(t) {
		t.Errorf("the lock is still held after %s", name)
	}
	return err
}

// checkKind fails unless err is the error kind cases.json names:
// "enumeration" (an *Error with reason, which LastError then gives too) or
// "index" (ErrIndex, and no *Error).
func checkKind(t *testing.T, what string, err error, kind, reason string) {
	t.Helper()
	var e *Error
	switch kind {
	case "enumeration":
		if !errors.As(err, &e) || e.Reason != reason || errors.Is(err, ErrIndex) {
			t.Errorf("%s: %v; want an *Error with reason %q", what, err, reason)
		} else if err.Error() != "gpuinfo: "+reason {
			t.Errorf("%s: message %q", what, err.Error())
		}
		if got := LastError(); got != reason {
			t.Errorf("%s: LastError() = %q", what, got)
		}
	case "index":
		if !errors.Is(err, ErrIndex) || errors.As(err, &e) {
			t.Errorf("%s: %v; want ErrIndex", what, err)
		}
	default:
		t.Fatalf("cases.json names an unknown error kind %q", kind)
	}
}

// The named mutex is the one every binding of the library takes.
func TestLockName(t *testing.T) {
	lock := readCases(t).Lock
	if lockNamePattern != lock.Name || lockWaitMs != lock.WaitMs {
		t.Errorf("lock %q, %d ms; the bindings share %q, %d ms", lockNamePattern, lockWaitMs, lock.Name, lock.WaitMs)
	}
	if got, want := lockName(4242), strings.Replace(lock.Name, "{pid}", "4242", 1); got != want {
		t.Errorf("lockName(4242) = %q, want %q", got, want)
	}
}

// squatter is a row of the lock's squatter table: an object planted under
// the lock's name before the first call, and the reason that call fails
// with, or "" for a call that succeeds.
type squatter struct {
	Name  string `json:"name"`
	Makes string `json:"makes"`
	SDDL  string `json:"sddl"`
	Error string `json:"error"`
}

// squatterEnv names the row the test binary, run again by TestSquatters,
// plants before its first call.
const squatterEnv = "GPUINFO_TEST_SQUATTER"

var (
	advapi32ForTests = syscall.NewLazyDLL("advapi32.dll")
	convertSDDL      = advapi32ForTests.NewProc("ConvertStringSecurityDescriptorToSecurityDescriptorW")
	createEventW     = kernel32.NewProc("CreateEventW")
	openMutexW       = kernel32.NewProc("OpenMutexW")
	createThread     = kernel32.NewProc("CreateThread")
)

// lockFreeElsewhere tells whether another thread takes the named mutex at
// once: the call before let go of it on its own thread.
func lockFreeElsewhere(t *testing.T) bool {
	t.Helper()
	const synchronize, mutexModifyState = 0x00100000, 0x0001
	name, _ := syscall.UTF16PtrFromString(lockName(os.Getpid()))
	taken := make(chan bool)
	go func() {
		runtime.LockOSThread()
		defer runtime.UnlockOSThread()
		h, _, _ := openMutexW.Call(synchronize|mutexModifyState, 0, uintptr(unsafe.Pointer(name)))
		if h == 0 {
			taken <- false
			return
		}
		defer syscall.CloseHandle(syscall.Handle(h))
		got, _, _ := waitForSingleObject.Call(h, 0)
		ok := got == waitObject0 || got == waitAbandoned
		if ok {
			releaseMutex.Call(h)
		}
		taken <- ok
	}()
	return <-taken
}

// plant makes the row's object under the lock's name; the returned function
// is the squatter leaving.
func plant(t *testing.T, row squatter) func() {
	t.Helper()
	name, err := syscall.UTF16PtrFromString(lockName(os.Getpid()))
	if err != nil {
		t.Fatal(err)
	}
	var h uintptr
	switch row.Makes {
	case "event":
		h, _, _ = createEventW.Call(0, 1, 0, uintptr(unsafe.Pointer(name)))
	case "mutex":
		sddl, _ := syscall.UTF16PtrFromString(row.SDDL)
		var descriptor uintptr
		if ok, _, err := convertSDDL.Call(uintptr(unsafe.Pointer(sddl)), 1, uintptr(unsafe.Pointer(&descriptor)), 0); ok == 0 {
			t.Fatalf("unreadable SDDL: %v", err)
		}
		attributes := syscall.SecurityAttributes{Length: uint32(unsafe.Sizeof(syscall.SecurityAttributes{})),
			SecurityDescriptor: descriptor}
		h, _, _ = createMutexW.Call(uintptr(unsafe.Pointer(&attributes)), 0, uintptr(unsafe.Pointer(name)))
		localFree.Call(descriptor)
	case "held":
		// Held by a thread that keeps it until told: a goroutine on its own thread.
		made, release, done := make(chan uintptr), make(chan struct{}), make(chan struct{})
		go func() {
			runtime.LockOSThread()
			defer runtime.UnlockOSThread()
			m, _, _ := createMutexW.Call(0, 1, uintptr(unsafe.Pointer(name)))
			made <- m
			<-release
			releaseMutex.Call(m)
			close(done)
		}()
		h = <-made
		if h == 0 {
			t.Fatal("the squatter's object was not made")
		}
		return func() {
			close(release)
			<-done
			syscall.CloseHandle(syscall.Handle(h))
		}
	case "abandoned":
		// Made holding it by a thread of the system's own that then ends: Go
		// keeps the threads it made.
		var m uintptr
		start := syscall.NewCallback(func(uintptr) uintptr {
			m, _, _ = createMutexW.Call(0, 1, uintptr(unsafe.Pointer(name)))
			return 0
		})
		thread, _, err := createThread.Call(0, 0, start, 0, 0, 0)
		if thread == 0 {
			t.Fatalf("CreateThread: %v", err)
		}
		waitForSingleObject.Call(thread, syscall.INFINITE)
		syscall.CloseHandle(syscall.Handle(thread))
		h = m
	default:
		t.Fatalf("no squatter kind %q", row.Makes)
	}
	if h == 0 {
		t.Fatal("the squatter's object was not made")
	}
	return func() { syscall.CloseHandle(syscall.Handle(h)) }
}

// TestSquatters runs each row of the lock's squatter table in a process of
// its own, as the binding keeps its mutex once it has one: the object is
// planted before the first call, which must fail with the row's reason (an
// *Error) or succeed; once the squatter leaves, the next call must succeed,
// and each call that succeeds leaves the mutex free for another thread.
func TestSquatters(t *testing.T) {
	lock := readCases(t).Lock
	rowName := os.Getenv(squatterEnv)
	if rowName == "" {
		if *caseName != "example" {
			t.Skip("the lock's squatters run with the example case alone")
		}
		exe, err := os.Executable()
		if err != nil {
			t.Fatal(err)
		}
		for _, row := range lock.Squatters {
			// No seam: attaching it calls the library, which would make the lock first.
			child := exec.Command(exe, "-test.v", "-test.run", "^TestSquatters$", "-case", *caseName)
			child.Env = append(os.Environ(), squatterEnv+"="+row.Name)
			out, err := child.CombinedOutput()
			if err != nil || !strings.Contains(string(out), "--- PASS: TestSquatters") {
				t.Errorf("squatter %s: %v\n%s", row.Name, err, out)
			}
		}
		return
	}
	var row squatter
	for _, r := range lock.Squatters {
		if r.Name == rowName {
			row = r
		}
	}
	lockWaitNowMs = lock.TestWaitMs
	leave := plant(t, row)
	_, err := Version()
	var got *Error
	switch {
	case row.Error == "" && err != nil:
		t.Errorf("%s: the first call: %v, want success", row.Name, err)
	case row.Error == "" && !lockFreeElsewhere(t):
		t.Errorf("%s: the lock is still held after the first call", row.Name)
	case row.Error != "" && (!errors.As(err, &got) || got.Reason != row.Error):
		t.Errorf("%s: the first call: %v (%T), want an *Error with reason %q", row.Name, err, err, row.Error)
	}
	leave()
	if _, err := Version(); err != nil {
		t.Errorf("%s: once the squatter has gone: %v", row.Name, err)
	}
	if !lockFreeElsewhere(t) {
		t.Errorf("%s: the lock is still held after the call", row.Name)
	}
}

// expectedVersion is the project's version, which the build passes in
// GPUINFO_EXPECTED_VERSION.
func expectedVersion(t *testing.T) string {
	t.Helper()
	v := os.Getenv("GPUINFO_EXPECTED_VERSION")
	if v == "" {
		t.Fatal("GPUINFO_EXPECTED_VERSION is not set (ctest -L binding-go sets it)")
	}
	return v
}

func TestVersion(t *testing.T) {
	if got, err := Version(); got != expectedVersion(t) || err != nil {
		t.Fatalf("Version() = %q, %v", got, err)
	}
}

func TestReachable(t *testing.T) {
	c := expected(t)
	if c.Reason != "" || c.Generation != nil {
		t.Skip("no fixed report in this case")
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
		if !utf8.ValidString(a.Name) || a.Index < 0 || a.Software != (a.VendorID == 0x1414) {
			t.Errorf("adapter %+v", a)
		}
		want := a.DedicatedVRAMMB
		if want > math.MaxInt32 {
			want = math.MaxInt32 // the library saturates
		}
		if got, err := VRAMMB(a.Index); int64(got) != want || err != nil {
			t.Errorf("VRAMMB(%d) = %d, %v; want %d", a.Index, got, err, want)
		}
	}
	for _, e := range c.Errors {
		checkKind(t, fmt.Sprintf("%s(%d)", e.Call, e.Index), callNamed(t, e.Call, e.Index), e.Error, c.Reason)
	}
	// Out of range at the ends of int32 and past it: 1<<32 would reach the
	// library as 0 if it were passed on.
	for _, index := range []int{math.MaxInt32, math.MinInt32, 1 << 32, -1 << 32, 1<<32 + 1} {
		mb, err := VRAMMB(index)
		if mb != -1 {
			t.Errorf("VRAMMB(%d) = %d", index, mb)
		}
		checkKind(t, fmt.Sprintf("VRAMMB(%d)", index), err, "index", "")
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
	if len(c.Errors) == 0 {
		t.Fatal("cases.json lists no failing calls for an unreachable case")
	}
	for _, e := range c.Errors {
		checkKind(t, fmt.Sprintf("%s(%d)", e.Call, e.Index), callNamed(t, e.Call, e.Index), e.Error, c.Reason)
	}
	// Version never enumerates.
	if v, err := Version(); v != expectedVersion(t) || err != nil {
		t.Errorf("Version() = %q, %v", v, err)
	}
}

// TestSequences runs cases.json's sequences, switching the seam between the
// double (given each step's preset) and "missing"; the process's own case
// gets its preset back at the end.
func TestSequences(t *testing.T) {
	if *seamMode != "double" {
		t.Skip("needs the seam with the double")
	}
	defer mustAttachSeam(t, *seamMode)
	defer mustUsePreset(t, *caseName)
	for _, seq := range readCases(t).Sequences {
		t.Run(seq.Name, func(t *testing.T) {
			for i, s := range seq.Steps {
				if s.Scenario == "missing" {
					mustAttachSeam(t, "missing")
				} else {
					mustUsePreset(t, s.Scenario)
					mustAttachSeam(t, "double")
				}
				what := fmt.Sprintf("step %d: %s(%d) under %s", i, s.Call, s.Index, s.Scenario)
				if s.Result != nil {
					if s.Call != "vram_mb" {
						t.Fatalf("%s: a result only for vram_mb", what)
					}
					if got, err := VRAMMB(s.Index); got != *s.Result || err != nil {
						t.Errorf("%s = %d, %v; want %d", what, got, err, *s.Result)
					}
					continue
				}
				checkKind(t, what, callNamed(t, s.Call, s.Index), s.Error, s.Reason)
			}
		})
	}
}

// of gives the one g a whole report carries, or -1 for a torn one.
func (rule *generation) of(list []Adapter) int {
	carried := regexp.MustCompile("^" + regexp.QuoteMeta(rule.Name[:strings.Index(rule.Name, "{g}")]) + `(\d+)`)
	g := -1
	for _, a := range list {
		m := carried.FindStringSubmatch(a.Name)
		if m == nil {
			return -1
		}
		n, err := strconv.Atoi(m[1])
		if err != nil || (g >= 0 && n != g) {
			return -1
		}
		g = n
	}
	if g < 0 || len(list) != rule.Count.Base+g%rule.Count.Modulus {
		return -1
	}
	return g
}

// TestConcurrentAdapters: under the "changing" scenario, whose report
// changes with every enumeration, goroutines call Adapters at once (and,
// beside them, the counting calls, which enumerate too). Each result must be
// one generation's whole report, and no two the same generation: every call
// had its own enumeration and took its text whole before the next began.
func TestConcurrentAdapters(t *testing.T) {
	c := expected(t)
	if c.Generation == nil {
		t.Skip("needs a report that changes on every call")
	}
	// Each goroutine keeps its own results: nothing is shared but the package.
	type outcome struct {
		list []Adapter
		err  error
	}
	results := make([][]outcome, concurrentGoroutines)
	var wg sync.WaitGroup
	start := make(chan struct{})
	for w := range results {
		wg.Add(1)
		go func(w int) {
			defer wg.Done()
			<-start
			for k := 0; k < callsPerGoroutine; k++ {
				list, err := Adapters()
				results[w] = append(results[w], outcome{list, err})
				// Every other goroutine also interleaves the counting calls.
				if w%2 == 1 {
					if _, err := AdapterCount(); err != nil {
						results[w] = append(results[w], outcome{nil, err})
					}
					if _, err := VRAMMB(0); err != nil {
						results[w] = append(results[w], outcome{nil, err})
					}
				}
			}
		}(w)
	}
	close(start)
	wg.Wait()
	seen := map[int]bool{}
	n := 0
	for _, mine := range results {
		last := 0 // g only grows: each call enumerates after this goroutine's last one
		for _, r := range mine {
			if r.err != nil {
				t.Fatalf("a call failed: %v", r.err)
			}
			n++
			g := c.Generation.of(r.list)
			if g <= last {
				t.Fatalf("torn after generation %d: %+v", last, r.list)
			}
			last = g
			seen[g] = true
		}
	}
	if n != concurrentGoroutines*callsPerGoroutine || len(seen) != n {
		t.Errorf("%d reports of %d generations, want %d of as many", n, len(seen), concurrentGoroutines*callsPerGoroutine)
	}
	t.Logf("%d goroutines x %d calls of Adapters: %d whole reports, all of different generations",
		concurrentGoroutines, callsPerGoroutine, len(seen))
}

func TestLoad(t *testing.T) {
	// Loading afresh drops the seam: put it back for what runs after.
	defer func() {
		if err := Load(""); err != nil {
			t.Fatal(err)
		}
		if *seamMode != "" {
			mustAttachSeam(t, *seamMode)
		}
	}()
	if err := Load(besideExecutable(t, filepath.Join("alt", LibraryName))); err != nil {
		t.Fatalf("a copy elsewhere: %v", err)
	}
	if v, err := Version(); v != expectedVersion(t) || err != nil {
		t.Fatalf("the copy elsewhere: Version() = %q, %v", v, err)
	}
	// Paths relative to the test's folder, the current directory here.
	for _, e := range readCases(t).LoadErrors {
		if e.Error != "load" {
			t.Fatalf("cases.json names an unknown load error %q", e.Error)
		}
		abs, err := filepath.Abs(filepath.FromSlash(e.Path))
		if err != nil {
			t.Fatal(err)
		}
		err = Load(e.Path)
		var le *LoadError
		if !errors.As(err, &le) || le.Path != abs || !strings.Contains(err.Error(), abs) {
			t.Errorf("Load(%q) = %v; want a *LoadError naming %s", e.Path, err, abs)
		}
	}
	// A DLL without the library's calls.
	kernel32 := `C:\windows\system32\kernel32.dll`
	if system, err := os.ReadFile(kernel32); err != nil || len(system) == 0 {
		t.Fatalf("kernel32.dll: %v", err)
	}
	err := Load(kernel32)
	var le *LoadError
	if !errors.As(err, &le) || !strings.Contains(err.Error(), kernel32) ||
		!strings.Contains(err.Error(), "lacks the export gpuinfo_version") {
		t.Errorf("kernel32.dll as the library: %v", err)
	}
	if v, err := Version(); v != expectedVersion(t) || err != nil {
		t.Error("a failed Load dropped the library loaded before")
	}
	if err := Load(""); err != nil {
		t.Errorf("Load(\"\") beside the executable: %v", err)
	}
}
