//go:build windows && amd64

package gpuinfo

import (
	"syscall"
	"unsafe"
)

// lockWaitNowMs is what a call waits for the named mutex; only tests set it shorter.
var lockWaitNowMs uint32 = lockWaitMs

var (
	getTokenInformation     = advapi32.NewProc("GetTokenInformation")
	equalSid                = advapi32.NewProc("EqualSid")
	getAce                  = advapi32.NewProc("GetAce")
	getSidSubAuthorityCount = advapi32.NewProc("GetSidSubAuthorityCount")
	getSidSubAuthority      = advapi32.NewProc("GetSidSubAuthority")
)

const (
	tokenOwner                  = 4
	tokenIntegrityLevel         = 25
	seKernelObject              = 6
	labelSecurityInformation    = 0x10
	systemMandatoryLabelAceType = 0x11
	mediumLevel                 = 0x2000
	tokenInformationBytes       = 256
	aceSidOffset                = 8 // after the ACE's header (4 bytes) and access mask (4)
	aclCountOffset              = 4 // after the ACL's revision, padding and size
)

// at is the memory at p, an address the system gave (not Go memory), read
// through &p as text does rather than converted with unsafe.Pointer(p).
func at(p uintptr) unsafe.Pointer {
	return *(*unsafe.Pointer)(unsafe.Pointer(&p))
}

// level is the integrity level of a label's SID: its last sub-authority.
func level(sid uintptr) uint32 {
	count, _, _ := getSidSubAuthorityCount.Call(sid)
	last, _, _ := getSidSubAuthority.Call(sid, uintptr(*(*uint8)(at(count))-1))
	return *(*uint32)(at(last))
}

// ownMutex tells whether the mutex found under the lock's name is owned by
// the owner this process's token gives new objects and labelled no lower
// than they are (the lower of the token's level and medium). Anyone in the
// session can make an object under the name first, a low-integrity process
// of the same user too, and would hold every call hostage. Wine records no
// owner for objects of default security; Windows always does.
func ownMutex(mutex syscall.Handle) bool {
	token, err := syscall.OpenCurrentProcessToken()
	if err != nil {
		return false
	}
	defer token.Close()
	// Room for a TOKEN_OWNER or TOKEN_MANDATORY_LABEL and its SID, aligned.
	var ownerInfo, levelInfo [tokenInformationBytes / 8]uint64
	var size uint32
	for _, q := range []struct {
		class uintptr
		info  *[tokenInformationBytes / 8]uint64
	}{{tokenOwner, &ownerInfo}, {tokenIntegrityLevel, &levelInfo}} {
		if ok, _, _ := getTokenInformation.Call(uintptr(token), q.class, uintptr(unsafe.Pointer(q.info)),
			tokenInformationBytes, uintptr(unsafe.Pointer(&size))); ok == 0 {
			return false
		}
	}
	// Both start with a pointer to their SID, inside the same buffer.
	ours := level(uintptr(levelInfo[0]))
	if ours > mediumLevel {
		ours = mediumLevel
	}
	var owner, sacl, descriptor uintptr
	if r, _, _ := getSecurityInfo.Call(uintptr(mutex), seKernelObject, ownerSecurityInformation|labelSecurityInformation,
		uintptr(unsafe.Pointer(&owner)), 0, 0, uintptr(unsafe.Pointer(&sacl)), uintptr(unsafe.Pointer(&descriptor))); r != 0 {
		return false
	}
	defer localFree.Call(descriptor)
	found := uint32(mediumLevel)
	count := 0
	if sacl != 0 {
		count = int(*(*uint16)(at(sacl + aclCountOffset)))
	}
	for i := 0; i < count; i++ {
		var ace uintptr
		if ok, _, _ := getAce.Call(sacl, uintptr(i), uintptr(unsafe.Pointer(&ace))); ok != 0 &&
			*(*uint8)(at(ace)) == systemMandatoryLabelAceType {
			found = level(ace + aceSidOffset)
			break
		}
	}
	if owner != 0 {
		if same, _, _ := equalSid.Call(owner, uintptr(ownerInfo[0])); same == 0 {
			return false
		}
	}
	return found >= ours
}
