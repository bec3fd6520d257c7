//go:build windows && amd64

package gpuinfo

import (
	"bytes"
	"crypto/sha256"
	"embed"
	"encoding/hex"
	"errors"
	"fmt"
	"io"
	"io/fs"
	"os"
	"path/filepath"
	"runtime/debug"
	"syscall"
	"time"
)

// native holds the DLL in a released module: the release commits the signed
// DLL into native/ before it tags the module. A development checkout has
// only native/README.md there, and the DLL is looked for beside the
// executable as before.
//
//go:embed native
var native embed.FS

const (
	embeddedName = "native/" + LibraryName
	// cacheFolder is the folder under the user's cache folder
	// (%LOCALAPPDATA% on Windows) that holds one folder per DLL.
	cacheFolder = "quillmar-dxgi-gpu-info"
	// cacheHashChars is how much of the SHA-256 (in hex) names the DLL's
	// folder, beside the module's version.
	cacheHashChars = 16
	// devVersion names the folder when the build knows no module version.
	devVersion = "devel"
	modulePath = "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go"
)

// embeddedLibrary is the embedded DLL, or nil when the module has none.
func embeddedLibrary() []byte {
	data, err := native.ReadFile(embeddedName)
	if err != nil {
		return nil
	}
	return data
}

// moduleVersion is this module's version as the go command resolved it
// ("v1.0.0"), or devVersion in a build of the module itself.
func moduleVersion() string {
	info, ok := debug.ReadBuildInfo()
	if !ok {
		return devVersion
	}
	for _, dep := range info.Deps {
		if dep.Path == modulePath && dep.Version != "" {
			return dep.Version
		}
	}
	return devVersion
}

// versionFolder names the folder of the DLL with this digest:
// <module version>-<digest prefix>.
func versionFolder(digest [sha256.Size]byte) string {
	return moduleVersion() + "-" + hex.EncodeToString(digest[:])[:cacheHashChars]
}

// errTampered is a cached copy whose bytes are not the embedded DLL's.
var errTampered = errors.New("the cached copy is not the embedded DLL")

// lockedCopy opens the cached copy so that nobody can write, rename or
// delete it while it is open (share mode read only: the loader's own open,
// which asks for read and execute, still succeeds), and checks that its
// bytes are the embedded DLL's. The caller loads the DLL while the file is
// open and closes it afterwards, so the bytes checked are the bytes loaded.
func lockedCopy(path string, want []byte) (*os.File, error) {
	name, err := syscall.UTF16PtrFromString(path)
	if err != nil {
		return nil, err
	}
	h, err := syscall.CreateFile(name, syscall.GENERIC_READ, syscall.FILE_SHARE_READ, nil,
		syscall.OPEN_EXISTING, syscall.FILE_ATTRIBUTE_NORMAL, 0)
	if err != nil {
		return nil, err
	}
	f := os.NewFile(uintptr(h), path)
	got := sha256.New()
	// One byte more than the DLL: a longer file is a different file.
	n, err := io.Copy(got, io.LimitReader(f, int64(len(want))+1))
	wantSum := sha256.Sum256(want)
	if err == nil && (n != int64(len(want)) || !bytes.Equal(got.Sum(nil), wantSum[:])) {
		err = errTampered
	}
	if err != nil {
		f.Close()
		return nil, err
	}
	return f, nil
}

// A process renaming its copy into place holds it open for deleting for a
// moment, and opening it to check it meanwhile meets a sharing violation:
// checkedCopy tries again, every sharingRetryDelay for sharingRetryFor.
const (
	errorSharingViolation = syscall.Errno(32)
	sharingRetryDelay     = 10 * time.Millisecond
	sharingRetryFor       = 2 * time.Second
)

// checkedCopy is lockedCopy, tried again while the copy is being renamed.
func checkedCopy(path string, want []byte) (*os.File, error) {
	for waited := time.Duration(0); ; waited += sharingRetryDelay {
		f, err := lockedCopy(path, want)
		if !errors.Is(err, errorSharingViolation) || waited >= sharingRetryFor {
			return f, err
		}
		time.Sleep(sharingRetryDelay)
	}
}

// writeCopy writes the embedded DLL to path through a file of its own in the
// same folder renamed over path, so a reader never sees half a DLL. The
// folder exists: holdFolders made it.
func writeCopy(path string, data []byte) error {
	tmp, err := os.CreateTemp(filepath.Dir(path), LibraryName+".*.tmp")
	if err != nil {
		return err
	}
	_, err = tmp.Write(data)
	if closeErr := tmp.Close(); err == nil {
		err = closeErr
	}
	if err == nil {
		err = os.Rename(tmp.Name(), path)
	}
	if err != nil {
		os.Remove(tmp.Name())
	}
	return err
}

// beforeWrite runs between the check that finds no good copy and the
// writing of one; only tests set it, to make another process act in that
// window.
var beforeWrite = func(path string) {}

// loadEmbedded loads the embedded DLL from its cached copy, written there the
// first time, and refuses with a *LoadError whatever it can't vouch for:
//   - an elevated process, which must not run code from a folder its
//     unelevated self can write (Load takes a path it can trust instead);
//   - a %LocalAppData% that is not an absolute path;
//   - a cache folder that is a reparse point, or that anyone but the user,
//     SYSTEM and Administrators may change (the folders it makes allow only
//     those three);
//   - a copy whose SHA-256 is not the embedded DLL's, once it has been
//     written afresh: a copy that differs (changed, truncated, replaced) is
//     rewritten, and if it can't be (another process has it loaded) or still
//     differs, the load is refused;
//   - a mapped image that is not the file checked.
//
// The copy is checked while it is open in a share mode that lets nobody
// write, rename or delete it, and loaded before it is closed; the cache's
// own folders above it are held open against renaming until then.
func loadEmbedded(data []byte) error {
	if elevated, err := processElevated(); err != nil {
		return &LoadError{Path: LibraryName, Err: fmt.Errorf("reading the process token: %w", err)}
	} else if elevated {
		return &LoadError{Path: LibraryName, Err: errElevated}
	}
	base, err := cacheBase()
	if err != nil {
		return &LoadError{Path: LibraryName, Err: fmt.Errorf("no user cache folder for the embedded DLL: %w", err)}
	}
	digest := sha256.Sum256(data)
	folders := []string{base, filepath.Join(base, cacheFolder), filepath.Join(base, cacheFolder, versionFolder(digest))}
	path := filepath.Join(folders[len(folders)-1], LibraryName)
	held, err := holdFolders(folders)
	if err != nil {
		return &LoadError{Path: path, Err: err}
	}
	defer closeAll(held)
	f, err := checkedCopy(path, data)
	if err != nil {
		if !errors.Is(err, errTampered) && !errors.Is(err, fs.ErrNotExist) {
			return &LoadError{Path: path, Err: err}
		}
		beforeWrite(path)
		if writeErr := writeCopy(path, data); writeErr != nil {
			// Another process may have put the copy in place since the
			// check and hold it open or loaded, so that nothing can be
			// renamed over it: the copy in place is what counts.
			if f, err = checkedCopy(path, data); err != nil {
				return &LoadError{Path: path, Err: fmt.Errorf("writing the embedded DLL: %w", writeErr)}
			}
		} else if f, err = checkedCopy(path, data); err != nil {
			return &LoadError{Path: path, Err: err}
		}
	}
	defer f.Close()
	dll, err := openLibrary(path)
	if err != nil {
		return &LoadError{Path: path, Err: err}
	}
	if err := checkMapped(dll, f); err != nil {
		dll.Release()
		return &LoadError{Path: path, Err: err}
	}
	return useLibrary(dll, path)
}
