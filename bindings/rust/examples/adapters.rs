//! Lists the machine's graphics adapters. quillmar-dxgi-gpu-info.dll must sit
//! beside the program (target\debug\examples\ for `cargo run --example`).

fn main() -> Result<(), quillmar_gpuinfo::Error> {
    println!("quillmar-dxgi-gpu-info {}", quillmar_gpuinfo::version()?);
    for adapter in quillmar_gpuinfo::adapters()? {
        println!(
            "{}: {} ({}, {:04X}:{:04X}), {} MiB dedicated{}",
            adapter.index,
            adapter.name,
            adapter.vendor,
            adapter.vendor_id,
            adapter.device_id,
            adapter.dedicated_vram_mb,
            if adapter.software { ", software" } else { "" }
        );
    }
    println!("{} hardware adapter(s)", quillmar_gpuinfo::adapter_count()?);
    match quillmar_gpuinfo::vram_mb(0) {
        Ok(mb) => println!("adapter 0: {mb} MiB"),
        Err(quillmar_gpuinfo::Error::Index(_)) => println!("no adapter 0"),
        Err(other) => return Err(other),
    }
    Ok(())
}
