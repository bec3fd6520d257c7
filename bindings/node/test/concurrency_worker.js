'use strict';
// A worker thread of the concurrency test: its own copy of the package (and
// its own koffi handle on the process's one DLL) calling adapters() in a
// loop, and in every other worker the counting calls between, which
// enumerate too. All workers start together; each posts every result back
// at once.

const { parentPort, workerData } = require('node:worker_threads');
const gpu = require('quillmar-dxgi-gpu-info');

// Loaded and ready: wait for the go that starts every worker at once.
gpu.version();
const start = new Int32Array(workerData.start);
parentPort.postMessage('ready');
Atomics.wait(start, 0, 0);

const results = [];
for (let k = 0; k < workerData.calls; k++) {
  try {
    results.push({ list: gpu.adapters() });
    if (workerData.counting) {
      gpu.adapterCount();
      gpu.vramMb(0);
    }
  } catch (err) {
    results.push({ error: String(err) });
  }
}
parentPort.postMessage(results);
