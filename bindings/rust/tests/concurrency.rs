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

/// The generation g named by the first adapter ("Generation <g> adapter 0").
fn generation_of(name: &str) -> u64 {
    name.split(' ')
        .nth(1)
        .and_then(|g| g.parse().ok())
        .unwrap_or_else(|| panic!("adapter name {name:?}"))
}

#[test]
fn every_report_is_whole() {
    let rule = common::case("changing")
        .generation
        .expect("cases.json gives the changing scenario's rule");
    attach_seam(Seam::Double);
    // Adapter 0 is in every generation; this index in none.
    let first_vram = u32::try_from(rule.dedicated_vram_mb_base).unwrap();
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
                    assert_eq!(quillmar_gpuinfo::vram_mb(0), Ok(first_vram));
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
        for report in result.expect("a worker panicked") {
            let first = report.first().expect("every generation lists an adapter");
            let g = generation_of(&first.name);
            assert_eq!(
                report,
                rule.report(g),
                "not the whole report of generation {g}"
            );
            assert!(generations.insert(g), "generation {g} returned twice");
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
