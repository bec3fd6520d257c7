//! Puts the DLL the released crate carries (native/) beside the programs
//! cargo builds for Windows x64: the profile's folder (target\<profile>\),
//! and its examples\ and deps\ (examples and tests), where the crate looks
//! for it by full path. A development checkout has no DLL there and this
//! does nothing.
use std::env;
use std::fs;
use std::path::{Path, PathBuf};

const LIBRARY_NAME: &str = "quillmar-dxgi-gpu-info.dll";
/// OUT_DIR is <profile>\build\<package>-<hash>\out.
const OUT_DIR_DEPTH: usize = 3;

fn main() {
    println!("cargo:rerun-if-changed=native");
    let windows_x64 = env::var("CARGO_CFG_TARGET_OS").as_deref() == Ok("windows")
        && env::var("CARGO_CFG_TARGET_ARCH").as_deref() == Ok("x86_64");
    let manifest = PathBuf::from(env::var_os("CARGO_MANIFEST_DIR").expect("CARGO_MANIFEST_DIR"));
    let dll = manifest.join("native").join(LIBRARY_NAME);
    if !windows_x64 || !dll.is_file() {
        return;
    }
    let out = PathBuf::from(env::var_os("OUT_DIR").expect("OUT_DIR"));
    let profile = match out.ancestors().nth(OUT_DIR_DEPTH) {
        Some(profile) => profile.to_path_buf(),
        None => panic!("OUT_DIR {} is not inside a profile folder", out.display()),
    };
    for folder in [
        profile.clone(),
        profile.join("examples"),
        profile.join("deps"),
    ] {
        copy(&dll, &folder);
    }
}

fn copy(dll: &Path, folder: &Path) {
    fs::create_dir_all(folder).unwrap_or_else(|err| panic!("making {}: {err}", folder.display()));
    fs::copy(dll, folder.join(LIBRARY_NAME))
        .unwrap_or_else(|err| panic!("copying {} to {}: {err}", dll.display(), folder.display()));
}
