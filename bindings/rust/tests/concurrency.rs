//! Many threads call adapters() at once while the double's `changing`
//! preset gives a different report on every enumeration: each result must be
//! one whole report, never a mix of two. Run with FAKE_DXGI_SCENARIO=changing
//! through the seam.
#![cfg(all(windows, target_arch = "x86_64"))]

mod common;

use std::collections::BTreeSet;
use std::thread;

use common::{attach_seam, Seam};

const THREADS: usize = 8;
const CALLS_PER_THREAD: usize = 250;

#[test]
fn every_report_is_whole() {
    let rule = common::case("changing")
        .generation
        .expect("cases.json gives the changing scenario's rule");
    attach_seam(Seam::Double);
    // Adapter 0 is in every generation; this index in none.
    let past_every = usize::try_from(rule.count.base + rule.count.modulus - 1).unwrap();

    // Collected so that every thread starts before the first is joined.
    #[allow(clippy::needless_collect)]
    let workers: Vec<_> = (0..THREADS)
        .map(|_| {
            thread::spawn(move || {
                let mut reports = Vec::with_capacity(CALLS_PER_THREAD);
                for _ in 0..CALLS_PER_THREAD {
                    reports.push(quillmar_gpuinfo::adapters().expect("adapters()"));
                    // The other calls take the same lock; vram_mb's failure
                    // path makes two calls under it.
                    assert!(quillmar_gpuinfo::vram_mb(0).is_ok());
                    assert_eq!(
                        quillmar_gpuinfo::vram_mb(past_every),
                        Err(quillmar_gpuinfo::Error::Index(past_every))
                    );
                }
                reports
            })
        })
        .collect();

    // Every worker is joined before any result is judged: a panic here with
    // workers still inside the library would end the process under them.
    let results: Vec<_> = workers.into_iter().map(|w| w.join()).collect();
    let mut generations = BTreeSet::new();
    for result in results {
        // g only grows: each call enumerates after the thread's last one.
        let mut last = 0;
        for report in result.expect("a worker panicked") {
            match rule.of(&report) {
                Some(g) if g > last => last = g,
                _ => panic!("torn after generation {last}: {report:?}"),
            }
            assert!(generations.insert(last), "generation {last} returned twice");
        }
    }
    let total = THREADS * CALLS_PER_THREAD;
    assert_eq!(generations.len(), total);
    println!(
        "{THREADS} threads x {CALLS_PER_THREAD} calls of adapters(): {total} whole reports, generations {}..={}",
        generations.iter().next().unwrap(),
        generations.iter().next_back().unwrap()
    );
}
