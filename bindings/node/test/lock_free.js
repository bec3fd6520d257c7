'use strict';
// Whether another thread (a worker: a thread of its own) takes the named
// mutex `name` with a zero wait: the call before let go of it on its own
// thread. Shared by binding.test.js and squatter.js.

const { Worker } = require('node:worker_threads');

const SYNCHRONIZE = 0x00100000;
const MUTEX_MODIFY_STATE = 0x0001;
const WAIT_OBJECT_0 = 0;
const WAIT_ABANDONED = 0x80;

function lockFreeElsewhere(name) {
  const code = `
    const koffi = require('koffi');
    const { parentPort, workerData } = require('node:worker_threads');
    const kernel32 = koffi.load('kernel32.dll');
    const open = kernel32.func('void *__stdcall OpenMutexW(uint32 access, int inherit, const char16_t *name)');
    const wait = kernel32.func('uint32 __stdcall WaitForSingleObject(void *handle, uint32 ms)');
    const release = kernel32.func('int __stdcall ReleaseMutex(void *handle)');
    const close = kernel32.func('int __stdcall CloseHandle(void *handle)');
    const mutex = open(${SYNCHRONIZE | MUTEX_MODIFY_STATE}, 0, workerData);
    let taken = false;
    if (mutex) {
      const got = wait(mutex, 0);
      taken = got === ${WAIT_OBJECT_0} || got === ${WAIT_ABANDONED};
      if (taken) release(mutex);
      close(mutex);
    }
    parentPort.postMessage(taken);`;
  return new Promise((resolve, reject) => {
    const worker = new Worker(code, { eval: true, workerData: name });
    worker.once('message', resolve);
    worker.once('error', reject);
  });
}

module.exports = { lockFreeElsewhere };
