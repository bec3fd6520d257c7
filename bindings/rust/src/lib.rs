#![doc = include_str!("../README.md")]
#![warn(missing_docs)]

use std::fmt;
use std::path::{Path, PathBuf};

use serde::de::{Error as _, Unexpected};
use serde::{Deserialize, Deserializer};

#[cfg(all(windows, target_arch = "x86_64"))]
#[path = "windows.rs"]
mod sys;

#[cfg(all(windows, target_arch = "x86_64"))]
mod embedded;

#[cfg(any(test, all(windows, target_arch = "x86_64")))]
mod sha256;

#[cfg(not(all(windows, target_arch = "x86_64")))]
#[path = "unsupported.rs"]
mod sys;

/// The DLL's file name. Until [`load`] is called, the crate loads the DLL
/// it carries (the released crate embeds it) from a copy written for the
/// user under `%LOCALAPPDATA%\quillmar-dxgi-gpu-info\`, its bytes checked
/// against the embedded ones before every load; a build of the crate without
/// one looks for the DLL under this name in the folder of the running
/// executable.
pub const LIBRARY_NAME: &str = "quillmar-dxgi-gpu-info.dll";

/// The Windows named mutex every binding of the library holds across each
/// call and the copy of its text, `{pid}` standing for the decimal process
/// id: the library's texts are one per process, so every copy of this crate
/// (two cdylibs, say) and every other language in the process takes it. It
/// is made with the process token's default security; an object already
/// under the name that is no mutex, or not owned and labelled as this
/// process's own objects are, gives [`Error::Enumeration`] at once, and the
/// next call tries again. One held longer than [`LOCK_WAIT_MS`] (which no
/// call of the library takes) gives [`Error::Enumeration`] rather than a hang. A holder that ended without
/// letting go counts as let go: every call rewrites the texts whole.
/// A host calling the DLL through an FFI of its own takes the same lock.
pub const LOCK_NAME: &str = "Local\\quillmar-dxgi-gpu-info-{pid}";

/// How long a call waits for the lock of [`LOCK_NAME`], milliseconds.
pub const LOCK_WAIT_MS: u32 = 30_000;

#[cfg(all(windows, target_arch = "x86_64", feature = "test-hooks"))]
#[doc(hidden)]
pub use sys::set_lock_wait_ms;

/// [`LOCK_NAME`] for the process `pid`.
pub fn lock_name(pid: u32) -> String {
    LOCK_NAME.replace("{pid}", &pid.to_string())
}

/// One graphics adapter, as the library's report describes it. Field names
/// are the report's keys.
#[derive(Debug, Clone, PartialEq, Eq, Hash, Deserialize)]
pub struct Adapter {
    /// Position in DXGI's order; the index [`vram_mb`] takes for this adapter.
    pub index: u32,
    /// UTF-8, at most 191 bytes, trailing spaces removed.
    pub name: String,
    /// Microsoft, NVIDIA, Intel, AMD, VMware, Red Hat, QEMU or Unknown.
    pub vendor: String,
    /// PCI vendor id.
    pub vendor_id: u32,
    /// PCI device id.
    pub device_id: u32,
    /// Dedicated video memory, whole MiB.
    pub dedicated_vram_mb: u64,
    /// Shared system memory, whole MiB.
    pub shared_memory_mb: u64,
    /// User-mode driver version as four numbers, or empty when DXGI gives none.
    pub driver_version: String,
    /// Microsoft's software rasterizer (vendor 0x1414).
    #[serde(deserialize_with = "zero_or_one")]
    pub software: bool,
}

/// Why a call gave no answer.
#[derive(Debug, Clone, PartialEq, Eq)]
pub enum Error {
    /// DXGI could not be asked; `reason` is the library's last-error text,
    /// such as `"dxgi.dll not found"`.
    Enumeration {
        /// The library's reason.
        reason: String,
    },
    /// No adapter at this index.
    Index(usize),
    /// The DLL could not be loaded from `path`, or is not this library.
    Load {
        /// The absolute path that was tried.
        path: PathBuf,
        /// What went wrong.
        message: String,
    },
    /// Not Windows on x86-64: the library exists only there.
    Unsupported,
}

impl fmt::Display for Error {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        match self {
            Error::Enumeration { reason } => write!(f, "adapter enumeration failed: {reason}"),
            Error::Index(index) => write!(f, "no adapter at index {index}"),
            Error::Load { path, message } => {
                write!(f, "cannot load {}: {message}", path.display())
            }
            Error::Unsupported => f.write_str("quillmar-gpuinfo runs on Windows x64 only"),
        }
    }
}

impl std::error::Error for Error {}

/// The library's version, `"1.0.0"`.
pub fn version() -> Result<String, Error> {
    sys::version()
}

/// Why the last enumeration failed, or `""`. [`report`] and [`adapters`]
/// empty it before they start; the counting calls leave an earlier text in
/// place when they succeed.
pub fn last_error() -> Result<String, Error> {
    sys::last_error()
}

/// The library's one-line JSON report of every adapter, unchanged.
pub fn report() -> Result<String, Error> {
    sys::report()
}

/// Every adapter DXGI lists, software ones included, in DXGI's order.
pub fn adapters() -> Result<Vec<Adapter>, Error> {
    parse_report(&report()?)
}

/// How many adapters are not software adapters.
pub fn adapter_count() -> Result<u32, Error> {
    sys::adapter_count()
}

/// Dedicated video memory of the adapter at `index`, whole MiB, saturated at
/// `i32::MAX` (2,147,483,647) by the library. [`Error::Index`] when there is
/// no such adapter, [`Error::Enumeration`] when DXGI could not be asked.
pub fn vram_mb(index: usize) -> Result<u32, Error> {
    sys::vram_mb(index)
}

/// Loads the library from `path`; a relative path is taken from the current
/// directory, never from the system's search order. If it fails, the
/// library loaded before stays in use.
pub fn load(path: &Path) -> Result<(), Error> {
    sys::load(path)
}

fn zero_or_one<'de, D: Deserializer<'de>>(deserializer: D) -> Result<bool, D::Error> {
    match u64::deserialize(deserializer)? {
        0 => Ok(false),
        1 => Ok(true),
        other => Err(D::Error::invalid_value(
            Unexpected::Unsigned(other),
            &"0 or 1",
        )),
    }
}

#[derive(Deserialize)]
struct Report {
    adapters: Vec<Adapter>,
}

pub(crate) fn parse_report(report: &str) -> Result<Vec<Adapter>, Error> {
    // The library writes strict JSON; a report that doesn't parse comes from
    // a DLL that is not this library's version.
    serde_json::from_str::<Report>(report)
        .map(|parsed| parsed.adapters)
        .map_err(|err| Error::Enumeration {
            reason: format!("unreadable report: {err}"),
        })
}

#[cfg(test)]
mod tests {
    use super::*;

    const ONE: &str = r#"{"adapters":[{"index":0,"name":"Example V7 Graphics","vendor":"AMD","vendor_id":4098,"device_id":29631,"dedicated_vram_mb":16368,"shared_memory_mb":32727,"driver_version":"31.0.24033.1003","software":0}]}"#;

    fn example() -> Adapter {
        Adapter {
            index: 0,
            name: "Example V7 Graphics".into(),
            vendor: "AMD".into(),
            vendor_id: 4098,
            device_id: 29631,
            dedicated_vram_mb: 16368,
            shared_memory_mb: 32727,
            driver_version: "31.0.24033.1003".into(),
            software: false,
        }
    }

    #[test]
    fn report_parses_into_adapters() {
        assert_eq!(parse_report(ONE), Ok(vec![example()]));
        let software = ONE.replace(r#""software":0"#, r#""software":1"#);
        let parsed = parse_report(&software).unwrap();
        assert!(parsed[0].software);
        assert_eq!(parse_report(r#"{"adapters":[]}"#), Ok(vec![]));
    }

    #[test]
    fn keys_a_later_library_adds_are_passed_over() {
        let later = ONE.replace(r#""software":0"#, r#""software":0,"luid":"0:1234""#);
        assert_eq!(parse_report(&later), Ok(vec![example()]));
    }

    #[test]
    fn reports_the_library_does_not_write_are_refused() {
        let refused = [
            ONE.replace(r#""software":0"#, r#""software":2"#),
            ONE.replace(r#""software":0"#, r#""software":true"#),
            ONE.replace(r#""software":0"#, r#""software":-1"#),
            ONE.replace(r#","driver_version":"31.0.24033.1003""#, ""),
            ONE.replace("4098", "4294967296"),
            ONE.replace("29631", "-1"),
            ONE.replace("{\"adapters\":", "{\"list\":"),
            ONE[..ONE.len() - 1].to_string(),
        ];
        for report in &refused {
            match parse_report(report) {
                Err(Error::Enumeration { reason }) => {
                    assert!(reason.starts_with("unreadable report: "), "{reason}")
                }
                other => panic!("{report} gave {other:?}"),
            }
        }
    }

    #[test]
    fn errors_say_what_failed() {
        let cases = [
            (
                Error::Enumeration {
                    reason: "dxgi.dll not found".into(),
                },
                "adapter enumeration failed: dxgi.dll not found",
            ),
            (Error::Index(7), "no adapter at index 7"),
            (
                Error::Load {
                    path: PathBuf::from("/opt/app/quillmar-dxgi-gpu-info.dll"),
                    message: "not found".into(),
                },
                "cannot load /opt/app/quillmar-dxgi-gpu-info.dll: not found",
            ),
            (
                Error::Unsupported,
                "quillmar-gpuinfo runs on Windows x64 only",
            ),
        ];
        for (error, text) in &cases {
            assert_eq!(error.to_string(), *text);
            let boxed: Box<dyn std::error::Error + Send + Sync> = Box::new(error.clone());
            assert_eq!(boxed.to_string(), *text);
        }
    }
}
