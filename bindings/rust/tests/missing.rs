//! With no library beside the executable, every call says which file it
//! looked for, and load() still finds one elsewhere. The build runs this
//! test program from a folder of its own (bare\), one below the library.
#![cfg(all(windows, target_arch = "x86_64"))]

use quillmar_gpuinfo::{Error, LIBRARY_NAME};

#[test]
fn every_call_names_the_library_it_looked_for() {
    let exe = std::env::current_exe().unwrap();
    let looked_for = exe.with_file_name(LIBRARY_NAME);
    assert!(!looked_for.exists(), "run me where {LIBRARY_NAME} is not");
    let calls: [(&str, Result<(), Error>); 6] = [
        ("version", quillmar_gpuinfo::version().map(drop)),
        ("last_error", quillmar_gpuinfo::last_error().map(drop)),
        ("report", quillmar_gpuinfo::report().map(drop)),
        ("adapters", quillmar_gpuinfo::adapters().map(drop)),
        ("adapter_count", quillmar_gpuinfo::adapter_count().map(drop)),
        ("vram_mb", quillmar_gpuinfo::vram_mb(0).map(drop)),
    ];
    for (name, result) in calls {
        match result {
            Err(Error::Load {
                ref path,
                ref message,
            }) => {
                assert_eq!(path, &looked_for, "{name}");
                assert!(!message.is_empty(), "{name}");
                let text = result.unwrap_err().to_string();
                assert!(
                    text.contains(&looked_for.display().to_string()),
                    "{name}: {text}"
                );
            }
            other => panic!("{name}() gave {other:?}"),
        }
    }
    let parent = exe.parent().and_then(|bare| bare.parent()).unwrap();
    quillmar_gpuinfo::load(&parent.join(LIBRARY_NAME)).expect("the library one folder up");
    assert!(quillmar_gpuinfo::version().is_ok());
}
