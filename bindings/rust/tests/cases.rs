//! The table's scenarios through the test seam, one per process: GPUINFO_CASE
//! names the case (`scenario`) or GPUINFO_SEQUENCE the sequence (`sequence`);
//! FAKE_DXGI_SCENARIO gives the double its preset.
#![cfg(all(windows, target_arch = "x86_64"))]

mod common;

use common::{
    attach_seam, call, check_error, lock_free_elsewhere, seam_for, wide, Case, NEVER_INDEXES,
};
use quillmar_gpuinfo::{Adapter, Error};

fn reachable(case: &Case, reason_before: &str) {
    let list = quillmar_gpuinfo::adapters().expect("adapters()");
    match &case.adapters {
        // Every field, the names byte for byte: mixed and beyond_bmp hold é,
        // €, CJK and characters above U+FFFF; max16 the longest names.
        Some(table) => {
            let want: Vec<Adapter> = table.iter().cloned().map(Adapter::from).collect();
            assert_eq!(list, want);
        }
        None => assert_eq!(Some(list.len() as u32), case.adapter_count, "{list:#?}"),
    }
    assert_eq!(
        quillmar_gpuinfo::last_error().unwrap(),
        "",
        "after a report (was {reason_before:?})"
    );
    let report = quillmar_gpuinfo::report().expect("report()");
    let raw: serde_json::Value = serde_json::from_str(&report).expect("the report is JSON");
    assert_eq!(
        raw["adapters"].as_array().map(Vec::len),
        Some(list.len()),
        "{report}"
    );

    let hardware = list.iter().filter(|a| !a.software).count() as u32;
    assert_eq!(quillmar_gpuinfo::adapter_count(), Ok(hardware));
    for adapter in &list {
        assert_eq!(
            quillmar_gpuinfo::vram_mb(adapter.index as usize),
            Ok(common::expected_vram(adapter)),
            "{adapter:?}"
        );
    }
    for index in NEVER_INDEXES {
        assert_eq!(quillmar_gpuinfo::vram_mb(index), Err(Error::Index(index)));
    }
    assert_eq!(
        quillmar_gpuinfo::adapters().as_ref(),
        Ok(&list),
        "a second report"
    );
}

/// What the table's failing calls (checked in `scenario`) leave out: past
/// the C int there is no adapter, whatever DXGI does.
fn unreachable() {
    assert_eq!(
        quillmar_gpuinfo::vram_mb(usize::MAX),
        Err(Error::Index(usize::MAX))
    );
}

#[test]
fn scenario() {
    let name = std::env::var("GPUINFO_CASE").expect("GPUINFO_CASE names the case");
    let case = common::case(&name);
    attach_seam(seam_for(&name));
    // The version needs no DXGI, whatever the scenario.
    assert_eq!(
        quillmar_gpuinfo::version().unwrap(),
        common::expected_version()
    );
    let reason_before = quillmar_gpuinfo::last_error().unwrap();
    match &case.reason {
        None => reachable(&case, &reason_before),
        Some(_) => unreachable(),
    }
    for expected in &case.errors {
        let what = format!("{}({:?})", expected.call, expected.index);
        if let Some(got) = call(&expected.call, expected.index) {
            check_error(
                &what,
                &got,
                &expected.error,
                case.reason.as_deref(),
                expected.index,
            );
        }
    }
}

/// The named mutex is the one every binding of the library takes.
#[test]
fn lock_name() {
    let lock = common::table().lock;
    assert_eq!(quillmar_gpuinfo::LOCK_NAME, lock.name);
    assert_eq!(quillmar_gpuinfo::LOCK_WAIT_MS, lock.wait_ms);
    assert_eq!(
        quillmar_gpuinfo::lock_name(4242),
        lock.name.replace("{pid}", "4242")
    );
}

#[test]
fn sequence() {
    let name = std::env::var("GPUINFO_SEQUENCE").expect("GPUINFO_SEQUENCE names the sequence");
    let table = common::table();
    let sequence = table
        .sequences
        .iter()
        .find(|s| s.name == name)
        .unwrap_or_else(|| panic!("no sequence {name:?} in cases.json"));
    let preset = std::env::var("FAKE_DXGI_SCENARIO").unwrap_or_default();
    for (n, step) in sequence.steps.iter().enumerate() {
        let seam = seam_for(&step.scenario);
        if let common::Seam::Double = seam {
            // The double takes its preset once per process.
            assert_eq!(
                step.scenario, preset,
                "step {n}: the double's preset is FAKE_DXGI_SCENARIO"
            );
        }
        attach_seam(seam);
        let what = format!(
            "step {n}: {}({:?}) under {}",
            step.call, step.index, step.scenario
        );
        let got = call(&step.call, step.index).unwrap_or_else(|| panic!("{what}: no usize index"));
        match (&step.error, step.result) {
            (Some(kind), _) => check_error(&what, &got, kind, step.reason.as_deref(), step.index),
            (None, Some(result)) => assert_eq!(got, Ok(Some(result)), "{what}"),
            (None, None) => assert!(got.is_ok(), "{what}: {got:?}"),
        }
    }
}

type Handle = *mut std::ffi::c_void;

#[link(name = "kernel32")]
extern "system" {
    fn CreateEventW(
        attributes: Handle,
        manual_reset: i32,
        initial_state: i32,
        name: *const u16,
    ) -> Handle;
    fn CreateMutexW(attributes: Handle, initial_owner: i32, name: *const u16) -> Handle;
    fn ReleaseMutex(handle: Handle) -> i32;
    fn CloseHandle(handle: Handle) -> i32;
    fn LocalFree(memory: Handle) -> Handle;
}

#[link(name = "advapi32")]
extern "system" {
    fn ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl: *const u16,
        revision: u32,
        descriptor: *mut Handle,
        size: *mut u32,
    ) -> i32;
}

#[repr(C)]
struct SecurityAttributes {
    length: u32,
    descriptor: Handle,
    inherit: i32,
}

const SDDL_REVISION_1: u32 = 1;

/// A handle that may cross to the squatter's thread and back.
struct Planted(Handle);
// SAFETY: a kernel handle, valid on any thread of the process.
unsafe impl Send for Planted {}

/// One row of the squatter table (GPUINFO_SQUATTER names it), in a process
/// of its own: the object is planted before the crate's first call, which
/// must fail with the row's reason or succeed; once the squatter lets go,
/// the next call must succeed. Each successful call leaves the lock free.
#[test]
fn squatter() {
    let table = common::table();
    let name = std::env::var("GPUINFO_SQUATTER").expect("GPUINFO_SQUATTER names the row");
    let row = table
        .lock
        .squatters
        .iter()
        .find(|r| r.name == name)
        .expect("a row of the table");
    quillmar_gpuinfo::set_lock_wait_ms(table.lock.test_wait_ms);
    let lock_name = wide(&quillmar_gpuinfo::lock_name(std::process::id()));
    let (release_tx, release_rx) = std::sync::mpsc::channel::<()>();
    let mut holder = None;
    // SAFETY: NUL-terminated names and SDDL; the descriptor is freed once used.
    let planted = unsafe {
        match row.makes.as_str() {
            "event" => Planted(CreateEventW(std::ptr::null_mut(), 1, 0, lock_name.as_ptr())),
            "mutex" => {
                let sddl = wide(row.sddl.as_deref().expect("a mutex row has its sddl"));
                let mut descriptor: Handle = std::ptr::null_mut();
                assert_ne!(
                    ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        sddl.as_ptr(),
                        SDDL_REVISION_1,
                        &mut descriptor,
                        std::ptr::null_mut()
                    ),
                    0,
                    "unreadable SDDL"
                );
                let mut attributes = SecurityAttributes {
                    length: std::mem::size_of::<SecurityAttributes>() as u32,
                    descriptor,
                    inherit: 0,
                };
                let mutex = CreateMutexW(
                    (&mut attributes as *mut SecurityAttributes).cast(),
                    0,
                    lock_name.as_ptr(),
                );
                LocalFree(descriptor);
                Planted(mutex)
            }
            "held" | "abandoned" => {
                // Held by a thread that keeps it until told, or ends holding it.
                let held = row.makes == "held";
                let (made_tx, made_rx) = std::sync::mpsc::channel();
                let name = lock_name;
                let thread = std::thread::spawn(move || {
                    let mutex = CreateMutexW(std::ptr::null_mut(), 1, name.as_ptr());
                    made_tx.send(Planted(mutex)).unwrap();
                    if held {
                        // Told by the sender's drop.
                        let _ = release_rx.recv();
                        ReleaseMutex(mutex);
                    }
                });
                let mutex = made_rx.recv().unwrap();
                if held {
                    holder = Some(thread);
                } else {
                    thread.join().unwrap();
                }
                mutex
            }
            other => panic!("no squatter kind {other}"),
        }
    };
    assert!(!planted.0.is_null(), "the squatter's object was not made");

    let got = quillmar_gpuinfo::version();
    match (&row.error, &got) {
        (Some(want), Err(Error::Enumeration { reason })) => assert_eq!(reason, want),
        (None, Ok(_)) => assert!(
            lock_free_elsewhere(),
            "the lock is still held after the call"
        ),
        _ => panic!(
            "{}: version() gave {got:?}, the table says {:?}",
            row.name, row.error
        ),
    }

    drop(release_tx);
    if let Some(thread) = holder {
        thread.join().unwrap();
    }
    // SAFETY: the squatter's own handle, not used again.
    unsafe { CloseHandle(planted.0) };
    let again = quillmar_gpuinfo::version();
    assert!(again.is_ok(), "once the squatter has gone: {again:?}");
    assert!(
        lock_free_elsewhere(),
        "the lock is still held after the call"
    );
}
