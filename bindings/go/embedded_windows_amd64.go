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

// cachedPath is where the embedded DLL with this digest is written:
// <user cache>\quillmar-dxgi-gpu-info\<version>-<digest prefix>\<dll>.
func cachedPath(digest [sha256.Size]byte) (string, error) {
	base, err := os.UserCacheDir()
	if err != nil {
		return "", err
	}
	folder := moduleVersion() + "-" + hex.EncodeToString(digest[:])[:cacheHashChars]
	return filepath.Join(base, cacheFolder, folder, LibraryName), nil
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

// writeCopy writes the embedded DLL to path through a file of its own in the
// same folder renamed over path, so a reader never sees half a DLL. The
// folders are made for the user alone (0700; on Windows they take the
// user's own %LOCALAPPDATA% permissions).
func writeCopy(path string, data []byte) error {
	dir := filepath.Dir(path)
	if err := os.MkdirAll(dir, 0o700); err != nil {
		return err
	}
	tmp, err := os.CreateTemp(dir, LibraryName+".*.tmp")
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

// loadEmbedded loads the embedded DLL from its cached copy, written there the
// first time. Before each load the copy's SHA-256 is checked against the
// embedded DLL's; a copy that differs (changed, truncated, replaced) is
// written afresh and checked once more, and if it still differs, or can't
// be rewritten (another process has the changed copy loaded), the load is
// refused with a *LoadError.
func loadEmbedded(data []byte) error {
	digest := sha256.Sum256(data)
	path, err := cachedPath(digest)
	if err != nil {
		return &LoadError{Path: LibraryName, Err: fmt.Errorf("no user cache folder for the embedded DLL: %w", err)}
	}
	f, err := lockedCopy(path, data)
	if err != nil {
		if !errors.Is(err, errTampered) && !errors.Is(err, fs.ErrNotExist) {
			return &LoadError{Path: path, Err: err}
		}
		if err := writeCopy(path, data); err != nil {
			return &LoadError{Path: path, Err: fmt.Errorf("writing the embedded DLL: %w", err)}
		}
		if f, err = lockedCopy(path, data); err != nil {
			return &LoadError{Path: path, Err: err}
		}
	}
	defer f.Close()
	return loadPath(path)
}
