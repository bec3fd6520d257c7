//! The system's own DXGI: what holds on any machine. With GPUINFO_CASE set
//! (the table's case for this system, such as Wine's), also what the table
//! says of it.
#![cfg(all(windows, target_arch = "x86_64"))]

mod common;

use common::{call, check_error, expected_vram};
use quillmar_gpuinfo::Error;

/// Microsoft's PCI vendor id: its software rasterizer is the software adapter.
const MICROSOFT: u32 = 0x1414;

#[test]
fn what_holds_on_any_machine() {
    let list = quillmar_gpuinfo::adapters().expect("the system's DXGI answers");
    assert_eq!(quillmar_gpuinfo::last_error().unwrap(), "");
    for (position, adapter) in list.iter().enumerate() {
        assert_eq!(adapter.index as usize, position, "{list:#?}");
        assert_eq!(
            adapter.software,
            adapter.vendor_id == MICROSOFT,
            "{adapter:?}"
        );
        assert_eq!(
            quillmar_gpuinfo::vram_mb(position),
            Ok(expected_vram(adapter)),
            "{adapter:?}"
        );
    }
    let hardware = list.iter().filter(|a| !a.software).count();
    assert_eq!(quillmar_gpuinfo::adapter_count(), Ok(hardware as u32));
    assert_eq!(
        quillmar_gpuinfo::vram_mb(list.len()),
        Err(Error::Index(list.len()))
    );
    println!(
        "{} adapter(s), {hardware} not software: {list:#?}",
        list.len()
    );

    if let Ok(name) = std::env::var("GPUINFO_CASE") {
        let case = common::case(&name);
        assert_eq!(Some(list.len() as u32), case.adapter_count, "case {name}");
        for expected in &case.errors {
            let what = format!("{}({:?})", expected.call, expected.index);
            if let Some(got) = call(&expected.call, expected.index) {
                check_error(&what, &got, &expected.error, None, expected.index);
            }
        }
    }
}
