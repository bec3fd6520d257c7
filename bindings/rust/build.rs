//! Embeds the DLL the released crate carries (native/) in the crate itself
//! when building for Windows x64: OUT_DIR/embedded.rs holds its bytes, which
//! the crate writes to a per-user copy at run time. Whatever folder cargo
//! builds or installs a program in, the program carries its DLL. A
//! development checkout has no DLL there and embeds none.
use std::env;
use std::fs;
use std::path::PathBuf;

const LIBRARY_NAME: &str = "quillmar-dxgi-gpu-info.dll";

fn main() {
    println!("cargo:rerun-if-changed=native");
    let windows_x64 = env::var("CARGO_CFG_TARGET_OS").as_deref() == Ok("windows")
        && env::var("CARGO_CFG_TARGET_ARCH").as_deref() == Ok("x86_64");
    let manifest = PathBuf::from(env::var_os("CARGO_MANIFEST_DIR").expect("CARGO_MANIFEST_DIR"));
    let dll = manifest.join("native").join(LIBRARY_NAME);
    let embedded = if windows_x64 && dll.is_file() {
        let path = dll
            .to_str()
            .unwrap_or_else(|| panic!("{} is not a UTF-8 path", dll.display()));
        // Debug formatting quotes and escapes the path as a Rust literal.
        format!("Some(include_bytes!({path:?}))")
    } else {
        "None".to_string()
    };
    let out = PathBuf::from(env::var_os("OUT_DIR").expect("OUT_DIR")).join("embedded.rs");
    let code = format!(
        "/// The DLL the crate carries, or `None` in a build without one.\n\
         pub(crate) const EMBEDDED: Option<&[u8]> = {embedded};\n"
    );
    fs::write(&out, code).unwrap_or_else(|err| panic!("writing {}: {err}", out.display()));
}
