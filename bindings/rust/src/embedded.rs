//! The DLL the released crate embeds, loaded from a copy written for this
//! user: `%LOCALAPPDATA%\quillmar-dxgi-gpu-info\<crate version>-<digest>\`,
//! the digest being the first characters of the DLL's SHA-256. The copy's
//! bytes are compared with the embedded ones before every load, with the
//! file held open so that nobody can change it until it is loaded; a copy
//! that is missing or differs is written afresh.

use std::fs::{self, File, OpenOptions};
use std::io::{self, Read, Write};
use std::os::windows::fs::OpenOptionsExt;
use std::path::{Path, PathBuf};
use std::sync::atomic::{AtomicU32, Ordering};

use crate::{sha256, Error, LIBRARY_NAME};

include!(concat!(env!("OUT_DIR"), "/embedded.rs"));

/// The folder under %LOCALAPPDATA% that holds one folder per DLL.
const CACHE_FOLDER: &str = "quillmar-dxgi-gpu-info";
/// How much of the SHA-256, in hex, names a DLL's folder.
const DIGEST_CHARS: usize = 16;
/// Others may read the file we hold, never write, rename or delete it.
const FILE_SHARE_READ: u32 = 0x1;

/// Tells this process's temporary files apart.
static WRITES: AtomicU32 = AtomicU32::new(0);

/// Where the copy of `dll` goes.
fn copy_path(dll: &[u8]) -> Result<PathBuf, Error> {
    let base = std::env::var_os("LOCALAPPDATA").ok_or_else(|| Error::Load {
        path: PathBuf::from(LIBRARY_NAME),
        message: "LOCALAPPDATA is not set: no folder for the embedded DLL's copy".into(),
    })?;
    let digest = sha256::hex(&sha256::digest(dll));
    let folder = format!("{}-{}", env!("CARGO_PKG_VERSION"), &digest[..DIGEST_CHARS]);
    Ok(PathBuf::from(base)
        .join(CACHE_FOLDER)
        .join(folder)
        .join(LIBRARY_NAME))
}

/// The copy at `path`, opened so it can't change while held, if its bytes
/// are `dll`'s; `None` if they differ.
fn verified(path: &Path, dll: &[u8]) -> io::Result<Option<File>> {
    let mut file = OpenOptions::new()
        .read(true)
        .share_mode(FILE_SHARE_READ)
        .open(path)?;
    // One byte more than the DLL: a longer file is a different file.
    let mut bytes = Vec::with_capacity(dll.len() + 1);
    (&mut file)
        .take(dll.len() as u64 + 1)
        .read_to_end(&mut bytes)?;
    Ok(if bytes == dll { Some(file) } else { None })
}

/// Writes `dll` to a file of its own beside `path` and renames it over
/// `path`, so nobody ever sees half a DLL there.
fn write_copy(path: &Path, dll: &[u8]) -> io::Result<()> {
    let folder = path.parent().expect("the copy's path has a folder");
    fs::create_dir_all(folder)?;
    let temporary = folder.join(format!(
        "{LIBRARY_NAME}.{}-{}.tmp",
        std::process::id(),
        WRITES.fetch_add(1, Ordering::Relaxed)
    ));
    let written = OpenOptions::new()
        .write(true)
        .create_new(true)
        .open(&temporary)
        .and_then(|mut file| {
            file.write_all(dll)?;
            file.sync_all()
        })
        .and_then(|()| fs::rename(&temporary, path));
    if written.is_err() {
        let _ = fs::remove_file(&temporary);
    }
    written
}

/// Loads the embedded DLL through its copy with `open`, writing the copy
/// first when it is missing or differs. If the copy can't be written (it is
/// loaded by another process, say) the one there is taken when its bytes
/// are right: another process wrote it, or the same DLL is in use.
pub(crate) fn load<T>(
    dll: &[u8],
    open: impl FnOnce(&Path) -> Result<T, Error>,
) -> Result<T, Error> {
    let path = copy_path(dll)?;
    let fail = |message: String| Error::Load {
        path: path.clone(),
        message,
    };
    let held = match verified(&path, dll) {
        Ok(Some(file)) => file,
        _ => {
            let written = write_copy(&path, dll);
            match (verified(&path, dll), written) {
                (Ok(Some(file)), _) => file,
                (_, Err(err)) => return Err(fail(format!("writing the embedded DLL: {err}"))),
                (Ok(None), Ok(())) => {
                    return Err(fail("the copy differs from the embedded DLL".into()))
                }
                (Err(err), Ok(())) => return Err(fail(format!("reading the copy: {err}"))),
            }
        }
    };
    let loaded = open(&path);
    drop(held);
    loaded
}
