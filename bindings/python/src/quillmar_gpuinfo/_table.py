"""The adapter table of gpuinfo.exe, character for character: the same
columns, sizes in binary units, and the name last, whole, as `ps` puts the
command, so no name ever pushes a column out of line."""

from typing import TYPE_CHECKING, List, Sequence, Tuple

if TYPE_CHECKING:
    from quillmar_gpuinfo import Adapter

COLUMN_GAP = 2
SIZE_UNITS = ("GiB", "TiB", "PiB", "EiB")
NO_ADAPTERS = "No graphics adapters were found.\n"
# title, right-aligned
COLUMNS: Tuple[Tuple[str, bool], ...] = (("#", True), ("Vendor", False), ("IDs", False), ("Dedicated", True),
                                         ("Shared", True), ("Driver", False), ("Software", False),
                                         ("Name", False))


def format_size(mib: int) -> str:
    """MiB below 1024 MiB, then one decimal of the largest unit that keeps
    the rounded figure under 1024."""
    if mib < 1024:
        return f"{mib} MiB"
    unit, divisor = 0, 1024
    tenths = (mib * 10 + divisor // 2) // divisor
    while tenths >= 10240 and unit + 1 < len(SIZE_UNITS):
        unit += 1
        divisor *= 1024
        tenths = (mib * 10 + divisor // 2) // divisor
    return f"{tenths // 10}.{tenths % 10} {SIZE_UNITS[unit]}"


def cells(adapter: "Adapter") -> Tuple[str, ...]:
    return (str(adapter.index),
            adapter.vendor or "-",
            f"{adapter.vendor_id:04X}:{adapter.device_id:04X}",
            format_size(adapter.dedicated_vram_mb),
            format_size(adapter.shared_memory_mb),
            adapter.driver_version or "-",
            "yes" if adapter.software else "no",
            adapter.name or "-")


def render(adapters: Sequence["Adapter"]) -> str:
    """The whole table, one line per adapter after the titles, each line
    ending in a bare newline and nothing trailing after its last cell."""
    if not adapters:
        return NO_ADAPTERS
    rows = [tuple(title for title, _ in COLUMNS)] + [cells(a) for a in adapters]
    widths = [max(len(row[c]) for row in rows) for c in range(len(COLUMNS))]
    lines: List[str] = []
    for row in rows:
        line, pending = "", 0
        for (_, right), width, cell in zip(COLUMNS, widths, row):
            pad = width - len(cell)
            if right:
                pending += pad
            line += " " * pending + cell
            pending = (0 if right else pad) + COLUMN_GAP
        lines.append(line + "\n")
    return "".join(lines)
