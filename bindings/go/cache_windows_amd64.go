//go:build windows && amd64

package gpuinfo

import (
	"errors"
	"fmt"
	"os"
	"path/filepath"
	"sort"
	"strings"
	"syscall"
	"unsafe"
)

// What the embedded DLL's loader checks of the process, of the folders that
// lead to the cached copy and of the image it maps (see loadEmbedded).

var (
	convertStringSD           = advapi32.NewProc("ConvertStringSecurityDescriptorToSecurityDescriptorW")
	createDirectoryW          = kernel32.NewProc("CreateDirectoryW")
	getFinalPathNameByHandleW = kernel32.NewProc("GetFinalPathNameByHandleW")
	getMappedFileNameW        = kernel32.NewProc("K32GetMappedFileNameW")
)

const (
	tokenElevation = 20 // TOKEN_INFORMATION_CLASS

	fileReadAttributes        = 0x80
	readControl               = 0x20000
	fileAttributeReparsePoint = 0x400
	fileFlagBackupSemantics   = 0x02000000 // needed to open a folder
	fileFlagOpenReparsePoint  = 0x00200000 // the link itself, not its target

	seFileObject              = 1 // SE_OBJECT_TYPE
	daclSecurityInformation   = 0x4
	sddlRevision1             = 1
	accessAllowedAceType      = 0x0
	accessAllowedCallbackType = 0x9

	volumeNameDOS = 0x0 // GetFinalPathNameByHandleW: \\?\C:\...
	volumeNameNT  = 0x2 // \Device\HarddiskVolume1\...
	// Long enough for any path the loader opens (32767 UTF-16 units).
	maxPathChars = 32768

	systemSID         = "S-1-5-18"
	administratorsSID = "S-1-5-32-544"
)

// changeRights are the rights of a folder's entry that let its holder put,
// replace or remove a file there, or change who may: writing, deleting, the
// folder's attributes and ACL, its owner, and the generic rights that carry
// them.
const changeRights = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000

var errElevated = errors.New("an elevated process does not load the DLL from the per-user cache, " +
	"which its unelevated self can write: call Load with the path of a copy only administrators can change")

// processElevated tells whether the process's token is elevated.
func processElevated() (bool, error) {
	token, err := syscall.OpenCurrentProcessToken()
	if err != nil {
		return false, err
	}
	defer token.Close()
	var elevated, n uint32
	if err := syscall.GetTokenInformation(token, tokenElevation, (*byte)(unsafe.Pointer(&elevated)),
		uint32(unsafe.Sizeof(elevated)), &n); err != nil {
		return false, err
	}
	return elevated != 0, nil
}

// cacheBase is the user's cache folder (%LocalAppData%), which must be an
// absolute path: a relative one would be looked up from the current
// directory, and differently by the check and by the loader.
func cacheBase() (string, error) {
	base, err := os.UserCacheDir()
	if err != nil {
		return "", err
	}
	if !filepath.IsAbs(base) {
		return "", fmt.Errorf("%%LocalAppData%% is %q, not an absolute path", base)
	}
	return filepath.Clean(base), nil
}

// trustedSIDs are who may change a cache folder: the user, SYSTEM and
// Administrators.
func trustedSIDs() (map[string]bool, error) {
	token, err := syscall.OpenCurrentProcessToken()
	if err != nil {
		return nil, err
	}
	defer token.Close()
	user, err := token.GetTokenUser()
	if err != nil {
		return nil, err
	}
	sid, err := user.User.Sid.String()
	if err != nil {
		return nil, err
	}
	return map[string]bool{sid: true, systemSID: true, administratorsSID: true}, nil
}

// holdFolders opens each folder from the user's cache folder down, making
// the missing ones below it, and checks it (checkFolder). The handles of the
// folders below it share no delete access, so they can't be renamed or
// replaced while open; the caller closes them after the load.
func holdFolders(folders []string) ([]syscall.Handle, error) {
	trusted, err := trustedSIDs()
	if err != nil {
		return nil, fmt.Errorf("reading the process token: %w", err)
	}
	var held []syscall.Handle
	for i, folder := range folders {
		if i > 0 {
			if err := makeFolder(folder, trusted); err != nil {
				closeAll(held)
				return nil, err
			}
		}
		// The user's cache folder is not ours to judge beyond its kind, nor
		// to keep others from renaming: a folder with an open file in it
		// can't be renamed anyway.
		h, err := openFolder(folder, i > 0)
		if err == nil {
			err = checkFolder(h, i > 0, trusted)
			if err != nil {
				syscall.CloseHandle(h)
			}
		}
		if err != nil {
			closeAll(held)
			return nil, fmt.Errorf("the cache folder %s: %w", folder, err)
		}
		held = append(held, h)
	}
	return held, nil
}

func closeAll(handles []syscall.Handle) {
	for _, h := range handles {
		syscall.CloseHandle(h)
	}
}

// makeFolder makes the folder, unless it exists, with an ACL of its own that
// inherits nothing and lets only the trusted change or read it.
func makeFolder(folder string, trusted map[string]bool) error {
	sids := make([]string, 0, len(trusted))
	for sid := range trusted {
		sids = append(sids, sid)
	}
	sort.Strings(sids)
	sddl := "D:P"
	for _, sid := range sids {
		sddl += "(A;OICI;FA;;;" + sid + ")"
	}
	text, err := syscall.UTF16PtrFromString(sddl)
	if err != nil {
		return err
	}
	var sd uintptr
	if r, _, callErr := convertStringSD.Call(uintptr(unsafe.Pointer(text)), sddlRevision1,
		uintptr(unsafe.Pointer(&sd)), 0); r == 0 {
		return fmt.Errorf("making the ACL of %s: %w", folder, callErr)
	}
	defer localFree.Call(sd)
	name, err := syscall.UTF16PtrFromString(folder)
	if err != nil {
		return err
	}
	sa := syscall.SecurityAttributes{Length: uint32(unsafe.Sizeof(syscall.SecurityAttributes{})), SecurityDescriptor: sd}
	r, _, callErr := createDirectoryW.Call(uintptr(unsafe.Pointer(name)), uintptr(unsafe.Pointer(&sa)))
	if r == 0 && callErr != syscall.Errno(errorAlreadyExists) {
		return fmt.Errorf("making %s: %w", folder, callErr)
	}
	return nil
}

// openFolder opens the folder itself, not what a link there points to; with
// pin, nobody can rename or delete it while it is open.
func openFolder(folder string, pin bool) (syscall.Handle, error) {
	name, err := syscall.UTF16PtrFromString(folder)
	if err != nil {
		return 0, err
	}
	share := uint32(syscall.FILE_SHARE_READ | syscall.FILE_SHARE_WRITE)
	if !pin {
		share |= syscall.FILE_SHARE_DELETE
	}
	return syscall.CreateFile(name, fileReadAttributes|readControl, share,
		nil, syscall.OPEN_EXISTING, fileFlagBackupSemantics|fileFlagOpenReparsePoint, 0)
}

// checkFolder refuses a reparse point (a junction or a link, which could be
// pointed elsewhere between the check and the load) and anything but a
// folder; with owned, also a folder whose owner is not trusted, or whose
// ACL lets anyone else change it (a missing ACL lets everyone).
func checkFolder(h syscall.Handle, owned bool, trusted map[string]bool) error {
	var info syscall.ByHandleFileInformation
	if err := syscall.GetFileInformationByHandle(h, &info); err != nil {
		return err
	}
	if info.FileAttributes&fileAttributeReparsePoint != 0 {
		return errors.New("it is a reparse point (a junction or a link)")
	}
	if info.FileAttributes&syscall.FILE_ATTRIBUTE_DIRECTORY == 0 {
		return errors.New("it is not a folder")
	}
	if !owned {
		return nil
	}
	var owner *syscall.SID
	var dacl unsafe.Pointer
	var sd uintptr
	if r, _, _ := getSecurityInfo.Call(uintptr(h), seFileObject, ownerSecurityInformation|daclSecurityInformation,
		uintptr(unsafe.Pointer(&owner)), 0, uintptr(unsafe.Pointer(&dacl)), 0, uintptr(unsafe.Pointer(&sd))); r != 0 {
		return fmt.Errorf("reading its ACL: %w", syscall.Errno(r))
	}
	defer localFree.Call(sd)
	if sid, err := owner.String(); err != nil || !trusted[sid] {
		return fmt.Errorf("its owner %s is not the user, SYSTEM or Administrators", sid)
	}
	if dacl == nil {
		return errors.New("it has no ACL: everyone may change it")
	}
	return checkACL(dacl, trusted)
}

// checkACL walks an ACL: every entry that allows a change names a trusted
// SID. Entries that deny need no look.
func checkACL(dacl unsafe.Pointer, trusted map[string]bool) error {
	header := (*struct {
		revision, _ byte
		size        uint16
		count       uint16
		_           uint16
	})(dacl)
	ace := unsafe.Add(dacl, unsafe.Sizeof(*header))
	for i := 0; i < int(header.count); i++ {
		entry := (*struct {
			kind, flags byte
			size        uint16
			mask        uint32
			sid         syscall.SID
		})(ace)
		if (entry.kind == accessAllowedAceType || entry.kind == accessAllowedCallbackType) && entry.mask&changeRights != 0 {
			sid, err := entry.sid.String()
			if err != nil || !trusted[sid] {
				return fmt.Errorf("its ACL lets %s change it", sid)
			}
		}
		ace = unsafe.Add(ace, entry.size)
	}
	return nil
}

// checkMapped proves the DLL's mapped image is the file f that was checked:
// the name the memory manager gives the image, and f's own name from its
// handle, both with every link resolved, must be the same.
func checkMapped(dll *syscall.DLL, f *os.File) error {
	buf := make([]uint16, maxPathChars)
	n, _, callErr := getMappedFileNameW.Call(^uintptr(0), uintptr(dll.Handle), uintptr(unsafe.Pointer(&buf[0])), uintptr(len(buf)))
	if n == 0 {
		return fmt.Errorf("reading the mapped image's name: %w", callErr)
	}
	mapped := syscall.UTF16ToString(buf[:n])
	var names [2]string
	for i, kind := range []uintptr{volumeNameNT, volumeNameDOS} {
		n, _, callErr := getFinalPathNameByHandleW.Call(f.Fd(), uintptr(unsafe.Pointer(&buf[0])), uintptr(len(buf)), kind)
		if n == 0 || n >= uintptr(len(buf)) {
			return fmt.Errorf("reading the checked copy's name: %w", callErr)
		}
		names[i] = syscall.UTF16ToString(buf[:n])
	}
	if !sameImage(mapped, names[0], names[1]) {
		return fmt.Errorf("the mapped image %s is not the checked copy %s", mapped, names[0])
	}
	return nil
}

// sameImage tells whether the mapped image's name is the checked file's:
// Windows names an image by its device (\Device\HarddiskVolume1\...), as the
// handle's NT name; Wine names it by its drive (\??\C:\...), as the
// handle's DOS name with the other prefix. Case is not a difference.
func sameImage(mapped, ntName, dosName string) bool {
	const objectPrefix, dosPrefix = `\??\`, `\\?\`
	if strings.HasPrefix(mapped, objectPrefix) {
		return strings.EqualFold(dosPrefix+mapped[len(objectPrefix):], dosName)
	}
	return strings.EqualFold(mapped, ntName)
}
