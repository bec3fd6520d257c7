'use strict';
// Node.js face of quillmar-dxgi-gpu-info.dll: five C calls declared with
// koffi, each result copied into a JS value before the next call can rewrite
// the library's static texts.

const path = require('node:path');
const koffi = require('koffi');

const DLL_NAME = 'quillmar-dxgi-gpu-info.dll';
const DEFAULT_DLL_PATH = path.join(__dirname, DLL_NAME);
const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;
const ENUM_FAILED = 'GPUINFO_ENUM_FAILED';
// Only reached if the library failed without saying why.
const UNKNOWN_REASON = 'adapter enumeration failed';

let lib = null;
let calls = null;

/** Loads the library from `dllPath` (default: the DLL beside this file). */
function load(dllPath = DEFAULT_DLL_PATH) {
  if (typeof dllPath !== 'string' || dllPath === '') {
    const err = new TypeError('load(path): path must be a non-empty string');
    err.code = 'ERR_INVALID_ARG_TYPE';
    throw err;
  }
  const next = koffi.load(dllPath);
  let declared;
  try {
    // koffi turns a `const char *` result into a JS string at return time,
    // which is the copy the library's rewritable buffers need.
    declared = {
      version: next.func('const char *gpuinfo_version(void)'),
      lastError: next.func('const char *gpuinfo_last_error(void)'),
      getJson: next.func('const char *gpuinfo_get_json(void)'),
      adapterCount: next.func('int32 gpuinfo_adapter_count(void)'),
      vramMb: next.func('int32 gpuinfo_vram_mb(int32 index)'),
    };
  } catch (err) {
    next.unload();
    throw err;
  }
  // The previous library goes only once the new one is fully usable.
  if (lib) lib.unload();
  lib = next;
  calls = declared;
  return dllPath;
}

function library() {
  if (!calls) load();
  return calls;
}

function enumerationError() {
  const reason = library().lastError() || UNKNOWN_REASON;
  const err = new Error(reason);
  err.code = ENUM_FAILED;
  err.reason = reason;
  return err;
}

function checkIndex(index) {
  if (typeof index !== 'number') {
    const err = new TypeError(`index must be a number, received ${typeof index}`);
    err.code = 'ERR_INVALID_ARG_TYPE';
    throw err;
  }
  // A value outside int32 would otherwise wrap into a valid position.
  if (!Number.isInteger(index) || index < INT32_MIN || index > INT32_MAX) {
    const err = new RangeError(`index must be an integer from ${INT32_MIN} to ${INT32_MAX}, received ${index}`);
    err.code = 'ERR_OUT_OF_RANGE';
    throw err;
  }
}

/** Library version, "1.0.0". */
function version() {
  return library().version();
}

/** Reason of the last failed enumeration, or "" (emptied by adapters()). */
function lastError() {
  return library().lastError();
}

/** Every adapter DXGI reports, software ones included. */
function adapters() {
  const json = library().getJson();
  if (json === null) throw enumerationError();
  return JSON.parse(json).adapters;
}

/** Number of adapters that are not software adapters. */
function adapterCount() {
  const count = library().adapterCount();
  if (count < 0) throw enumerationError();
  return count;
}

/** Dedicated video memory in MiB of the adapter at `index`, or -1. */
function vramMb(index) {
  checkIndex(index);
  return library().vramMb(index);
}

module.exports = { load, version, lastError, adapters, adapterCount, vramMb, DLL_NAME };
