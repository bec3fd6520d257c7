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
  /** True for a software adapter (vendor 0x1414). */
  software: boolean;
}

/**
 * DXGI could not be reached (code "GPUINFO_ENUM_FAILED", reason the library's
 * last-error text, also the message), or the library could not be loaded
 * (code "GPUINFO_LOAD_FAILED", path the absolute path tried, named in the message;
 * no path when the process is not on Windows or the package has no DLL for its architecture),
 * or the process-wide lock could not be made or taken (code "GPUINFO_LOCK_FAILED").
 */
export class GpuInfoError extends Error {
  readonly name: 'GpuInfoError';
  readonly code: 'GPUINFO_ENUM_FAILED' | 'GPUINFO_LOAD_FAILED' | 'GPUINFO_LOCK_FAILED';
  readonly reason: string;
  readonly path?: string;
}

/** File name of the library, loaded by default from this package's folder. */
export const DLL_NAME: 'quillmar-dxgi-gpu-info.dll';

/** Name of the Windows mutex every binding of the library holds across each call, {pid} the process id. */
export const LOCK_NAME: 'Local\\quillmar-dxgi-gpu-info-{pid}';

/** How long a call waits for that mutex before throwing GpuInfoError, milliseconds. */
export const LOCK_WAIT_MS: number;

/** LOCK_NAME for process `pid` (default: this one). */
export function lockName(pid?: number): string;

/** Loads the library from `path` made absolute (default: beside index.js); returns that absolute path. Throws GpuInfoError if it can't be loaded. */
export function load(path?: string): string;

/** Library version, "1.0.0". */
export function version(): string;

/** Reason of the last failed enumeration, or "" if none since load or since report()/adapters(). */
export function lastError(): string;

/** The library's one-line JSON report, unchanged (software there is 0 or 1); throws GpuInfoError when DXGI can't be reached. */
export function report(): string;

/** Every adapter, software ones included; throws GpuInfoError when DXGI can't be reached. */
export function adapters(): Adapter[];

/** Number of non-software adapters; throws GpuInfoError when DXGI can't be reached. */
export function adapterCount(): number;

/** Dedicated MiB of the adapter at `index`. Throws RangeError when there is no adapter there (or `index` is not an int32), TypeError when it is not a number, GpuInfoError when DXGI can't be reached. */
export function vramMb(index: number): number;
