/** One graphics adapter of the report, in DXGI order. */
export interface Adapter {
  /** Position in the report, software adapters included; the index vramMb() takes. */
  index: number;
  /** Adapter description as DXGI gives it, UTF-8 decoded. */
  name: string;
  /** Vendor name from vendor_id, or "Unknown". */
  vendor: string;
  /** PCI vendor id. */
  vendor_id: number;
  /** PCI device id. */
  device_id: number;
  /** Dedicated video memory in whole MiB, rounded down. */
  dedicated_vram_mb: number;
  /** Shared system memory in whole MiB, rounded down. */
  shared_memory_mb: number;
  /** Driver version "a.b.c.d", or "" when DXGI does not give one. */
  driver_version: string;
  /** 1 for a software adapter (vendor 0x1414), else 0. */
  software: 0 | 1;
}

/** The Error thrown when DXGI can't be reached. */
export interface GpuInfoError extends Error {
  /** Always "GPUINFO_ENUM_FAILED". */
  code: 'GPUINFO_ENUM_FAILED';
  /** The library's last-error text, also the message. */
  reason: string;
}

/** File name of the library, loaded by default from this package's folder. */
export const DLL_NAME: 'quillmar-dxgi-gpu-info.dll';

/** Loads the library from an explicit path (default: beside index.js); returns that path. */
export function load(path?: string): string;

/** Library version, "1.0.0". */
export function version(): string;

/** Reason of the last failed enumeration, or "" if none since load or since adapters(). */
export function lastError(): string;

/** Every adapter, software ones included; throws GpuInfoError when DXGI can't be reached. */
export function adapters(): Adapter[];

/** Number of non-software adapters; throws GpuInfoError when DXGI can't be reached. */
export function adapterCount(): number;

/** Dedicated MiB of the adapter at `index`; -1 for an index out of range AND for a failed enumeration (see lastError()). Throws TypeError/RangeError unless `index` is an int32. */
export function vramMb(index: number): number;
