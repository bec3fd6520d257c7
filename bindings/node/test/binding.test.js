'use strict';
// Runs in Windows node.exe under Wine, in a folder where the packed package
// was installed with npm (see run_wine.py), beside cases.json, which says
// what each scenario must give. The first argument names the DXGI the test
// process sees.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { once } = require('node:events');
const { Worker } = require('node:worker_threads');
const { spawnSync } = require('node:child_process');
const gpu = require('quillmar-dxgi-gpu-info');
// The version the installed package says, which set-version.sh writes with the library's.
const { version: PACKAGE_VERSION } = require('quillmar-dxgi-gpu-info/package.json');
const { lockFreeElsewhere } = require('./lock_free.js');

const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;
// Concurrency: worker threads, and calls of adapters() each makes.
const WORKERS = 8;
const CALLS_PER_WORKER = 400;

const table = JSON.parse(fs.readFileSync(path.join(__dirname, 'cases.json'), 'utf8'));
const caseName = process.argv[2];
const expected = table.cases.find((c) => c.name === caseName);
if (!expected) throw new Error(`no case "${caseName}" in cases.json`);

// With a second argument (double, no_entry or missing), the library gets its
// dxgi.dll through the test seam (tests/seam) instead of the system
// directory: dxgi_seam.dll, beside this script, points the library's own
// import of LoadLibraryExA at itself; the double beside it picks its scenario
// from FAKE_DXGI_SCENARIO. A library loaded afresh needs it again; attaching
// again changes the mode.
const seamMode = process.argv[3];
const SEAM_MODES = { double: 0, no_entry: 1, missing: 2 };
let attach = null;
function attachSeam(mode) {
  if (!(mode in SEAM_MODES)) throw new Error(`unknown seam mode "${mode}"`);
  gpu.version(); // loads the library
  if (!attach) {
    const seam = require('koffi').load(path.join(__dirname, 'dxgi_seam.dll'));
    attach = seam.func('int dxgi_seam_attach(const char *library, int mode)');
  }
  if (attach(gpu.DLL_NAME, SEAM_MODES[mode]) !== 1) throw new Error('dxgi_seam_attach failed');
}
if (seamMode) attachSeam(seamMode);

// Gives the double beside this script (the module the seam hands the
// library) the named preset through its own control calls, which also start
// its counts afresh. The buffer is more than its struct fake_scenario.
const SCENARIO_BYTES = 1 << 20;
let preset = null;
function usePreset(name) {
  if (!preset) {
    const double = require('koffi').load(path.join(__dirname, 'fake_dxgi.dll'));
    preset = {
      fill: double.func('int fake_dxgi_preset(const char *name, void *scenario)'),
      set: double.func('void fake_dxgi_set_scenario(const void *scenario)'),
    };
  }
  const scenario = Buffer.alloc(SCENARIO_BYTES);
  if (preset.fill(name, scenario) !== 1) throw new Error(`the double has no preset "${name}"`);
  preset.set(scenario);
}

// The assertion for an error kind cases.json names.
function errorOf(kind, reason) {
  if (kind === 'enumeration') {
    return (err) => {
      assert.ok(err instanceof gpu.GpuInfoError, `${err} is not a GpuInfoError`);
      assert.equal(err.code, 'GPUINFO_ENUM_FAILED');
      assert.equal(err.reason, reason);
      assert.equal(err.message, reason);
      return true;
    };
  }
  if (kind === 'index') {
    return (err) => {
      assert.ok(err instanceof RangeError && !(err instanceof gpu.GpuInfoError), `${err} is not a RangeError`);
      return true;
    };
  }
  throw new Error(`cases.json names an unknown error kind "${kind}"`);
}

// The call cases.json names, after the C exports.
function callNamed(name, index) {
  const calls = {
    report: () => gpu.report(),
    adapters: () => gpu.adapters(),
    adapter_count: () => gpu.adapterCount(),
    vram_mb: () => gpu.vramMb(index),
  };
  if (!(name in calls)) throw new Error(`cases.json names an unknown call "${name}"`);
  return calls[name]();
}

function assertWellFormed(adapter, position) {
  assert.equal(adapter.index, position);
  assert.equal(typeof adapter.name, 'string');
  assert.ok(adapter.name.length > 0, 'name is empty');
  assert.equal(typeof adapter.vendor, 'string');
  for (const key of ['vendor_id', 'device_id', 'dedicated_vram_mb', 'shared_memory_mb']) {
    assert.ok(Number.isSafeInteger(adapter[key]) && adapter[key] >= 0, `${key} = ${adapter[key]}`);
  }
  assert.match(adapter.driver_version, /^(\d+\.\d+\.\d+\.\d+)?$/);
  assert.equal(typeof adapter.software, 'boolean');
  assert.equal(adapter.software, adapter.vendor_id === 0x1414, `software ${adapter.software}`);
}

test('the process lock has the name every binding shares', () => {
  assert.equal(gpu.LOCK_NAME, table.lock.name);
  assert.equal(gpu.LOCK_WAIT_MS, table.lock.wait_ms);
  assert.equal(gpu.lockName(4242), table.lock.name.replace('{pid}', '4242'));
  assert.equal(gpu.lockName(), table.lock.name.replace('{pid}', String(process.pid)));
});

test('version is the library version, the package\'s own', () => {
  assert.equal(gpu.version(), PACKAGE_VERSION);
});

if (expected.reason) {
  test(`unreachable DXGI (${caseName}) is reported`, async (t) => {
    await t.test('each failing call throws GpuInfoError with the reason', () => {
      assert.ok(expected.errors.length > 0, 'cases.json lists no failing calls');
      for (const e of expected.errors) {
        assert.throws(() => callNamed(e.call, e.index), errorOf(e.error, expected.reason), `${e.call}(${e.index ?? ''})`);
        assert.equal(gpu.lastError(), expected.reason);
      }
    });
  });
} else if (!expected.generation) {
  test(`reachable DXGI (${caseName}) is reported`, async (t) => {
    await t.test('lastError() starts empty', () => {
      assert.equal(gpu.lastError(), '');
    });
    await t.test('adapters() gives the report, software as a boolean', () => {
      const list = gpu.adapters();
      assert.ok(Array.isArray(list));
      if (expected.adapters) assert.deepEqual(list, expected.adapters);
      else {
        // Wine's own DXGI: how many; any machine's ("system"): whatever it has.
        if (expected.adapter_count !== undefined) assert.equal(list.length, expected.adapter_count);
        list.forEach(assertWellFormed);
      }
      assert.equal(gpu.lastError(), '');
    });
    await t.test('report() is the library\'s JSON, software 0 or 1', () => {
      const parsed = JSON.parse(gpu.report()).adapters;
      // Against the shared case itself, where it lists the adapters.
      if (expected.adapters) assert.deepEqual(parsed.map((a) => ({ ...a, software: a.software === 1 })), expected.adapters);
      assert.ok(parsed.every((a) => a.software === 0 || a.software === 1));
    });
    await t.test('adapterCount() counts non-software adapters', () => {
      assert.equal(gpu.adapterCount(), gpu.adapters().filter((a) => !a.software).length);
    });
    await t.test('vramMb() agrees with the report at each index', () => {
      for (const a of gpu.adapters()) {
        assert.equal(gpu.vramMb(a.index), Math.min(a.dedicated_vram_mb, INT32_MAX), `index ${a.index}`);
      }
    });
    await t.test('the failing calls throw what cases.json says', () => {
      for (const e of expected.errors) {
        assert.throws(() => callNamed(e.call, e.index), errorOf(e.error, expected.reason), `${e.call}(${e.index})`);
      }
      for (const index of [INT32_MAX, INT32_MIN]) assert.throws(() => gpu.vramMb(index), errorOf('index'));
      assert.equal(gpu.lastError(), '');
    });
  });
}

if (seamMode === 'double') {
  test('sequences: each call judged by what DXGI says now', async (t) => {
    for (const seq of table.sequences) {
      await t.test(seq.name, (st) => {
        try {
          for (const [i, step] of seq.steps.entries()) {
            if (step.scenario === 'missing') {
              attachSeam('missing');
            } else {
              usePreset(step.scenario);
              attachSeam('double');
            }
            const what = `step ${i}: ${step.call}(${step.index ?? ''}) under ${step.scenario}`;
            if ('result' in step) assert.equal(callNamed(step.call, step.index), step.result, what);
            else assert.throws(() => callNamed(step.call, step.index), errorOf(step.error, step.reason), what);
          }
        } finally {
          usePreset(caseName);
          attachSeam(seamMode);
        }
      });
    }
  });
}

test('after every call, failed ones too, another thread takes the lock at once', async () => {
  const calls = {
    version: () => gpu.version(), lastError: () => gpu.lastError(), report: () => gpu.report(),
    adapters: () => gpu.adapters(), adapterCount: () => gpu.adapterCount(), vramMb: () => gpu.vramMb(0),
    'vramMb(99)': () => gpu.vramMb(99),
  };
  for (const [name, call] of Object.entries(calls)) {
    try {
      call();
    } catch {
      // What it throws is the cases' business; here only the lock.
    }
    assert.equal(await lockFreeElsewhere(gpu.lockName()), true, `the lock is still held after ${name}`);
  }
});

if (caseName === 'example') {
  // Each row of the squatter table in a node process of its own (squatter.js).
  for (const row of table.lock.squatters) {
    test(`squatter ${row.name}: ${row.error ?? 'the call succeeds'}; once it has gone the call succeeds`, () => {
      const child = spawnSync(process.execPath, [path.join(__dirname, 'squatter.js'), row.name], { encoding: 'utf8' });
      assert.equal(child.status, 0, child.stderr);
      const got = JSON.parse(child.stdout);
      if (row.error) {
        assert.ok(got.first, 'the first call did not throw');
        assert.ok(got.first.gpuInfoError, `it threw ${got.first.message}, not a GpuInfoError`);
        assert.equal(got.first.code, 'GPUINFO_LOCK_FAILED');
        assert.equal(got.first.reason, row.error);
      } else {
        assert.equal(got.first, null, JSON.stringify(got.first));
        assert.equal(got.freeAfterFirst, true, 'the lock is still held after the first call');
      }
      assert.equal(got.again, null, JSON.stringify(got.again));
      assert.equal(got.freeAfterAgain, true, 'the lock is still held after the call');
    });
  }
}

// The one g a report of the changing scenario carries if it is whole: every
// name has the same g (the digits after the template's text before {g}) and
// the report as many adapters as g gives. NaN for a torn report.
function generationOf(rule, list) {
  const head = rule.name.slice(0, rule.name.indexOf('{g}'));
  const found = new Set(list.map((a) => (a.name.startsWith(head) ? /^\d+/.exec(a.name.slice(head.length))?.[0] : undefined)));
  const g = found.size === 1 ? Number([...found][0]) : NaN;
  return list.length === rule.count.base + (g % rule.count.modulus) ? g : NaN;
}

if (expected.generation) {
  // One thread can't interleave two synchronous calls: the lock matters
  // between worker threads, which call the one DLL on threads of their own.
  test(`${WORKERS} worker threads x ${CALLS_PER_WORKER} calls of adapters(): every report whole`, async () => {
    // Workers start up at their own pace: each says it is ready, then waits
    // on `start` until all are. once() rejects on a worker's 'error'.
    const start = new Int32Array(new SharedArrayBuffer(4));
    const workers = [];
    for (let w = 0; w < WORKERS; w++) {
      workers.push(new Worker(path.join(__dirname, 'concurrency_worker.js'),
        { workerData: { calls: CALLS_PER_WORKER, counting: w % 2 === 1, start: start.buffer } }));
    }
    await Promise.all(workers.map((worker) => once(worker, 'message')));
    const runs = workers.map((worker) => once(worker, 'message').then(([results]) => results));
    Atomics.store(start, 0, 1);
    Atomics.notify(start, 0);
    const perWorker = await Promise.all(runs);
    const seen = new Set();
    for (const results of perWorker) {
      assert.equal(results.length, CALLS_PER_WORKER);
      let last = 0; // g only grows: each call enumerates after this worker's last one
      for (const r of results) {
        if (r.error) assert.fail(`a call failed: ${r.error}`);
        const g = generationOf(expected.generation, r.list);
        assert.ok(g > last, `torn after generation ${last}: ${JSON.stringify(r.list)}`);
        last = g;
        seen.add(g);
      }
    }
    assert.equal(seen.size, WORKERS * CALLS_PER_WORKER, 'enumerations shared or lost');
    console.log(`# ${WORKERS} workers x ${CALLS_PER_WORKER} calls: ${seen.size} whole reports of different generations`);
  });
}

test('vramMb() rejects what is not an int32 before calling the library', async (t) => {
  const BAD_INDEXES = [
    { label: 'fraction', value: 1.5, error: RangeError },
    { label: 'NaN', value: NaN, error: RangeError },
    { label: 'Infinity', value: Infinity, error: RangeError },
    { label: '2**32 (would wrap to 0)', value: 2 ** 32, error: RangeError },
    { label: '2**31', value: 2 ** 31, error: RangeError },
    { label: '-(2**31) - 1', value: -(2 ** 31) - 1, error: RangeError },
    { label: 'numeric string', value: '0', error: TypeError },
    { label: 'bigint', value: 0n, error: TypeError },
    { label: 'undefined', value: undefined, error: TypeError },
    { label: 'null', value: null, error: TypeError },
  ];
  for (const { label, value, error } of BAD_INDEXES) {
    await t.test(label, () => {
      assert.throws(() => gpu.vramMb(value), error);
    });
  }
});

test('load() takes a path and makes it absolute', async (t) => {
  const packaged = path.join(path.dirname(require.resolve('quillmar-dxgi-gpu-info')), gpu.DLL_NAME);
  t.after(() => {
    gpu.load();
    if (seamMode) attachSeam(seamMode);
  });
  await t.test('a copy elsewhere, named relative to the current folder, loads and answers', () => {
    process.chdir(__dirname);
    const relative = path.join('alt', gpu.DLL_NAME);
    assert.equal(gpu.load(relative), path.join(__dirname, relative));
    assert.equal(gpu.version(), PACKAGE_VERSION);
  });
  await t.test('a missing file throws GpuInfoError naming the absolute path, and keeps the loaded library', () => {
    for (const e of table.load_errors) {
      assert.equal(e.error, 'load');
      const absolute = path.resolve(e.path);
      assert.throws(() => gpu.load(e.path), (err) => {
        assert.ok(err instanceof gpu.GpuInfoError, `${err} is not a GpuInfoError`);
        assert.equal(err.code, 'GPUINFO_LOAD_FAILED');
        assert.equal(err.path, absolute);
        assert.ok(err.message.includes(absolute), err.message);
        return true;
      });
    }
    assert.equal(gpu.version(), PACKAGE_VERSION);
  });
  await t.test('a DLL without the library\'s calls throws GpuInfoError naming it', () => {
    const kernel32 = 'C:\\windows\\system32\\kernel32.dll';
    assert.ok(fs.statSync(kernel32).size > 0);
    assert.throws(() => gpu.load(kernel32), (err) => {
      assert.ok(err instanceof gpu.GpuInfoError && err.path === kernel32 && err.message.includes(kernel32), `${err}`);
      return true;
    });
    assert.equal(gpu.version(), PACKAGE_VERSION);
  });
  for (const bad of [42, '', null]) {
    await t.test(`rejects ${JSON.stringify(bad)}`, () => {
      assert.throws(() => gpu.load(bad), TypeError);
    });
  }
  await t.test('the default path is the DLL in the installed package', () => {
    assert.equal(gpu.load(), packaged);
    assert.ok(fs.statSync(packaged).size > 0);
  });
});
