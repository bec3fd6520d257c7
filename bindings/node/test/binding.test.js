'use strict';
// Runs in Windows node.exe under Wine, laid out beside node_modules/ that
// holds koffi and this package with the DLL (see run_wine.py). The first
// argument names the DXGI the test process sees; the table below says what
// the binding must report for it.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const gpu = require('quillmar-dxgi-gpu-info');

// Whole MiB, rounded down, as the report gives sizes.
const mib = (bytes) => Math.floor(bytes / 1048576);

// The test double's "example" preset, as the library reports it.
const EXAMPLE_ADAPTERS = [
  { index: 0, name: 'Example V7 Graphics', vendor: 'AMD', vendor_id: 0x1002, device_id: 0x73bf,
    dedicated_vram_mb: mib(17163091968), shared_memory_mb: mib(34317172736),
    driver_version: '31.0.24033.1003', software: 0 },
  { index: 1, name: 'Software Rasterizer', vendor: 'Microsoft', vendor_id: 0x1414, device_id: 0x008c,
    dedicated_vram_mb: 0, shared_memory_mb: mib(4241260544),
    driver_version: '', software: 1 },
];

// The "mixed" preset: a non-ASCII name, a long one, one without a driver version.
const MIXED_ADAPTERS = [
  { index: 0, name: 'Radeon Pr\u00e9cision \u20ac \u6f22\u5b57', vendor: 'AMD', vendor_id: 0x1002,
    device_id: 0x73bf, dedicated_vram_mb: mib(17163091968), shared_memory_mb: mib(34317172736),
    driver_version: '31.0.24033.1003', software: 0 },
  { index: 1, name: 'NVIDIA Example Ultra Long Adapter Name With Many Words That Keeps Going ' +
      'Past Any Sensible Column Width Of A Table', vendor: 'NVIDIA', vendor_id: 0x10de, device_id: 0x2684,
    dedicated_vram_mb: mib(25757220864), shared_memory_mb: mib(34317172736),
    driver_version: '32.15.16.3370', software: 0 },
  { index: 2, name: 'Intel Example Graphics', vendor: 'Intel', vendor_id: 0x8086, device_id: 0x9a49,
    dedicated_vram_mb: mib(134217728), shared_memory_mb: mib(17158586368),
    driver_version: '', software: 0 },
  { index: 3, name: 'Software Rasterizer', vendor: 'Microsoft', vendor_id: 0x1414, device_id: 0x008c,
    dedicated_vram_mb: 0, shared_memory_mb: mib(4241260544),
    driver_version: '', software: 1 },
];

// Reachable DXGI: the adapters expected (null: only checked for shape), and
// how many adapters and hardware adapters when known.
// Unreachable DXGI: the reason the library gives.
const CASES = {
  example: { adapters: EXAMPLE_ADAPTERS, count: 1 },
  mixed: { adapters: MIXED_ADAPTERS, count: 3 },
  wine: { adapters: null, length: 1, count: 1 },
  system: { adapters: null }, // any machine's own DXGI
  create_fails: { reason: 'CreateDXGIFactory failed' },
  missing: { reason: 'dxgi.dll not found' },
  no_entry: { reason: 'CreateDXGIFactory not found' },
};

const caseName = process.argv[2];

// With a second argument (double, no_entry or missing), the library gets its
// dxgi.dll through the test seam (tests/seam) instead of the system
// directory: dxgi_seam.dll, beside this script, points the library's own
// import of LoadLibraryExA at itself; the double beside it picks its scenario
// from FAKE_DXGI_SCENARIO.
const seamMode = process.argv[3];
if (seamMode) {
  const modes = { double: 0, no_entry: 1, missing: 2 };
  if (!(seamMode in modes)) throw new Error(`unknown seam mode "${seamMode}"`);
  gpu.version(); // loads the library
  const seam = require('koffi').load(path.join(__dirname, 'dxgi_seam.dll'));
  const attach = seam.func('int dxgi_seam_attach(const char *library, int mode)');
  if (attach('quillmar-dxgi-gpu-info.dll', modes[seamMode]) !== 1) throw new Error('dxgi_seam_attach failed');
}
const expected = CASES[caseName];
if (!expected) throw new Error(`unknown case "${caseName}"; known: ${Object.keys(CASES).join(', ')}`);

function assertWellFormed(adapter, position) {
  assert.equal(adapter.index, position);
  assert.equal(typeof adapter.name, 'string');
  assert.ok(adapter.name.length > 0, 'name is empty');
  assert.equal(typeof adapter.vendor, 'string');
  for (const key of ['vendor_id', 'device_id', 'dedicated_vram_mb', 'shared_memory_mb']) {
    assert.ok(Number.isSafeInteger(adapter[key]) && adapter[key] >= 0, `${key} = ${adapter[key]}`);
  }
  assert.match(adapter.driver_version, /^(\d+\.\d+\.\d+\.\d+)?$/);
  assert.equal(adapter.software, adapter.vendor_id === 0x1414 ? 1 : 0, `software = ${adapter.software}`);
}

test('version is the library version', () => {
  assert.equal(gpu.version(), '1.0.0');
});

if (expected.reason) {
  test(`unreachable DXGI (${caseName}) is reported`, async (t) => {
    const enumErr = { name: 'Error', message: expected.reason, code: 'GPUINFO_ENUM_FAILED', reason: expected.reason };
    await t.test('adapters() throws the reason', () => {
      assert.throws(() => gpu.adapters(), enumErr);
      assert.equal(gpu.lastError(), expected.reason);
    });
    await t.test('adapterCount() throws the reason', () => {
      assert.throws(() => gpu.adapterCount(), enumErr);
      assert.equal(gpu.lastError(), expected.reason);
    });
    await t.test('vramMb() gives -1 and lastError() tells the failure apart', () => {
      for (const index of [0, 1, -1]) assert.equal(gpu.vramMb(index), -1);
      assert.equal(gpu.lastError(), expected.reason);
    });
  });
} else {
  test(`reachable DXGI (${caseName}) is reported`, async (t) => {
    await t.test('lastError() starts empty', () => {
      assert.equal(gpu.lastError(), '');
    });
    await t.test('adapters() gives the report', () => {
      const list = gpu.adapters();
      assert.ok(Array.isArray(list));
      if (expected.adapters) assert.deepEqual(list, expected.adapters);
      else {
        if (expected.length !== undefined) assert.equal(list.length, expected.length);
        list.forEach(assertWellFormed);
      }
      if (expected.count !== undefined) assert.equal(list.filter((a) => a.software === 0).length, expected.count);
      assert.equal(gpu.lastError(), '');
    });
    await t.test('adapterCount() counts non-software adapters', () => {
      const hardware = gpu.adapters().filter((a) => a.software === 0).length;
      assert.equal(gpu.adapterCount(), expected.count ?? hardware);
    });
    await t.test('vramMb() agrees with the report at each index, -1 around it', () => {
      const list = gpu.adapters();
      for (const a of list) assert.equal(gpu.vramMb(a.index), a.dedicated_vram_mb, `index ${a.index}`);
      for (const index of [list.length, -1, 2147483647, -2147483648]) {
        assert.equal(gpu.vramMb(index), -1, `index ${index}`);
      }
      assert.equal(gpu.lastError(), '');
    });
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

test('load() takes an explicit path', async (t) => {
  const here = path.join(__dirname, 'alt', gpu.DLL_NAME);
  await t.test('a copy elsewhere loads and answers', () => {
    assert.equal(gpu.load(here), here);
    assert.equal(gpu.version(), '1.0.0');
  });
  await t.test('a missing file throws and keeps the loaded library', () => {
    assert.throws(() => gpu.load(path.join(__dirname, 'no-such-folder', gpu.DLL_NAME)), Error);
    assert.equal(gpu.version(), '1.0.0');
  });
  for (const bad of [42, '', null]) {
    await t.test(`rejects ${JSON.stringify(bad)}`, () => {
      assert.throws(() => gpu.load(bad), TypeError);
    });
  }
  await t.test('the default path is the package folder', () => {
    const dll = gpu.load();
    assert.equal(path.basename(dll), gpu.DLL_NAME);
    assert.equal(path.dirname(dll), path.dirname(require.resolve('quillmar-dxgi-gpu-info')));
  });
});
