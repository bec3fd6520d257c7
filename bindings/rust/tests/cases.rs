//! The table's scenarios through the test seam, one per process: GPUINFO_CASE
//! names the case (`scenario`) or GPUINFO_SEQUENCE the sequence (`sequence`);
//! FAKE_DXGI_SCENARIO gives the double its preset.
#![cfg(all(windows, target_arch = "x86_64"))]

mod common;

use common::{attach_seam, call, check_error, seam_for, Case, NEVER_INDEXES};
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

#[link(name = "kernel32")]
extern "system" {
    fn CreateEventW(
        attributes: *mut std::ffi::c_void,
        manual_reset: i32,
        initial_state: i32,
        name: *const u16,
    ) -> *mut std::ffi::c_void;
}

/// An event made under the lock's name before the crate's first call (by
/// anyone who guessed the name) leaves it no mutex: every call is an
/// `Error::Enumeration` for the lock, none runs unlocked. A process of its
/// own, as the lock is made once.
#[test]
fn foreign_lock() {
    let name: Vec<u16> = quillmar_gpuinfo::lock_name(std::process::id())
        .encode_utf16()
        .chain(Some(0))
        .collect();
    // SAFETY: the name is NUL-terminated UTF-16; the event lives as long as
    // the process.
    let event = unsafe { CreateEventW(std::ptr::null_mut(), 1, 0, name.as_ptr()) };
    assert!(!event.is_null(), "CreateEventW failed");
    type Call = fn() -> Result<(), Error>;
    let calls: [(&str, Call); 6] = [
        ("version", || quillmar_gpuinfo::version().map(drop)),
        ("last_error", || quillmar_gpuinfo::last_error().map(drop)),
        ("report", || quillmar_gpuinfo::report().map(drop)),
        ("adapters", || quillmar_gpuinfo::adapters().map(drop)),
        ("adapter_count", || {
            quillmar_gpuinfo::adapter_count().map(drop)
        }),
        ("vram_mb", || quillmar_gpuinfo::vram_mb(0).map(drop)),
    ];
    for (call, run) in calls {
        match run() {
            Err(Error::Enumeration { reason })
                if reason.starts_with("no process lock: CreateMutexW failed") => {}
            other => panic!("{call} under a foreign lock name: {other:?}"),
        }
    }
}
