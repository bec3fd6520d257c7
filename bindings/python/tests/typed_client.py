"""A small client of the package as a user writes it, for mypy --strict: every
call, the error model and the fields, with the types they must have."""
from typing import List

import quillmar_gpuinfo as gpu


def describe() -> List[str]:
    lines: List[str] = [f"library {gpu.version()} at {gpu.load()}"]
    try:
        adapters: List[gpu.Adapter] = gpu.adapters()
        hardware: int = gpu.adapter_count()
    except gpu.GpuInfoError as error:
        reason: str = error.reason
        return lines + [f"no adapters: {reason} ({gpu.last_error()})"]
    for adapter in adapters:
        software: bool = adapter.software
        try:
            vram: int = gpu.vram_mb(adapter.index)
        except IndexError:
            vram = 0
        lines.append(f"{adapter.index} {adapter.name} {adapter.vendor_id:04X}:{adapter.device_id:04X} "
                     f"{vram} MiB {adapter.shared_memory_mb} MiB {adapter.driver_version or '-'} {software}")
    report: str = gpu.report()
    return lines + [f"{hardware} hardware adapter(s)", report, *map(str, gpu.parse_report(report.encode()))]


if __name__ == "__main__":
    print("\n".join(describe()))
