//go:build windows && amd64

package gpuinfo

// The embedded DLL's cached copy, loaded (loadEmbedded, with the DLL beside
// the test as the embedded bytes) by processes of their own: each gets its
// own %LocalAppData%, and runs with the user's unelevated token, as an
// elevated process refuses the cache. Run with -cache.

import (
	"bufio"
	"bytes"
	"crypto/sha256"
	"errors"
	"flag"
	"fmt"
	"io"
	"os"
	"os/exec"
	"path/filepath"
	"strings"
	"syscall"
	"testing"
	"time"
	"unsafe"
)

var cacheTests = flag.Bool("cache", false,
	"run the loader's tests, once: the embedded DLL's cache, which start processes of their own, and the load's checks")

// First runs on an empty cache: rounds of processes started together.
const (
	firstRunProcesses = 8
	firstRunRounds    = 20
)

// A process of the test binary started by these tests: what it does, and
// the cached copy it holds.
const (
	childRoleEnv = "GPUINFO_TEST_CACHE_ROLE"
	childPathEnv = "GPUINFO_TEST_CACHE_PATH"
	// Lines a child prints for its parent.
	resultPrefix = "result: "
	readyLine    = "ready"
	windowLine   = "window: a good copy is in place, held open by another process"
	okResult     = "ok "
)

const tokenLinkedToken = 19 // TOKEN_INFORMATION_CLASS

const deleteAccess = 0x10000

// renameHold is how long the "renaming" child holds the copy open for
// deleting once it is ready: longer than a process takes to start here, well
// within the time the loader tries again for.
const renameHold = 300 * time.Millisecond

func needCacheTests(t *testing.T) {
	t.Helper()
	if !*cacheTests {
		t.Skip("the cache's tests run with -cache")
	}
}

// underWine tells Wine by the export only its ntdll has.
func underWine() bool {
	return syscall.NewLazyDLL("ntdll.dll").NewProc("wine_get_version").Find() == nil
}

func libraryBytes(t *testing.T) []byte {
	t.Helper()
	data, err := os.ReadFile(besideExecutable(t, LibraryName))
	if err != nil {
		t.Fatal(err)
	}
	return data
}

// cachedCopy is where loadEmbedded keeps data under base.
func cachedCopy(base string, data []byte) string {
	return filepath.Join(base, cacheFolder, versionFolder(sha256.Sum256(data)), LibraryName)
}

// unelevatedToken is the token the children run with: none (they inherit
// this process's) unless this process is elevated. Then it is the linked,
// unelevated token where UAC split the user's (Wine starts every process
// elevated, with one), or else this one restricted as UAC would (where UAC is
// off, as on hosted CI runners): Administrators for denying only, and no
// privileges.
func unelevatedToken(t *testing.T) syscall.Token {
	t.Helper()
	elevated, err := processElevated()
	if err != nil {
		t.Fatal(err)
	}
	if !elevated {
		return 0
	}
	var token syscall.Token
	if err := syscall.OpenProcessToken(currentProcess(), syscall.TOKEN_QUERY|syscall.TOKEN_DUPLICATE|
		syscall.TOKEN_ASSIGN_PRIMARY, &token); err != nil {
		t.Fatal(err)
	}
	defer token.Close()
	var linked syscall.Token
	var n uint32
	if err := syscall.GetTokenInformation(token, tokenLinkedToken, (*byte)(unsafe.Pointer(&linked)),
		uint32(unsafe.Sizeof(linked)), &n); err == nil && !tokenElevated(t, linked) {
		t.Cleanup(func() { linked.Close() })
		return linked
	}
	administrators, err := syscall.StringToSid(administratorsSID)
	if err != nil {
		t.Fatal(err)
	}
	deny := syscall.SIDAndAttributes{Sid: administrators}
	var restricted syscall.Token
	if r, _, err := createRestrictedToken.Call(uintptr(token), disableMaxPrivilege|luaToken, 1,
		uintptr(unsafe.Pointer(&deny)), 0, 0, 0, 0, uintptr(unsafe.Pointer(&restricted))); r == 0 {
		t.Skipf("this process is elevated, and no unelevated token could be made to start the cache's processes with: %v", err)
	}
	t.Cleanup(func() { restricted.Close() })
	if tokenElevated(t, restricted) {
		t.Skip("this process is elevated, and its token restricted as UAC would is still elevated")
	}
	return restricted
}

var createRestrictedToken = advapi32.NewProc("CreateRestrictedToken")

// CreateRestrictedToken's flags.
const (
	disableMaxPrivilege = 0x1
	luaToken            = 0x4
)

func currentProcess() syscall.Handle {
	h, _ := syscall.GetCurrentProcess()
	return h
}

func tokenElevated(t *testing.T, token syscall.Token) bool {
	t.Helper()
	var elevated, n uint32
	if err := syscall.GetTokenInformation(token, tokenElevation, (*byte)(unsafe.Pointer(&elevated)),
		uint32(unsafe.Sizeof(elevated)), &n); err != nil {
		t.Fatal(err)
	}
	return elevated != 0
}

// child is the test binary run again as a process of the given role, with
// localAppData as its %LocalAppData%, in the folder dir.
func child(t *testing.T, token syscall.Token, role, localAppData, dir string, env ...string) *exec.Cmd {
	t.Helper()
	exe, err := os.Executable()
	if err != nil {
		t.Fatal(err)
	}
	cmd := exec.Command(exe, "-test.v", "-test.run", "^TestCacheChild$")
	for _, kv := range os.Environ() {
		// Windows' names are the same in any case.
		if !strings.HasPrefix(strings.ToUpper(kv), "LOCALAPPDATA=") {
			cmd.Env = append(cmd.Env, kv)
		}
	}
	cmd.Env = append(cmd.Env, "LocalAppData="+localAppData, childRoleEnv+"="+role)
	cmd.Env = append(cmd.Env, env...)
	cmd.Dir = dir
	cmd.SysProcAttr = &syscall.SysProcAttr{Token: token}
	return cmd
}

// holder is a child that holds path (role "open" or "loaded") until stop.
type holder struct {
	cmd   *exec.Cmd
	stdin io.WriteCloser
	out   bytes.Buffer
}

func startHolder(t *testing.T, token syscall.Token, role, path string) *holder {
	t.Helper()
	h := &holder{cmd: child(t, token, role, "", "", childPathEnv+"="+path)}
	stdout, err := h.cmd.StdoutPipe()
	if err != nil {
		t.Fatal(err)
	}
	if h.stdin, err = h.cmd.StdinPipe(); err != nil {
		t.Fatal(err)
	}
	if err := h.cmd.Start(); err != nil {
		t.Fatal(err)
	}
	lines := bufio.NewScanner(stdout)
	for lines.Scan() {
		h.out.WriteString(lines.Text() + "\n")
		if lines.Text() == readyLine {
			go io.Copy(&h.out, stdout)
			return h
		}
	}
	h.cmd.Wait()
	t.Fatalf("the process holding %s (%s) stopped before it was ready:\n%s", path, role, h.out.String())
	return nil
}

func (h *holder) stop(t *testing.T) {
	t.Helper()
	h.stdin.Close()
	if err := h.cmd.Wait(); err != nil {
		t.Errorf("the holding process: %v\n%s", err, h.out.String())
	}
}

// loadResult runs a child of a loading role and returns its result line and
// its whole output.
func loadResult(t *testing.T, token syscall.Token, role, localAppData, dir string) (string, string) {
	t.Helper()
	out, err := child(t, token, role, localAppData, dir).CombinedOutput()
	if err != nil {
		t.Fatalf("the loading process: %v\n%s", err, out)
	}
	for _, line := range strings.Split(string(out), "\n") {
		if strings.HasPrefix(line, resultPrefix) {
			return strings.TrimSpace(strings.TrimPrefix(line, resultPrefix)), string(out)
		}
	}
	t.Fatalf("the loading process gave no result:\n%s", out)
	return "", ""
}

// TestCacheChild is the children's side; it does nothing in a test run.
func TestCacheChild(t *testing.T) {
	role := os.Getenv(childRoleEnv)
	if role == "" {
		t.Skip("run by the cache's tests as a process of its own")
	}
	path := os.Getenv(childPathEnv)
	switch role {
	case "load":
		fmt.Println(resultPrefix + loadAndAsk(t))
	case "contended":
		// Between this process's check and its write, another process
		// writes a good copy and holds it open.
		data := libraryBytes(t)
		var h *holder
		beforeWrite = func(path string) {
			if err := writeCopy(path, data); err != nil {
				t.Fatalf("writing the copy of the other process: %v", err)
			}
			h = startHolder(t, 0, "open", path)
			fmt.Println(windowLine)
		}
		fmt.Println(resultPrefix + loadAndAsk(t))
		if h == nil {
			t.Fatal("the window between the check and the write never came")
		}
		h.stop(t)
	case "open":
		f, err := lockedCopy(path, libraryBytes(t))
		if err != nil {
			t.Fatal(err)
		}
		defer f.Close()
		waitForParent()
	case "renaming":
		// As a rename into place does, for a moment.
		name, err := syscall.UTF16PtrFromString(path)
		if err != nil {
			t.Fatal(err)
		}
		h, err := syscall.CreateFile(name, deleteAccess|fileReadAttributes,
			syscall.FILE_SHARE_READ|syscall.FILE_SHARE_WRITE|syscall.FILE_SHARE_DELETE, nil, syscall.OPEN_EXISTING, 0, 0)
		if err != nil {
			t.Fatal(err)
		}
		fmt.Println(readyLine)
		time.Sleep(renameHold)
		syscall.CloseHandle(h)
		io.Copy(io.Discard, os.Stdin)
	case "loaded":
		dll, err := openLibrary(path)
		if err != nil {
			t.Fatal(err)
		}
		defer dll.Release()
		waitForParent()
	default:
		t.Fatalf("unknown role %q", role)
	}
}

// loadAndAsk loads the cached copy and asks it its version: "ok <version>"
// or the error.
func loadAndAsk(t *testing.T) string {
	if err := loadEmbedded(libraryBytes(t)); err != nil {
		var le *LoadError
		if !errors.As(err, &le) {
			return fmt.Sprintf("not a *LoadError (%T): %v", err, err)
		}
		return err.Error()
	}
	v, err := Version()
	if err != nil {
		return err.Error()
	}
	return okResult + v
}

// waitForParent says the child is ready and waits for its stdin to close.
func waitForParent() {
	fmt.Println(readyLine)
	io.Copy(io.Discard, os.Stdin)
}

// TestCacheContention: with nothing cached, another process puts a good copy
// in place and holds it open after this one's check and before its write,
// so that its rename over the copy is refused. The good copy is loaded.
func TestCacheContention(t *testing.T) {
	needCacheTests(t)
	token := unelevatedToken(t)
	got, out := loadResult(t, token, "contended", t.TempDir(), t.TempDir())
	if !strings.Contains(out, windowLine) || got != okResult+expectedVersion(t) {
		t.Fatalf("a good copy held open by another process in the window: %s\n%s", got, out)
	}
	t.Log(strings.TrimSpace(out))
}

// TestCacheFirstRuns: processes started together on an empty cache, round
// after round, all load the DLL.
func TestCacheFirstRuns(t *testing.T) {
	needCacheTests(t)
	token := unelevatedToken(t)
	start := time.Now()
	for round := 0; round < firstRunRounds; round++ {
		base := t.TempDir()
		cmds := make([]*exec.Cmd, firstRunProcesses)
		outs := make([]bytes.Buffer, firstRunProcesses)
		for i := range cmds {
			cmds[i] = child(t, token, "load", base, base)
			cmds[i].Stdout = &outs[i]
			cmds[i].Stderr = &outs[i]
		}
		for i := range cmds {
			if err := cmds[i].Start(); err != nil {
				// Wine now and then fails to create a process under another
				// token while others start ("Internal error"): no call of the
				// library has run, so that process is started once more.
				cmds[i] = child(t, token, "load", base, base)
				outs[i].Reset()
				cmds[i].Stdout = &outs[i]
				cmds[i].Stderr = &outs[i]
				if again := cmds[i].Start(); again != nil {
					t.Fatalf("round %d, process %d: %v, and started again: %v", round, i, err, again)
				}
			}
		}
		for i, cmd := range cmds {
			err := cmd.Wait()
			if err != nil || !strings.Contains(outs[i].String(), resultPrefix+okResult) {
				t.Fatalf("round %d, process %d: %v\n%s", round, i, err, outs[i].String())
			}
		}
	}
	t.Logf("%d rounds of %d processes started together on an empty cache: every one loaded the DLL (%.1f s)",
		firstRunRounds, firstRunProcesses, time.Since(start).Seconds())
}

// cacheState is a row of TestCacheStates: what is in the cache (under base)
// before a process loads from it, and what that process must get: "" to
// load the DLL, or else a text of the *LoadError.
type cacheState struct {
	name string
	// windowsOnly says why Wine can't show the row, or is "".
	windowsOnly string
	setup       func(t *testing.T, token syscall.Token, base string, data []byte)
	refused     string
}

// Helpers of the rows.
func writeFile(t *testing.T, path string, data []byte) {
	t.Helper()
	if err := os.MkdirAll(filepath.Dir(path), 0o700); err != nil {
		t.Fatal(err)
	}
	if err := os.WriteFile(path, data, 0o600); err != nil {
		t.Fatal(err)
	}
}

func holdCopy(role string, copyData func(t *testing.T, data []byte) []byte) func(*testing.T, syscall.Token, string, []byte) {
	return func(t *testing.T, token syscall.Token, base string, data []byte) {
		path := cachedCopy(base, data)
		writeFile(t, path, copyData(t, data))
		h := startHolder(t, token, role, path)
		t.Cleanup(func() { h.stop(t) })
	}
}

func theDLL(t *testing.T, data []byte) []byte { return data }

// anotherDLL is a DLL that loads but is not the library.
func anotherDLL(t *testing.T, data []byte) []byte {
	other, err := os.ReadFile(besideExecutable(t, "fake_dxgi.dll"))
	if err != nil {
		t.Fatal(err)
	}
	return other
}

// junction makes link a junction to a new folder beside it.
func junction(t *testing.T, link string) {
	t.Helper()
	target := link + "-target"
	if err := os.MkdirAll(target, 0o700); err != nil {
		t.Fatal(err)
	}
	if err := os.MkdirAll(filepath.Dir(link), 0o700); err != nil {
		t.Fatal(err)
	}
	if out, err := exec.Command("cmd", "/c", "mklink", "/J", link, target).CombinedOutput(); err != nil {
		t.Fatalf("mklink /J %s: %v\n%s", link, err, out)
	}
}

const noReparsePoints = "Wine 8 makes no junctions and reports no link as a reparse point"

var cacheStates = []cacheState{
	{name: "empty"},
	{name: "good copy held open by another process", setup: holdCopy("open", theDLL)},
	{name: "good copy loaded by another process", setup: holdCopy("loaded", theDLL)},
	{name: "good copy being renamed into place by another process", setup: holdCopy("renaming", theDLL)},
	{name: "tampered copy", setup: func(t *testing.T, _ syscall.Token, base string, data []byte) {
		writeFile(t, cachedCopy(base, data), append(append([]byte{}, data...), 0))
	}},
	{name: "tampered copy loaded by another process", setup: holdCopy("loaded", anotherDLL),
		refused: "writing the embedded DLL"},
	{name: "cache folder others may change", setup: func(t *testing.T, _ syscall.Token, base string, _ []byte) {
		folder := filepath.Join(base, cacheFolder)
		if err := os.Mkdir(folder, 0o700); err != nil {
			t.Fatal(err)
		}
		setACL(t, folder, "D:P(A;OICI;FA;;;WD)")
	}, refused: "its ACL lets S-1-1-0 change it"},
	{name: "junction at the cache folder", windowsOnly: noReparsePoints,
		setup: func(t *testing.T, _ syscall.Token, base string, _ []byte) {
			junction(t, filepath.Join(base, cacheFolder))
		}, refused: "reparse point"},
	{name: "junction at the version folder", windowsOnly: noReparsePoints,
		setup: func(t *testing.T, _ syscall.Token, base string, data []byte) {
			junction(t, filepath.Dir(cachedCopy(base, data)))
		}, refused: "reparse point"},
}

func setACL(t *testing.T, path, sddl string) {
	t.Helper()
	setFileSecurity := advapi32.NewProc("SetFileSecurityW")
	text, _ := syscall.UTF16PtrFromString(sddl)
	var sd uintptr
	if r, _, err := convertStringSD.Call(uintptr(unsafe.Pointer(text)), sddlRevision1, uintptr(unsafe.Pointer(&sd)), 0); r == 0 {
		t.Fatal(err)
	}
	defer localFree.Call(sd)
	name, _ := syscall.UTF16PtrFromString(path)
	if r, _, err := setFileSecurity.Call(uintptr(unsafe.Pointer(name)), daclSecurityInformation, sd); r == 0 {
		t.Fatal(err)
	}
}

// TestCacheStates: a process loads from a cache in each state. A load
// leaves a good copy in folders only the user, SYSTEM and Administrators
// may change; a refusal leaves the DLL unloaded.
func TestCacheStates(t *testing.T) {
	needCacheTests(t)
	token := unelevatedToken(t)
	data := libraryBytes(t)
	trusted, err := trustedSIDs()
	if err != nil {
		t.Fatal(err)
	}
	for _, row := range cacheStates {
		t.Run(row.name, func(t *testing.T) {
			if row.windowsOnly != "" && underWine() {
				t.Skip(row.windowsOnly)
			}
			base := t.TempDir()
			if row.setup != nil {
				row.setup(t, token, base, data)
			}
			got, out := loadResult(t, token, "load", base, base)
			if row.refused != "" {
				if strings.HasPrefix(got, okResult) || !strings.Contains(got, row.refused) ||
					!strings.HasPrefix(got, "gpuinfo: loading ") {
					t.Fatalf("got %q, want a *LoadError saying %q\n%s", got, row.refused, out)
				}
				return
			}
			if got != okResult+expectedVersion(t) {
				t.Fatalf("got %q\n%s", got, out)
			}
			cached := cachedCopy(base, data)
			if on, err := os.ReadFile(cached); err != nil || !bytes.Equal(on, data) {
				t.Errorf("the cached copy is not the DLL: %v", err)
			}
			for _, folder := range []string{filepath.Dir(filepath.Dir(cached)), filepath.Dir(cached)} {
				h, err := openFolder(folder, false)
				if err != nil {
					t.Fatal(err)
				}
				if err := checkFolder(h, true, trusted); err != nil {
					t.Errorf("%s: %v", folder, err)
				}
				syscall.CloseHandle(h)
			}
		})
	}
}

// TestCacheLocalAppData: a %LocalAppData% that is not an absolute path is
// refused before anything is written: the process's folder stays empty.
func TestCacheLocalAppData(t *testing.T) {
	needCacheTests(t)
	token := unelevatedToken(t)
	for _, value := range []string{"", "cache", `C:cache`, `\cache`, `.`} {
		t.Run(fmt.Sprintf("%q", value), func(t *testing.T) {
			dir := t.TempDir()
			got, out := loadResult(t, token, "load", value, dir)
			if !strings.HasPrefix(got, "gpuinfo: loading "+LibraryName+": no user cache folder") {
				t.Errorf("got %q, want the *LoadError for no user cache folder\n%s", got, out)
			}
			if left := folderNames(t, dir); len(left) != 0 {
				t.Errorf("the current folder holds %v", left)
			}
		})
	}
}

// TestCacheElevated: an elevated process is told to load by path, and
// writes nothing.
func TestCacheElevated(t *testing.T) {
	needCacheTests(t)
	if elevated, err := processElevated(); err != nil || !elevated {
		t.Skipf("this process is not elevated (%v)", err)
	}
	base := t.TempDir()
	t.Setenv("LocalAppData", base)
	err := loadEmbedded(libraryBytes(t))
	var le *LoadError
	if !errors.As(err, &le) || !errors.Is(err, errElevated) || !strings.Contains(err.Error(), "call Load") {
		t.Fatalf("loadEmbedded when elevated: %v", err)
	}
	if left := folderNames(t, base); len(left) != 0 {
		t.Errorf("the cache holds %v", left)
	}
}

func folderNames(t *testing.T, dir string) []string {
	t.Helper()
	entries, err := os.ReadDir(dir)
	if err != nil {
		t.Fatal(err)
	}
	var names []string
	for _, e := range entries {
		names = append(names, e.Name())
	}
	return names
}

// TestSameImage: the mapped image's name against the checked file's, in
// the forms Windows and Wine give them.
func TestSameImage(t *testing.T) {
	const (
		nt  = `\Device\HarddiskVolume3\Users\u\AppData\Local\q\v\x.dll`
		dos = `\\?\C:\Users\u\AppData\Local\q\v\x.dll`
	)
	for _, row := range []struct {
		mapped string
		same   bool
	}{
		{nt, true},
		{strings.ToUpper(nt), true},
		{`\Device\HarddiskVolume3\Users\u\AppData\Local\q\w\x.dll`, false},
		{`\Device\HarddiskVolume4\Users\u\AppData\Local\q\v\x.dll`, false},
		{`\??\C:\Users\u\AppData\Local\q\v\x.dll`, true},
		{`\??\C:\Users\u\AppData\Local\other\v\x.dll`, false},
		{`\??\D:\Users\u\AppData\Local\q\v\x.dll`, false},
		{`C:\Users\u\AppData\Local\q\v\x.dll`, false},
		{"", false},
	} {
		if got := sameImage(row.mapped, nt, dos); got != row.same {
			t.Errorf("sameImage(%q) = %t", row.mapped, got)
		}
	}
}

// TestCheckMapped: the names Windows (or Wine) gives a loaded DLL's image and
// an open file agree for the same file, and differ for a copy elsewhere.
func TestCheckMapped(t *testing.T) {
	needCacheTests(t)
	alt := besideExecutable(t, filepath.Join("alt", LibraryName))
	dll, err := openLibrary(alt)
	if err != nil {
		t.Fatal(err)
	}
	defer dll.Release()
	for _, row := range []struct {
		path string
		same bool
	}{
		{alt, true},
		{besideExecutable(t, LibraryName), false},
	} {
		f, err := os.Open(row.path)
		if err != nil {
			t.Fatal(err)
		}
		err = checkMapped(dll, f)
		f.Close()
		if (err == nil) != row.same {
			t.Errorf("the image of %s against the file %s: %v", alt, row.path, err)
		}
	}
}
