'use strict';
// Started by binding.test.js as a node process of its own for one row of the
// lock's squatter table (cases.json "lock" "squatters", the row named by
// argv[2]), since the binding keeps its mutex once it has one: the object is
// planted before the binding's first call. Prints, as JSON, what the first
// call gave, what the call after the squatter let go gave, and whether
// another thread took the lock at once after each.

const fs = require('node:fs');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const koffi = require('koffi');
const gpu = require('quillmar-dxgi-gpu-info');
const { lockFreeElsewhere } = require('./lock_free.js');

const SDDL_REVISION_1 = 1;

const table = JSON.parse(fs.readFileSync(path.join(__dirname, 'cases.json'), 'utf8'));
const row = table.lock.squatters.find((r) => r.name === process.argv[2]);
if (!row) {
  console.error(`no squatter ${process.argv[2]}`);
  process.exit(2);
}
gpu[Symbol.for('quillmar-dxgi-gpu-info.lockWaitMs')] = table.lock.test_wait_ms;

const kernel32 = koffi.load('kernel32.dll');
const advapi32 = koffi.load('advapi32.dll');
const createEvent = kernel32.func(
  'void *__stdcall CreateEventW(void *attributes, int manualReset, int initialState, const char16_t *name)');
const createMutex = kernel32.func('void *__stdcall CreateMutexW(void *attributes, int initialOwner, const char16_t *name)');
// By address: a worker's handle arrives as a number.
const closeHandle = kernel32.func('int __stdcall CloseHandle(uint64 handle)');
const localFree = kernel32.func('void *__stdcall LocalFree(void *memory)');
const convertSddl = advapi32.func('int __stdcall ConvertStringSecurityDescriptorToSecurityDescriptorW(' +
  'const char16_t *sddl, uint32 revision, _Out_ void **descriptor, void *size)');
const SecurityAttributes = koffi.struct('SECURITY_ATTRIBUTES', { length: 'uint32', descriptor: 'void *', inherit: 'int' });
const createMutexSecured = kernel32.func(
  'void *__stdcall CreateMutexW(SECURITY_ATTRIBUTES *attributes, int initialOwner, const char16_t *name)');

// A worker that makes the mutex holding it, then keeps it until told or ends
// holding it (abandoned).
function holder(keep) {
  const code = `
    const koffi = require('koffi');
    const { parentPort, workerData } = require('node:worker_threads');
    const kernel32 = koffi.load('kernel32.dll');
    const create = kernel32.func('void *__stdcall CreateMutexW(void *attributes, int initialOwner, const char16_t *name)');
    const release = kernel32.func('int __stdcall ReleaseMutex(void *handle)');
    const mutex = create(null, 1, workerData.name);
    parentPort.postMessage(koffi.address(mutex).toString());
    if (workerData.keep) parentPort.once('message', () => { release(mutex); parentPort.close(); });`;
  const worker = new Worker(code, { eval: true, workerData: { name: gpu.lockName(), keep } });
  return new Promise((resolve, reject) => {
    worker.once('message', (address) => resolve({ worker, address: BigInt(address) }));
    worker.once('error', reject);
  });
}

function outcome() {
  try {
    gpu.version();
    return null;
  } catch (err) {
    return { gpuInfoError: err instanceof gpu.GpuInfoError, code: err.code, reason: err.reason, message: err.message };
  }
}

async function main() {
  let planted = null;
  let held = null;
  if (row.makes === 'event') {
    planted = createEvent(null, 1, 0, gpu.lockName());
  } else if (row.makes === 'mutex') {
    const descriptor = [null];
    if (!convertSddl(row.sddl, SDDL_REVISION_1, descriptor, null)) throw new Error('unreadable SDDL');
    planted = createMutexSecured({ length: koffi.sizeof(SecurityAttributes), descriptor: descriptor[0], inherit: 0 }, 0,
      gpu.lockName());
    localFree(descriptor[0]);
  } else if (row.makes === 'held' || row.makes === 'abandoned') {
    held = await holder(row.makes === 'held');
    if (row.makes === 'abandoned') await new Promise((resolve) => held.worker.once('exit', resolve));
  } else {
    throw new Error(`no squatter kind ${row.makes}`);
  }
  if (!planted && !held?.address) throw new Error("the squatter's object was not made");
  const first = outcome();
  const freeAfterFirst = first ? null : await lockFreeElsewhere(gpu.lockName());
  if (held && row.makes === 'held') {
    held.worker.postMessage('release');
    await new Promise((resolve) => held.worker.once('exit', resolve));
  }
  // The worker's handle is the process's: closed here, as a squatter leaving.
  closeHandle(planted ? koffi.address(planted) : held.address);
  const again = outcome();
  const freeAfterAgain = await lockFreeElsewhere(gpu.lockName());
  console.log(JSON.stringify({ first, freeAfterFirst, again, freeAfterAgain }));
}

main().catch((err) => {
  console.error(err);
  process.exit(2);
});
