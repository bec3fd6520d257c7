'use strict';
// Node.js face of quillmar-dxgi-gpu-info.dll: five C calls declared with
// koffi, each result copied into a JS value before the next call can rewrite
// the library's static texts.
//
// Worker threads each load this module afresh, with their own koffi handle
// on the one DLL of the process, so a JS flag can't keep their calls apart:
// every call holds a Windows mutex named after the process (LOCK_NAME), which
// every worker's copy of this module, and every other binding of the library
// in the process, opens. It is made with the process token's default
// security; an object already under the name that is no mutex, or not owned
// and labelled as this process's own objects are (a low-integrity process of
// the same user can make one), throws GpuInfoError at once, and the next call
// tries again. One held longer than LOCK_WAIT_MS (which no call of the
// library takes) throws GpuInfoError rather than hang. A holder that ended
// without letting go counts as let go: every call rewrites the texts whole.

const path = require('node:path');

const DLL_NAME = 'quillmar-dxgi-gpu-info.dll';
// The DLL each Windows architecture loads (process.arch), in this package's folder.
const DLL_NAMES = { x64: DLL_NAME };
// Electron reads a packed app.asar as a folder, but Windows can load no DLL
// from inside it; the packer puts the files it unpacks under the same paths
// in app.asar.unpacked beside it.
const ASAR_SEGMENT = /(^|[\\/])app\.asar(?=[\\/]|$)/;
const ASAR_UNPACKED = 'app.asar.unpacked';
const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;
const ENUM_FAILED = 'GPUINFO_ENUM_FAILED';
const LOAD_FAILED = 'GPUINFO_LOAD_FAILED';
// Only reached if the library failed without saying why.
const UNKNOWN_REASON = 'adapter enumeration failed';
// The lock every binding of the library shares; {pid} is the process id.
const LOCK_NAME = 'Local\\quillmar-dxgi-gpu-info-{pid}';
const LOCK_WAIT_MS = 30000;
const LOCK_FAILED = 'GPUINFO_LOCK_FAILED';
// WaitForSingleObject: owned, or owned after its holder ended.
const WAIT_OBJECT_0 = 0;
const WAIT_ABANDONED = 0x80;
const ERROR_ALREADY_EXISTS = 183;
const TOKEN_QUERY = 0x0008;
const TOKEN_OWNER = 4;
const TOKEN_INTEGRITY_LEVEL = 25;
const TOKEN_INFORMATION_BYTES = 256;
const SE_KERNEL_OBJECT = 6;
const OWNER_SECURITY_INFORMATION = 0x1;
const LABEL_SECURITY_INFORMATION = 0x10;
const SYSTEM_MANDATORY_LABEL_ACE_TYPE = 0x11;
const MEDIUM_LEVEL = 0x2000;
const SID_HEADER_BYTES = 8;
// An ACE's SID follows its header (4 bytes) and access mask (4); an ACL's
// ACE count follows its revision, padding and size.
const ACE_SID_OFFSET = 8;
const ACL_COUNT_OFFSET = 4;
// What a call waits for the lock; only the package's tests shorten it, through
// the symbol below.
let lockWaitMs = LOCK_WAIT_MS;
const LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x100;
const LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;

/**
 * Every error of this package but argument errors: DXGI could not be reached
 * (code GPUINFO_ENUM_FAILED, reason = the library's last-error text), or the
 * library could not be loaded (code GPUINFO_LOAD_FAILED, path = the absolute
 * path tried, reason = why).
 */
class GpuInfoError extends Error {
  constructor(message, { code, reason, path: dllPath, cause } = {}) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = 'GpuInfoError';
    this.code = code;
    this.reason = reason;
    if (dllPath !== undefined) this.path = dllPath;
  }
}

let lib = null;
let calls = null;
let lock = null;
// koffi, required at the first call, so that a project that merely installs
// and requires this package elsewhere than Windows gets this package's error
// there instead of koffi's at require time.
let koffiModule = null;

function unsupported(why) {
  return new GpuInfoError(why, { code: LOAD_FAILED, reason: why });
}

function windowsOnly(platform) {
  if (platform !== 'win32') {
    return unsupported(`quillmar-dxgi-gpu-info works on Windows only; this process runs on ${platform} (process.platform)`);
  }
  return null;
}

function ffi() {
  if (!koffiModule) {
    const err = windowsOnly(process.platform);
    if (err) throw err;
    koffiModule = require('koffi');
  }
  return koffiModule;
}

/**
 * The absolute path of the DLL a process on `platform` and `arch` loads from
 * the package folder `dir`: outside app.asar when `dir` is inside one. Throws
 * GpuInfoError when the package has no DLL for them.
 */
function dllPathFor(platform, arch, dir = __dirname) {
  const err = windowsOnly(platform);
  if (err) throw err;
  if (!Object.hasOwn(DLL_NAMES, arch)) {
    throw unsupported(`no quillmar-dxgi-gpu-info DLL for ${arch} processes ships in this package ` +
      `(it has ${Object.keys(DLL_NAMES).join(', ')})`);
  }
  return path.join(path.resolve(dir.replace(ASAR_SEGMENT, `$1${ASAR_UNPACKED}`)), DLL_NAMES[arch]);
}

/** LOCK_NAME for process `pid` (default: this one). */
function lockName(pid = process.pid) {
  return LOCK_NAME.replace('{pid}', String(pid));
}

function lockError(why) {
  const reason = `no process lock: ${why}`;
  return new GpuInfoError(reason, { code: LOCK_FAILED, reason });
}

// The integrity level of a SID: its last sub-authority. A SID is a revision
// byte, a count of sub-authorities, six bytes of authority, then the
// sub-authorities, 32 bits each.
function sidLevel(sid) {
  const koffi = ffi();
  const count = koffi.decode(sid, 1, 'uint8');
  const bytes = Buffer.from(koffi.decode(sid, 'uint8', SID_HEADER_BYTES + 4 * count));
  return bytes.readUInt32LE(SID_HEADER_BYTES + 4 * (count - 1));
}

// Whether the mutex found under the name is owned by the owner this
// process's token gives new objects and labelled no lower than they are (the
// lower of the token's level and medium). Anyone in the session can make an
// object under the name first and would hold every call hostage. Wine
// records no owner for objects of default security; Windows always does.
function ownMutex(kernel32, mutex) {
  const koffi = ffi();
  const advapi32 = koffi.load('advapi32.dll');
  const openProcessToken = advapi32.func('int __stdcall OpenProcessToken(void *process, uint32 access, _Out_ void **token)');
  const getTokenInformation = advapi32.func(
    'int __stdcall GetTokenInformation(void *token, int infoClass, void *info, uint32 length, _Out_ uint32 *returned)');
  const getSecurityInfo = advapi32.func('uint32 __stdcall GetSecurityInfo(void *handle, int objectType, uint32 information, ' +
    '_Out_ void **owner, void *group, void *dacl, _Out_ void **sacl, _Out_ void **descriptor)');
  const equalSid = advapi32.func('int __stdcall EqualSid(void *a, void *b)');
  const getAce = advapi32.func('int __stdcall GetAce(void *acl, uint32 index, _Out_ void **ace)');
  const getCurrentProcess = kernel32.func('void *__stdcall GetCurrentProcess(void)');
  const closeHandle = kernel32.func('int __stdcall CloseHandle(void *handle)');
  const localFree = kernel32.func('void *__stdcall LocalFree(void *memory)');

  const token = [null];
  if (!openProcessToken(getCurrentProcess(), TOKEN_QUERY, token)) return false;
  const ownerInfo = Buffer.alloc(TOKEN_INFORMATION_BYTES);
  const levelInfo = Buffer.alloc(TOKEN_INFORMATION_BYTES);
  const known = getTokenInformation(token[0], TOKEN_OWNER, ownerInfo, ownerInfo.length, [0]) &&
    getTokenInformation(token[0], TOKEN_INTEGRITY_LEVEL, levelInfo, levelInfo.length, [0]);
  closeHandle(token[0]);
  if (!known) return false;
  // Both start with a pointer to their SID.
  const tokenOwner = koffi.decode(ownerInfo, 'void *');
  const ours = Math.min(sidLevel(koffi.decode(levelInfo, 'void *')), MEDIUM_LEVEL);
  const owner = [null];
  const sacl = [null];
  const descriptor = [null];
  if (getSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
    owner, null, null, sacl, descriptor) !== 0) return false;
  try {
    let level = MEDIUM_LEVEL;
    const count = sacl[0] ? koffi.decode(sacl[0], ACL_COUNT_OFFSET, 'uint16') : 0;
    for (let i = 0; i < count; i++) {
      const ace = [null];
      if (getAce(sacl[0], i, ace) && koffi.decode(ace[0], 'uint8') === SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
        // The label's SID follows the ACE's header and access mask.
        const bytes = Buffer.from(koffi.decode(ace[0], 'uint8', ACE_SID_OFFSET + SID_HEADER_BYTES));
        const subAuthorities = bytes[ACE_SID_OFFSET + 1];
        const whole = Buffer.from(koffi.decode(ace[0], 'uint8', ACE_SID_OFFSET + SID_HEADER_BYTES + 4 * subAuthorities));
        level = whole.readUInt32LE(ACE_SID_OFFSET + SID_HEADER_BYTES + 4 * (subAuthorities - 1));
        break;
      }
    }
    return (!owner[0] || equalSid(owner[0], tokenOwner) !== 0) && level >= ours;
  } finally {
    localFree(descriptor[0]);
  }
}

// The process-wide lock, made on first use; a failure is not kept, so the
// next call tries again (the squatter may have gone).
function processLock() {
  if (lock) return lock;
  const kernel32 = ffi().load('kernel32.dll');
  const createMutex = kernel32.func('void *__stdcall CreateMutexW(void *attributes, int initialOwner, const char16_t *name)');
  const wait = kernel32.func('uint32 __stdcall WaitForSingleObject(void *handle, uint32 ms)');
  const release = kernel32.func('int __stdcall ReleaseMutex(void *handle)');
  const closeHandle = kernel32.func('int __stdcall CloseHandle(void *handle)');
  const lastError = kernel32.func('uint32 __stdcall GetLastError(void)');
  const handle = createMutex(null, 0, lockName());
  const error = lastError();
  if (!handle) throw lockError(`CreateMutexW failed with ${error}`);
  if (error === ERROR_ALREADY_EXISTS && !ownMutex(kernel32, handle)) {
    closeHandle(handle);
    throw lockError("the mutex under its name is not this process's own");
  }
  lock = {
    hold(fn) {
      const got = wait(handle, lockWaitMs);
      if (got !== WAIT_OBJECT_0 && got !== WAIT_ABANDONED) throw lockError(`WaitForSingleObject gave ${got}`);
      try {
        return fn();
      } finally {
        release(handle);
      }
    },
  };
  return lock;
}

// koffi.load takes no LoadLibraryExW flags and tries LoadLibraryW first,
// whose search order would resolve the DLL's own imports. Loaded here first
// with flags that allow only its own folder and System32, the module is
// mapped with its imports from there, and koffi's load finds it mapped; the
// returned function drops this first reference once koffi holds its own.
function loadWithImportsFromSystem32(absolute) {
  const kernel32 = ffi().load('kernel32.dll');
  const loadLibraryEx = kernel32.func('void *__stdcall LoadLibraryExW(const char16_t *name, void *file, uint32 flags)');
  const freeLibrary = kernel32.func('int __stdcall FreeLibrary(void *module)');
  const lastError = kernel32.func('uint32 __stdcall GetLastError(void)');
  const module = loadLibraryEx(absolute, null, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) throw loadError(absolute, `LoadLibraryExW failed with ${lastError()}`);
  return () => freeLibrary(module);
}

function loadError(dllPath, why, cause) {
  return new GpuInfoError(`cannot load ${dllPath}: ${why}`, { code: LOAD_FAILED, reason: why, path: dllPath, cause });
}

/**
 * Loads the library from `dllPath`, made absolute (default: the DLL beside
 * this file for this process's architecture); returns the absolute path. A
 * file that can't be loaded or lacks one of the library's calls throws
 * GpuInfoError, and the library loaded before stays in use; so does a process
 * that is not on Windows, or (by default) of an architecture the package has
 * no DLL for.
 */
function load(dllPath = dllPathFor(process.platform, process.arch)) {
  if (typeof dllPath !== 'string' || dllPath === '') {
    const err = new TypeError('load(path): path must be a non-empty string');
    err.code = 'ERR_INVALID_ARG_TYPE';
    throw err;
  }
  // A relative path would go through the loader's search order.
  const absolute = path.resolve(dllPath);
  const koffi = ffi();
  const unpin = loadWithImportsFromSystem32(absolute);
  let next;
  try {
    next = koffi.load(absolute);
  } catch (err) {
    throw loadError(absolute, err.message, err);
  } finally {
    unpin();
  }
  let declared;
  try {
    // koffi turns a `const char *` result into a JS string at return time,
    // inside the lock: the copy the library's rewritable texts need.
    declared = {
      version: next.func('const char *gpuinfo_version(void)'),
      lastError: next.func('const char *gpuinfo_last_error(void)'),
      getJson: next.func('const char *gpuinfo_get_json(void)'),
      adapterCount: next.func('int32 gpuinfo_adapter_count(void)'),
      vramMb: next.func('int32 gpuinfo_vram_mb(int32 index)'),
    };
  } catch (err) {
    next.unload();
    throw loadError(absolute, err.message, err);
  }
  // The previous library goes only once the new one is fully usable.
  if (lib) lib.unload();
  lib = next;
  calls = declared;
  return absolute;
}

// Runs fn(calls) holding the lock, loading the default library first if none is.
function withLibrary(fn) {
  if (!calls) load();
  return processLock().hold(() => fn(calls));
}

// Called with the lock held, right after the failed call.
function enumerationError(c) {
  const reason = c.lastError() || UNKNOWN_REASON;
  return new GpuInfoError(reason, { code: ENUM_FAILED, reason });
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
  return withLibrary((c) => c.version());
}

/** Reason of the last failed enumeration, or "" (emptied by report() and adapters()). */
function lastError() {
  return withLibrary((c) => c.lastError());
}

/** The library's JSON report, unchanged; throws GpuInfoError when DXGI can't be reached. */
function report() {
  return withLibrary((c) => {
    const json = c.getJson();
    if (json === null) throw enumerationError(c);
    return json;
  });
}

/** Every adapter DXGI reports, software ones included, from one enumeration. */
function adapters() {
  return JSON.parse(report()).adapters.map((a) => ({ ...a, software: a.software !== 0 }));
}

/** Number of adapters that are not software adapters. */
function adapterCount() {
  return withLibrary((c) => {
    const count = c.adapterCount();
    if (count < 0) throw enumerationError(c);
    return count;
  });
}

/**
 * Dedicated video memory in whole MiB of the adapter at `index`. Throws
 * RangeError when there is no adapter at `index` (or it is not an int32),
 * TypeError when it is not a number, GpuInfoError when DXGI can't be reached.
 */
function vramMb(index) {
  checkIndex(index);
  return withLibrary((c) => {
    const mb = c.vramMb(index);
    if (mb >= 0) return mb;
    // -1 is both answers; one report answers, so DXGI recovering in between
    // can't turn a failure into "no adapter".
    const json = c.getJson();
    if (json === null) throw enumerationError(c);
    const adapter = index >= 0 && JSON.parse(json).adapters.find((a) => a.index === index);
    if (adapter) return Math.min(adapter.dedicated_vram_mb, INT32_MAX);
    const err = new RangeError(`no adapter at index ${index}`);
    err.code = 'ERR_OUT_OF_RANGE';
    throw err;
  });
}

module.exports = {
  load, version, lastError, report, adapters, adapterCount, vramMb, lockName, GpuInfoError, DLL_NAME, LOCK_NAME, LOCK_WAIT_MS,
};
// Not part of the API: the package's own tests read the DLL's path for any
// platform, architecture and folder here,
Object.defineProperty(module.exports, Symbol.for('quillmar-dxgi-gpu-info.dllPathFor'), { value: dllPathFor });
// and set a shorter wait here.
Object.defineProperty(module.exports, Symbol.for('quillmar-dxgi-gpu-info.lockWaitMs'), {
  set(ms) {
    lockWaitMs = ms;
  },
});
