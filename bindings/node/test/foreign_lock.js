'use strict';
// Started by binding.test.js as a node process of its own, since the lock is
// made once per process: an event made under the lock's name before the
// binding's first call, as by anyone who guessed the name. Prints what each
// call threw, as JSON.

const koffi = require('koffi');
const gpu = require('quillmar-dxgi-gpu-info');

const kernel32 = koffi.load('kernel32.dll');
const createEvent = kernel32.func(
  'void *__stdcall CreateEventW(void *attributes, int manualReset, int initialState, const char16_t *name)');
if (!createEvent(null, 1, 0, gpu.lockName())) {
  console.error('CreateEventW failed');
  process.exit(2);
}

const calls = { adapter_count: () => gpu.adapterCount(), adapters: () => gpu.adapters(), report: () => gpu.report(), vram_mb: () => gpu.vramMb(0) };
const threw = {};
for (const [name, call] of Object.entries(calls)) {
  try {
    call();
    threw[name] = null;
  } catch (err) {
    threw[name] = { gpuInfoError: err instanceof gpu.GpuInfoError, code: err.code, reason: err.reason, message: err.message };
  }
}
console.log(JSON.stringify(threw));
