//! load(): another copy of the library replaces the one in use, relative
//! paths are taken from the current directory, and a path that doesn't load
//! is named in the error while the library loaded before stays in use. The
//! build lays out a second copy in alt\ beside the test. Run with
//! --test-threads=1: the tests change what is loaded and the current
//! directory, and each puts back the library beside the executable.
#![cfg(all(windows, target_arch = "x86_64"))]

mod common;

use std::path::{Path, PathBuf};

use common::{beside_executable, test_folder};
use quillmar_gpuinfo::{load, Error, LIBRARY_NAME};

const ALT_FOLDER: &str = "alt";

fn alt_copy() -> PathBuf {
    beside_executable(ALT_FOLDER).join(LIBRARY_NAME)
}

/// Whether the module at `path` is loaded in this process.
fn is_loaded(path: &Path) -> bool {
    libloading::os::windows::Library::open_already_loaded(path).is_ok()
}

fn put_back() {
    std::env::set_current_dir(test_folder()).unwrap();
    load(&beside_executable(LIBRARY_NAME)).expect("the library beside the test loads");
    assert!(is_loaded(&beside_executable(LIBRARY_NAME)));
}

fn assert_load_error(result: Result<(), Error>, want_path: &Path) {
    match result {
        Err(Error::Load {
            ref path,
            ref message,
        }) => {
            assert_eq!(path, want_path);
            assert!(path.is_absolute(), "{}", path.display());
            assert!(!message.is_empty());
            // Named as Windows made it absolute: separators may differ from want_path's.
            let named = path.display().to_string();
            let text = result.unwrap_err().to_string();
            assert!(text.contains(&named), "{text}");
        }
        other => panic!("load({}) gave {other:?}", want_path.display()),
    }
}

#[test]
fn version_is_the_project_s() {
    assert_eq!(
        quillmar_gpuinfo::version().unwrap(),
        common::expected_version()
    );
}

#[test]
fn a_copy_elsewhere_replaces_the_one_in_use() {
    put_back();
    load(&alt_copy()).expect("the copy in alt\\ loads");
    assert!(is_loaded(&alt_copy()));
    // The one before is let go.
    assert!(!is_loaded(&beside_executable(LIBRARY_NAME)));
    assert_eq!(
        quillmar_gpuinfo::version().unwrap(),
        common::expected_version()
    );
    put_back();
    assert!(!is_loaded(&alt_copy()));
}

#[test]
fn a_relative_path_is_taken_from_the_current_directory() {
    put_back();
    std::env::set_current_dir(beside_executable(ALT_FOLDER)).unwrap();
    load(Path::new(LIBRARY_NAME)).expect("the copy in the current directory loads");
    assert!(is_loaded(&alt_copy()));
    put_back();
}

#[test]
fn paths_that_do_not_load_are_named_and_change_nothing() {
    put_back();
    let table = common::table();
    assert!(!table.load_errors.is_empty());
    for entry in &table.load_errors {
        assert_eq!(entry.error, "load");
        // Relative to the test's folder, the current directory here.
        let relative = Path::new(&entry.path);
        assert_load_error(load(relative), &test_folder().join(relative));
        assert!(is_loaded(&beside_executable(LIBRARY_NAME)));
        // Drive-relative: the current directory of that drive, this one.
        let folder = test_folder();
        let drive = folder.to_str().unwrap().get(..2).unwrap();
        let on_drive = PathBuf::from(format!("{drive}{}", entry.path));
        assert_load_error(load(&on_drive), &folder.join(relative));
        assert_eq!(
            quillmar_gpuinfo::version().unwrap(),
            common::expected_version()
        );
    }
}

#[test]
fn a_dll_without_the_library_s_calls_is_refused() {
    put_back();
    let root = std::env::var_os("SystemRoot").expect("SystemRoot");
    let kernel32 = Path::new(&root).join("system32").join("kernel32.dll");
    assert!(kernel32.is_file(), "{}", kernel32.display());
    assert_eq!(
        load(&kernel32),
        Err(Error::Load {
            path: kernel32.clone(),
            message: "lacks the export gpuinfo_version".into()
        })
    );
    assert!(is_loaded(&beside_executable(LIBRARY_NAME)));
    assert_eq!(
        quillmar_gpuinfo::version().unwrap(),
        common::expected_version()
    );
}
