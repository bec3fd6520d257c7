//! Anything but Windows x64: every call returns Error::Unsupported, so a
//! program that runs elsewhere too builds and decides for itself.
#![cfg(not(all(windows, target_arch = "x86_64")))]

use std::path::Path;

use quillmar_gpuinfo::{Error, LIBRARY_NAME};

#[test]
fn every_call_is_unsupported() {
    let calls: [(&str, Result<(), Error>); 8] = [
        ("version", quillmar_gpuinfo::version().map(drop)),
        ("last_error", quillmar_gpuinfo::last_error().map(drop)),
        ("report", quillmar_gpuinfo::report().map(drop)),
        ("adapters", quillmar_gpuinfo::adapters().map(drop)),
        ("adapter_count", quillmar_gpuinfo::adapter_count().map(drop)),
        ("vram_mb(0)", quillmar_gpuinfo::vram_mb(0).map(drop)),
        (
            "vram_mb(MAX)",
            quillmar_gpuinfo::vram_mb(usize::MAX).map(drop),
        ),
        ("load", quillmar_gpuinfo::load(Path::new(LIBRARY_NAME))),
    ];
    for (name, result) in calls {
        assert_eq!(result, Err(Error::Unsupported), "{name}");
    }
}
