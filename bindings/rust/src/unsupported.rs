//! Anything but Windows on x86-64: the library does not exist there, so
//! every call says so, and programs that run elsewhere too still build.

use std::path::Path;

use crate::Error;

pub fn version() -> Result<String, Error> {
    Err(Error::Unsupported)
}

pub fn last_error() -> Result<String, Error> {
    Err(Error::Unsupported)
}

pub fn report() -> Result<String, Error> {
    Err(Error::Unsupported)
}

pub fn adapter_count() -> Result<u32, Error> {
    Err(Error::Unsupported)
}

pub fn vram_mb(_index: usize) -> Result<u32, Error> {
    Err(Error::Unsupported)
}

pub fn load(_path: &Path) -> Result<(), Error> {
    Err(Error::Unsupported)
}
