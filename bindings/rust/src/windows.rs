//! The library's five calls through libloading. The library answers one
//! call at a time and rewrites its texts in place on later calls, so every
//! call here holds one process-wide lock and copies the text it gets before
//! letting go of it: `LOADED` for this copy of the crate, and the named
//! mutex of `LOCK_NAME` for every copy and binding in the process.

use std::ffi::CStr;
use std::os::raw::{c_char, c_int};
use std::path::{Path, PathBuf};
use std::sync::{Mutex, MutexGuard, PoisonError};

use libloading::Library;
use std::ffi::OsString;
use std::os::windows::ffi::{OsStrExt, OsStringExt};

// LoadLibraryExW's flags: the DLL's own imports come from System32 alone,
// never the search order.
const LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR: u32 = 0x100;
const LOAD_LIBRARY_SEARCH_SYSTEM32: u32 = 0x800;
const LOAD_FLAGS: u32 = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

use crate::embedded::{self, EMBEDDED};
use crate::{lock_name, parse_report, Error, LIBRARY_NAME, LOCK_WAIT_MS};

type Handle = *mut std::ffi::c_void;

#[link(name = "kernel32")]
extern "system" {
    fn CreateMutexW(
        attributes: *mut std::ffi::c_void,
        initial_owner: i32,
        name: *const u16,
    ) -> Handle;
    fn WaitForSingleObject(handle: Handle, milliseconds: u32) -> u32;
    fn ReleaseMutex(handle: Handle) -> i32;
    fn CloseHandle(handle: Handle) -> i32;
    fn GetCurrentProcess() -> Handle;
    fn LocalFree(memory: Handle) -> Handle;
    fn GetLastError() -> u32;
    fn GetFullPathNameW(
        name: *const u16,
        length: u32,
        buffer: *mut u16,
        file_part: *mut *mut u16,
    ) -> u32;
}

#[link(name = "advapi32")]
extern "system" {
    fn OpenProcessToken(process: Handle, access: u32, token: *mut Handle) -> i32;
    fn GetTokenInformation(
        token: Handle,
        class: u32,
        information: *mut std::ffi::c_void,
        length: u32,
        returned: *mut u32,
    ) -> i32;
    fn GetSecurityInfo(
        handle: Handle,
        object_type: u32,
        information: u32,
        owner: *mut Handle,
        group: *mut Handle,
        dacl: *mut Handle,
        sacl: *mut Handle,
        descriptor: *mut Handle,
    ) -> u32;
    fn EqualSid(a: Handle, b: Handle) -> i32;
    fn GetAce(acl: Handle, index: u32, ace: *mut Handle) -> i32;
    fn GetSidSubAuthorityCount(sid: Handle) -> *mut u8;
    fn GetSidSubAuthority(sid: Handle, index: u32) -> *mut u32;
}

const WAIT_OBJECT_0: u32 = 0;
const WAIT_ABANDONED: u32 = 0x80;
const ERROR_ALREADY_EXISTS: u32 = 183;
const TOKEN_QUERY: u32 = 0x0008;
const TOKEN_OWNER: u32 = 4;
const TOKEN_INTEGRITY_LEVEL: u32 = 25;
const SE_KERNEL_OBJECT: u32 = 6;
const OWNER_SECURITY_INFORMATION: u32 = 0x1;
const LABEL_SECURITY_INFORMATION: u32 = 0x10;
const SYSTEM_MANDATORY_LABEL_ACE_TYPE: u8 = 0x11;
const MEDIUM_LEVEL: u32 = 0x2000;
/// Where an ACE's SID starts: its header (4 bytes) and access mask (4).
const ACE_SID_OFFSET: usize = 8;
/// Where an ACL's count of ACEs is: after revision, padding and size.
const ACL_COUNT_OFFSET: usize = 4;

/// What a call waits for the lock; only the crate's own tests shorten it.
static WAIT_MS: std::sync::atomic::AtomicU32 = std::sync::atomic::AtomicU32::new(LOCK_WAIT_MS);

#[cfg(feature = "test-hooks")]
#[doc(hidden)]
pub fn set_lock_wait_ms(ms: u32) {
    WAIT_MS.store(ms, std::sync::atomic::Ordering::Relaxed);
}

/// The process-wide mutex, made on first use; only touched under `LOADED`.
static NAMED: std::sync::atomic::AtomicUsize = std::sync::atomic::AtomicUsize::new(0);

/// The named mutex, held until dropped.
struct Named(Handle);

/// The integrity level (the last sub-authority) of a label's SID.
///
/// # Safety
/// `sid` is a valid SID.
unsafe fn level(sid: Handle) -> u32 {
    *GetSidSubAuthority(sid, u32::from(*GetSidSubAuthorityCount(sid)) - 1)
}

/// Whether `mutex`, found under the lock's name, is owned by the owner this
/// process's token gives new objects and labelled no lower than they are
/// (the lower of the token's level and medium). Anyone in the session can
/// make an object under the name first, a low-integrity process of the same
/// user too, and would hold every call hostage. Wine records no owner for
/// objects of default security; Windows always does.
fn own_mutex(mutex: Handle) -> bool {
    // Room for a TOKEN_OWNER or TOKEN_MANDATORY_LABEL and its SID, aligned.
    let mut owner_info = [0u64; 16];
    let mut level_info = [0u64; 16];
    let mut size = 0u32;
    // SAFETY: a token of this process, queried into buffers of the size
    // given and closed once read; the descriptor GetSecurityInfo allocates
    // is freed once its owner and label are read.
    unsafe {
        let mut token: Handle = std::ptr::null_mut();
        if OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &mut token) == 0 {
            return false;
        }
        let known = GetTokenInformation(
            token,
            TOKEN_OWNER,
            owner_info.as_mut_ptr().cast(),
            std::mem::size_of_val(&owner_info) as u32,
            &mut size,
        ) != 0
            && GetTokenInformation(
                token,
                TOKEN_INTEGRITY_LEVEL,
                level_info.as_mut_ptr().cast(),
                std::mem::size_of_val(&level_info) as u32,
                &mut size,
            ) != 0;
        CloseHandle(token);
        if !known {
            return false;
        }
        // Both start with a pointer to their SID.
        let token_owner = owner_info[0] as Handle;
        let ours = level(level_info[0] as Handle).min(MEDIUM_LEVEL);
        let mut owner: Handle = std::ptr::null_mut();
        let mut sacl: Handle = std::ptr::null_mut();
        let mut descriptor: Handle = std::ptr::null_mut();
        if GetSecurityInfo(
            mutex,
            SE_KERNEL_OBJECT,
            OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
            &mut owner,
            std::ptr::null_mut(),
            std::ptr::null_mut(),
            &mut sacl,
            &mut descriptor,
        ) != 0
        {
            return false;
        }
        let mut found = MEDIUM_LEVEL;
        let count = if sacl.is_null() {
            0
        } else {
            std::ptr::read_unaligned(sacl.cast::<u8>().add(ACL_COUNT_OFFSET).cast::<u16>())
        };
        for i in 0..u32::from(count) {
            let mut ace: Handle = std::ptr::null_mut();
            if GetAce(sacl, i, &mut ace) != 0
                && *ace.cast::<u8>() == SYSTEM_MANDATORY_LABEL_ACE_TYPE
            {
                found = level(ace.cast::<u8>().add(ACE_SID_OFFSET).cast());
                break;
            }
        }
        let own = (owner.is_null() || EqualSid(owner, token_owner) != 0) && found >= ours;
        LocalFree(descriptor);
        own
    }
}

fn lock_error(reason: String) -> Error {
    Error::Enumeration { reason }
}

impl Named {
    fn take() -> Result<Named, Error> {
        use std::sync::atomic::Ordering;
        let mut handle = NAMED.load(Ordering::Relaxed) as Handle;
        if handle.is_null() {
            let name: Vec<u16> = lock_name(std::process::id())
                .encode_utf16()
                .chain(Some(0))
                .collect();
            // SAFETY: the name is NUL-terminated UTF-16; no attributes means the
            // token's default security. A failure is not kept: the next call
            // tries again, as the squatter may have gone.
            handle = unsafe { CreateMutexW(std::ptr::null_mut(), 0, name.as_ptr()) };
            // SAFETY: reads this thread's last error.
            let error = unsafe { GetLastError() };
            if handle.is_null() {
                return Err(lock_error(format!(
                    "no process lock: CreateMutexW failed with {error}"
                )));
            }
            if error == ERROR_ALREADY_EXISTS && !own_mutex(handle) {
                // SAFETY: the handle just opened, not kept.
                unsafe { CloseHandle(handle) };
                return Err(lock_error(
                    "no process lock: the mutex under its name is not this process's own".into(),
                ));
            }
            NAMED.store(handle as usize, Ordering::Relaxed);
        }
        // SAFETY: a mutex handle of this process, never closed.
        match unsafe { WaitForSingleObject(handle, WAIT_MS.load(Ordering::Relaxed)) } {
            WAIT_OBJECT_0 | WAIT_ABANDONED => Ok(Named(handle)),
            other => Err(lock_error(format!(
                "no process lock: WaitForSingleObject gave {other}"
            ))),
        }
    }
}

impl Drop for Named {
    fn drop(&mut self) {
        // SAFETY: taken by this thread in take().
        unsafe { ReleaseMutex(self.0) };
    }
}

type TextCall = unsafe extern "C" fn() -> *const c_char;
type CountCall = unsafe extern "C" fn() -> c_int;
type VramCall = unsafe extern "C" fn(c_int) -> c_int;

struct Loaded {
    version: TextCall,
    last_error: TextCall,
    get_json: TextCall,
    adapter_count: CountCall,
    vram_mb: VramCall,
    // The calls above point into it: it is unloaded only with them.
    _library: Library,
}

/// Only reached if the library failed without saying why.
const UNKNOWN_REASON: &str = "adapter enumeration failed";

static LOADED: Mutex<Option<Loaded>> = Mutex::new(None);

fn lock() -> MutexGuard<'static, Option<Loaded>> {
    // The state is only ever replaced whole, so a panic while it was held
    // left nothing half-written.
    LOADED.lock().unwrap_or_else(PoisonError::into_inner)
}

fn export<T: Copy>(library: &Library, path: &Path, name: &str) -> Result<T, Error> {
    // SAFETY: T is the export's own signature, as gpuinfo.h declares it.
    match unsafe { library.get::<T>(name.as_bytes()) } {
        Ok(symbol) => Ok(*symbol),
        Err(_) => Err(Error::Load {
            path: path.to_path_buf(),
            message: format!("lacks the export {name}"),
        }),
    }
}

fn open(path: &Path) -> Result<Loaded, Error> {
    // SAFETY: the library's DllMain does nothing but keep its own module
    // handle; it has no initialisers to run.
    let library = unsafe { libloading::os::windows::Library::load_with_flags(path, LOAD_FLAGS) }
        .map(Library::from)
        .map_err(|err| Error::Load {
            path: path.to_path_buf(),
            message: match std::error::Error::source(&err) {
                Some(cause) => format!("{err}: {cause}"),
                None => err.to_string(),
            },
        })?;
    Ok(Loaded {
        version: export(&library, path, "gpuinfo_version")?,
        last_error: export(&library, path, "gpuinfo_last_error")?,
        get_json: export(&library, path, "gpuinfo_get_json")?,
        adapter_count: export(&library, path, "gpuinfo_adapter_count")?,
        vram_mb: export(&library, path, "gpuinfo_vram_mb")?,
        _library: library,
    })
}

fn beside_executable() -> Result<PathBuf, Error> {
    let exe = std::env::current_exe().map_err(|err| Error::Load {
        path: PathBuf::from(LIBRARY_NAME),
        message: format!("the executable's folder is unknown: {err}"),
    })?;
    Ok(exe.with_file_name(LIBRARY_NAME))
}

/// The library the crate carries, through its per-user copy; in a build
/// without one, the library beside the executable.
fn open_default() -> Result<Loaded, Error> {
    match EMBEDDED {
        Some(dll) => embedded::load(dll, open),
        None => open(&beside_executable()?),
    }
}

/// Runs `call` on the loaded library under the lock, loading the default
/// one first if none is.
fn with_library<R>(call: impl FnOnce(&Loaded) -> Result<R, Error>) -> Result<R, Error> {
    let mut loaded = lock();
    let library = match *loaded {
        Some(ref library) => library,
        None => loaded.insert(open_default()?),
    };
    let _named = Named::take()?;
    call(library)
}

/// Copies the library's NUL-terminated UTF-8 text, which later calls
/// rewrite in place; the caller holds the lock.
fn copy_text(text: *const c_char) -> String {
    if text.is_null() {
        return String::new();
    }
    // SAFETY: a non-null text of the library is NUL-terminated and stays
    // unchanged until its next call, which the held lock rules out.
    unsafe { CStr::from_ptr(text) }
        .to_string_lossy()
        .into_owned()
}

fn failure(library: &Loaded) -> Error {
    // SAFETY: the library's calls take no arguments but vram_mb's int and
    // may be called at any time; the lock keeps them one at a time.
    let reason = copy_text(unsafe { (library.last_error)() });
    Error::Enumeration {
        reason: if reason.is_empty() {
            UNKNOWN_REASON.to_string()
        } else {
            reason
        },
    }
}

pub fn version() -> Result<String, Error> {
    // SAFETY: as in failure().
    with_library(|library| Ok(copy_text(unsafe { (library.version)() })))
}

pub fn last_error() -> Result<String, Error> {
    // SAFETY: as in failure().
    with_library(|library| Ok(copy_text(unsafe { (library.last_error)() })))
}

pub fn report() -> Result<String, Error> {
    with_library(|library| {
        // SAFETY: as in failure().
        let report = unsafe { (library.get_json)() };
        if report.is_null() {
            Err(failure(library))
        } else {
            Ok(copy_text(report))
        }
    })
}

pub fn adapter_count() -> Result<u32, Error> {
    with_library(|library| {
        // SAFETY: as in failure().
        let count = unsafe { (library.adapter_count)() };
        u32::try_from(count).map_err(|_| failure(library))
    })
}

pub fn vram_mb(index: usize) -> Result<u32, Error> {
    // The export takes a C int: a wider index would arrive cut short.
    let argument = match c_int::try_from(index) {
        Ok(argument) => argument,
        Err(_) => return Err(Error::Index(index)),
    };
    with_library(|library| {
        // SAFETY: as in failure().
        let megabytes = unsafe { (library.vram_mb)(argument) };
        if let Ok(megabytes) = u32::try_from(megabytes) {
            return Ok(megabytes);
        }
        // -1 is both "no such adapter" and "no enumeration"; one report
        // answers, so DXGI recovering in between can't turn a failure into
        // "no adapter".
        // SAFETY: as in failure().
        let report = unsafe { (library.get_json)() };
        if report.is_null() {
            return Err(failure(library));
        }
        match parse_report(&copy_text(report))?
            .iter()
            .find(|a| a.index as usize == index)
        {
            Some(adapter) => Ok(adapter.dedicated_vram_mb.min(i32::MAX as u64) as u32),
            None => Err(Error::Index(index)),
        }
    })
}

/// `path` made absolute as Windows itself does: a drive-relative one such as
/// `C:x.dll`, which `Path::join` leaves relative, too.
fn full_path(path: &Path) -> Result<PathBuf, Error> {
    let wide: Vec<u16> = path
        .as_os_str()
        .encode_wide()
        .chain(std::iter::once(0))
        .collect();
    let mut buffer: Vec<u16> = vec![0; 260];
    loop {
        // SAFETY: `wide` ends in a NUL and `buffer` has the length given.
        let got = unsafe {
            GetFullPathNameW(
                wide.as_ptr(),
                buffer.len() as u32,
                buffer.as_mut_ptr(),
                std::ptr::null_mut(),
            )
        } as usize;
        if got == 0 {
            return Err(Error::Load {
                path: path.to_path_buf(),
                message: format!(
                    "GetFullPathNameW failed: {}",
                    std::io::Error::last_os_error()
                ),
            });
        }
        if got < buffer.len() {
            return Ok(PathBuf::from(OsString::from_wide(&buffer[..got])));
        }
        buffer.resize(got, 0);
    }
}

pub fn load(path: &Path) -> Result<(), Error> {
    // A relative path would go through the DLL search order.
    let path = full_path(path)?;
    let mut loaded = lock();
    // The library loaded before goes only once this one is usable.
    *loaded = Some(open(&path)?);
    Ok(())
}
