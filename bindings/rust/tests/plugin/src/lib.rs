//! The crate's `report()` behind a C export, for the two-copies test.

use std::os::raw::c_int;

/// Copies the report into `out` (`room` bytes): its length, -1 when the
/// call failed, -2 when it does not fit.
///
/// # Safety
/// `out` points to `room` writable bytes.
#[no_mangle]
pub unsafe extern "C" fn plugin_report(out: *mut u8, room: usize) -> c_int {
    match quillmar_gpuinfo::report() {
        Ok(report) if report.len() <= room => {
            // The caller gives `room` bytes at `out`.
            std::ptr::copy_nonoverlapping(report.as_ptr(), out, report.len());
            c_int::try_from(report.len()).unwrap_or(-2)
        }
        Ok(_) => -2,
        Err(_) => -1,
    }
}
