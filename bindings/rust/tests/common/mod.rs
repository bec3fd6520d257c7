//! What the Windows tests share. They run as Windows programs (under Wine
//! on Linux) laid out by the build beside the DLL, dxgi_seam.dll, the
//! dxgi.dll test doubles and cases.json (bindings/testdata), which says what
//! each scenario of the double must give.
#![allow(dead_code)] // each test program uses a part

use std::os::raw::{c_char, c_int};
use std::path::PathBuf;

use quillmar_gpuinfo::{Adapter, Error, LIBRARY_NAME};
use serde::Deserialize;

/// The folder of the test program, where the build lays out what it needs.
pub fn test_folder() -> PathBuf {
    let exe = std::env::current_exe().expect("the test program's path");
    exe.parent()
        .expect("the test program's folder")
        .to_path_buf()
}

pub fn beside_executable(name: &str) -> PathBuf {
    test_folder().join(name)
}

/// The expected version, from the build (the project's version).
pub fn expected_version() -> String {
    std::env::var("GPUINFO_EXPECTED_VERSION").expect("GPUINFO_EXPECTED_VERSION is set by the build")
}

/// How the test seam (tests/seam) answers the library's request for the
/// system's dxgi.dll: its dxgi_seam_attach modes.
#[derive(Clone, Copy, Debug)]
pub enum Seam {
    /// The dxgi.dll test double beside the seam, in the scenario named by
    /// FAKE_DXGI_SCENARIO.
    Double = 0,
    /// A dxgi.dll without CreateDXGIFactory.
    NoEntry = 1,
    /// No dxgi.dll at all.
    Missing = 2,
}

impl Seam {
    /// The mode GPUINFO_SEAM names for this process, if any.
    pub fn from_env() -> Option<Seam> {
        match std::env::var("GPUINFO_SEAM").ok()?.as_str() {
            "double" => Some(Seam::Double),
            "no_entry" => Some(Seam::NoEntry),
            "missing" => Some(Seam::Missing),
            other => panic!("unknown GPUINFO_SEAM {other:?}"),
        }
    }
}

/// Points the loaded library's own import of LoadLibraryExA at the seam. A
/// library loaded afresh needs it again; calling it again changes the mode.
pub fn attach_seam(mode: Seam) {
    quillmar_gpuinfo::version().expect("the library beside the test loads");
    type Attach = unsafe extern "C" fn(*const c_char, c_int) -> c_int;
    // SAFETY: dxgi_seam.dll is the project's own test seam; dxgi_seam_attach
    // takes a NUL-terminated module name and a mode.
    unsafe {
        let seam =
            libloading::Library::new(beside_executable("dxgi_seam.dll")).expect("dxgi_seam.dll");
        let attach = seam
            .get::<Attach>(b"dxgi_seam_attach\0")
            .expect("dxgi_seam_attach");
        let name = format!("{LIBRARY_NAME}\0");
        assert_eq!(
            attach(name.as_ptr().cast(), mode as c_int),
            1,
            "dxgi_seam_attach({LIBRARY_NAME}, {mode:?})"
        );
        // The library's import now points into the seam: it stays loaded.
        std::mem::forget(seam);
    }
}

/// cases.json: what each scenario must give, load errors and sequences.
#[derive(Deserialize)]
pub struct Table {
    pub cases: Vec<Case>,
    pub load_errors: Vec<LoadError>,
    pub sequences: Vec<Sequence>,
    pub lock: Lock,
}

/// The named mutex every binding takes.
#[derive(Deserialize)]
pub struct Lock {
    pub name: String,
    pub wait_ms: u32,
    pub test_wait_ms: u32,
    pub squatters: Vec<Squatter>,
}

/// An object planted under the lock's name before the first call: `makes`
/// "event", "mutex" (with the security descriptor `sddl`), "held" or
/// "abandoned"; the call fails with `error` as its reason, or succeeds.
#[derive(Deserialize)]
pub struct Squatter {
    pub name: String,
    pub makes: String,
    pub sddl: Option<String>,
    pub error: Option<String>,
}

/// One scenario: the adapters the report must list, or only how many (the
/// system's own DXGI), or the reason DXGI was unreachable; the calls that
/// must fail; for the changing scenario, the rule its reports follow.
#[derive(Deserialize)]
pub struct Case {
    pub name: String,
    pub adapters: Option<Vec<TableAdapter>>,
    pub adapter_count: Option<u32>,
    pub reason: Option<String>,
    #[serde(default)]
    pub errors: Vec<Expected>,
    pub generation: Option<Generation>,
}

/// An adapter as the table writes it (`software` a boolean, where the
/// library's report has 0/1).
#[derive(Clone, Deserialize)]
pub struct TableAdapter {
    index: u32,
    name: String,
    vendor: String,
    vendor_id: u32,
    device_id: u32,
    dedicated_vram_mb: u64,
    shared_memory_mb: u64,
    driver_version: String,
    software: bool,
}

impl From<TableAdapter> for Adapter {
    fn from(a: TableAdapter) -> Adapter {
        Adapter {
            index: a.index,
            name: a.name,
            vendor: a.vendor,
            vendor_id: a.vendor_id,
            device_id: a.device_id,
            dedicated_vram_mb: a.dedicated_vram_mb,
            shared_memory_mb: a.shared_memory_mb,
            driver_version: a.driver_version,
            software: a.software,
        }
    }
}

/// A call that must fail, and how.
#[derive(Deserialize)]
pub struct Expected {
    pub call: String,
    pub index: Option<i64>,
    pub error: String,
}

/// The changing scenario, what tells a whole report from a torn one:
/// enumeration g lists `count.base + g % count.modulus` adapters, each name
/// carrying g as the digits after the template's text before `{g}`.
#[derive(Deserialize)]
pub struct Generation {
    pub count: GenerationCount,
    pub name: String,
}

#[derive(Deserialize)]
pub struct GenerationCount {
    pub base: u64,
    pub modulus: u64,
}

impl Generation {
    /// The one g a whole report carries: every name the same g, as many
    /// adapters as g gives. None for a torn report.
    pub fn of(&self, report: &[Adapter]) -> Option<u64> {
        let head = &self.name[..self.name.find("{g}")?];
        let carried = |name: &str| -> Option<u64> {
            let rest = name.strip_prefix(head)?;
            let digits = rest
                .find(|c: char| !c.is_ascii_digit())
                .unwrap_or(rest.len());
            rest[..digits].parse().ok()
        };
        let g = carried(&report.first()?.name)?;
        let whole = report.iter().all(|a| carried(&a.name) == Some(g))
            && u64::try_from(report.len()) == Ok(self.count.base + g % self.count.modulus);
        whole.then_some(g)
    }
}

/// A library path that must not load, relative to the test's folder.
#[derive(Deserialize)]
pub struct LoadError {
    pub path: String,
    pub error: String,
}

/// Steps run in order in one process, each under its scenario.
#[derive(Deserialize)]
pub struct Sequence {
    pub name: String,
    pub steps: Vec<Step>,
}

#[derive(Deserialize)]
pub struct Step {
    pub scenario: String,
    pub call: String,
    pub index: Option<i64>,
    pub error: Option<String>,
    pub reason: Option<String>,
    pub result: Option<u64>,
}

pub fn table() -> Table {
    let path = beside_executable("cases.json");
    let text = std::fs::read_to_string(&path).unwrap_or_else(|e| panic!("{}: {e}", path.display()));
    serde_json::from_str(&text).expect("cases.json parses")
}

pub fn case(name: &str) -> Case {
    table()
        .cases
        .into_iter()
        .find(|c| c.name == name)
        .unwrap_or_else(|| panic!("no case {name:?} in cases.json"))
}

/// The seam's mode for a scenario's name: "missing" and "no_entry" are the
/// seam's own; any other name is the double with that preset.
pub fn seam_for(scenario: &str) -> Seam {
    match scenario {
        "missing" => Seam::Missing,
        "no_entry" => Seam::NoEntry,
        _ => Seam::Double,
    }
}

/// Makes the table's call; a number it returns, or none for the texts.
/// `None` overall for an index a usize can't hold (a negative one): the
/// type rules those calls out.
pub fn call(name: &str, index: Option<i64>) -> Option<Result<Option<u64>, Error>> {
    let got = call_only(name, index);
    assert!(lock_free_elsewhere(), "the lock is still held after {name}");
    got
}

fn call_only(name: &str, index: Option<i64>) -> Option<Result<Option<u64>, Error>> {
    Some(match name {
        "report" => quillmar_gpuinfo::report().map(|_| None),
        "adapters" => quillmar_gpuinfo::adapters().map(|_| None),
        "adapter_count" => quillmar_gpuinfo::adapter_count().map(|n| Some(n.into())),
        "vram_mb" => {
            let index = usize::try_from(index.expect("vram_mb takes an index")).ok()?;
            quillmar_gpuinfo::vram_mb(index).map(|n| Some(n.into()))
        }
        other => panic!("unknown call {other:?} in cases.json"),
    })
}

/// Checks that `got` is the error of the table's kind: an enumeration
/// error with `reason`, or an index error naming `index`.
pub fn check_error<T: std::fmt::Debug>(
    what: &str,
    got: &Result<T, Error>,
    kind: &str,
    reason: Option<&str>,
    index: Option<i64>,
) {
    match (kind, got) {
        ("enumeration", Err(e @ Error::Enumeration { reason: r })) => {
            assert_eq!(Some(r.as_str()), reason, "{what}: the reason");
            // The message names it, and the library's own text is the same.
            assert!(e.to_string().ends_with(r.as_str()), "{what}: {e}");
            assert_eq!(
                quillmar_gpuinfo::last_error().unwrap(),
                *r,
                "{what}: last_error()"
            );
        }
        ("index", Err(Error::Index(i))) => {
            assert_eq!(Some(*i as i64), index, "{what}: the index named")
        }
        _ => panic!("{what} gave {got:?}, want a {kind} error"),
    }
}

/// What the library answers for the adapter's video memory: it saturates.
pub fn expected_vram(adapter: &Adapter) -> u32 {
    u32::try_from(adapter.dedicated_vram_mb.min(i32::MAX as u64)).unwrap()
}

/// Indexes no adapter can have: at the edge of the C int and past it
/// (1 << 32 would reach the library as 0 if it were cut short).
pub const NEVER_INDEXES: [usize; 4] = [i32::MAX as usize, 1 << 32, (1 << 32) + 1, usize::MAX];

type Handle = *mut std::ffi::c_void;

#[link(name = "kernel32")]
extern "system" {
    fn OpenMutexW(access: u32, inherit: i32, name: *const u16) -> Handle;
    fn WaitForSingleObject(handle: Handle, milliseconds: u32) -> u32;
    fn ReleaseMutex(handle: Handle) -> i32;
    fn CloseHandle(handle: Handle) -> i32;
}

const SYNCHRONIZE: u32 = 0x0010_0000;
const MUTEX_MODIFY_STATE: u32 = 0x0001;
const WAIT_OBJECT_0: u32 = 0;
const WAIT_ABANDONED: u32 = 0x80;

/// `text` as a NUL-terminated UTF-16 string.
pub fn wide(text: &str) -> Vec<u16> {
    text.encode_utf16().chain(Some(0)).collect()
}

/// Whether another thread takes the lock at once: the call before let go
/// of it on its own thread.
pub fn lock_free_elsewhere() -> bool {
    std::thread::spawn(|| {
        let name = wide(&quillmar_gpuinfo::lock_name(std::process::id()));
        // SAFETY: the name is NUL-terminated; the handle is closed here.
        unsafe {
            let mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, 0, name.as_ptr());
            if mutex.is_null() {
                return false;
            }
            let got = WaitForSingleObject(mutex, 0);
            let taken = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
            if taken {
                ReleaseMutex(mutex);
            }
            CloseHandle(mutex);
            taken
        }
    })
    .join()
    .unwrap()
}
