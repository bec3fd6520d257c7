//! Two copies of the crate in one process, each in a DLL of its own
//! (plugin_a.dll and plugin_b.dll, the same cdylib under two names), call
//! the one library at once while the double's `changing` preset gives a
//! different report on every enumeration: the crate's lock is one per copy,
//! so only the process-wide one keeps their reports whole. Run with
//! FAKE_DXGI_SCENARIO=changing through the seam.
#![cfg(all(windows, target_arch = "x86_64"))]

mod common;

use std::collections::BTreeSet;
use std::os::raw::c_int;
use std::thread;

use common::{attach_seam, Seam};
use quillmar_gpuinfo::Adapter;
use serde::Deserialize;

const THREADS: usize = 8;
const CALLS_PER_THREAD: usize = 250;
const ROOM: usize = 8192;

type ReportCall = unsafe extern "C" fn(*mut u8, usize) -> c_int;

#[derive(Deserialize)]
struct Report {
    adapters: Vec<Adapter>,
}

#[test]
fn every_report_is_whole_across_two_copies() {
    let rule = common::case("changing")
        .generation
        .expect("cases.json gives the changing scenario's rule");
    // The library first, so that the seam has a module to attach to.
    quillmar_gpuinfo::version().expect("the library beside the program");
    attach_seam(Seam::Double);
    let plugins: Vec<libloading::Library> = ["plugin_a.dll", "plugin_b.dll"]
        .iter()
        // SAFETY: the plugins' DllMain is the standard library's own.
        .map(|name| {
            unsafe { libloading::Library::new(common::beside_executable(name)) }.expect(name)
        })
        .collect();
    let calls: Vec<ReportCall> = plugins
        .iter()
        // SAFETY: plugin_report's own signature.
        .map(|p| *unsafe { p.get::<ReportCall>(b"plugin_report") }.expect("plugin_report"))
        .collect();

    #[allow(clippy::needless_collect)]
    let workers: Vec<_> = (0..THREADS)
        .map(|t| {
            let call = calls[t % 2];
            thread::spawn(move || {
                let mut reports = Vec::with_capacity(CALLS_PER_THREAD);
                let mut out = vec![0u8; ROOM];
                for _ in 0..CALLS_PER_THREAD {
                    // SAFETY: ROOM bytes at out.
                    let n = unsafe { call(out.as_mut_ptr(), ROOM) };
                    let n = usize::try_from(n).unwrap_or_else(|_| panic!("plugin_report gave {n}"));
                    reports.push(String::from_utf8_lossy(&out[..n]).into_owned());
                }
                reports
            })
        })
        .collect();
    let results: Vec<_> = workers.into_iter().map(|w| w.join()).collect();

    let mut generations = BTreeSet::new();
    let mut torn = 0usize;
    for result in results {
        // g only grows: each call enumerates after the thread's last one.
        let mut last = 0;
        for text in result.expect("a worker panicked") {
            let g = serde_json::from_str::<Report>(&text)
                .ok()
                .and_then(|r| rule.of(&r.adapters));
            match g {
                Some(g) if g > last && generations.insert(g) => last = g,
                _ => torn += 1,
            }
        }
    }
    let total = THREADS * CALLS_PER_THREAD;
    println!("{THREADS} threads x {CALLS_PER_THREAD} calls through two copies: {} whole reports, {torn} torn", total - torn);
    assert_eq!(torn, 0, "reports torn or repeated across the two copies");
    drop(plugins);
}
