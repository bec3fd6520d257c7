'use strict';
// Runs in the build machine's own node (node --test), on any platform: which
// DLL the package picks for each platform and architecture, and what a
// process not on Windows gets.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const gpu = require('..');

const dllPathFor = gpu[Symbol.for('quillmar-dxgi-gpu-info.dllPathFor')];
const DIR = path.resolve('/opt/app/node_modules/quillmar-dxgi-gpu-info');
const PLATFORMS = ['win32', 'linux', 'darwin'];
// The architectures the package ships a DLL for, and ones it does not.
const SHIPPED = { x64: gpu.DLL_NAME };
const ARCHES = ['x64', 'arm64', 'ia32'];

function unsupported(...words) {
  return (err) => {
    assert.ok(err instanceof gpu.GpuInfoError, `${err} is not a GpuInfoError`);
    assert.equal(err.code, 'GPUINFO_LOAD_FAILED');
    assert.equal(err.reason, err.message);
    assert.equal(err.path, undefined);
    for (const word of words) assert.match(err.message, new RegExp(`\\b${word}\\b`));
    return true;
  };
}

test('the DLL for each platform and architecture', async (t) => {
  for (const platform of PLATFORMS) {
    for (const arch of ARCHES) {
      await t.test(`${platform} ${arch}`, () => {
        if (platform !== 'win32') {
          assert.throws(() => dllPathFor(platform, arch, DIR), unsupported('Windows only', platform));
        } else if (arch in SHIPPED) {
          assert.equal(dllPathFor(platform, arch, DIR), path.join(DIR, SHIPPED[arch]));
        } else {
          assert.throws(() => dllPathFor(platform, arch, DIR), unsupported(arch, 'ships'));
        }
      });
    }
  }
});

test('inside app.asar, the DLL is looked for in app.asar.unpacked', () => {
  const cases = [
    ['/opt/app/resources/app.asar/node_modules/q', '/opt/app/resources/app.asar.unpacked/node_modules/q'],
    ['C:\\App\\resources\\app.asar\\node_modules\\q', 'C:\\App\\resources\\app.asar.unpacked\\node_modules\\q'],
    ['/opt/app/resources/app.asar', '/opt/app/resources/app.asar.unpacked'],
    // Already outside, or a folder that only looks alike: unchanged.
    ['/opt/app/resources/app.asar.unpacked/node_modules/q', '/opt/app/resources/app.asar.unpacked/node_modules/q'],
    ['/opt/my-app.asar/node_modules/q', '/opt/my-app.asar/node_modules/q'],
    ['/opt/app.asarx/node_modules/q', '/opt/app.asarx/node_modules/q'],
  ];
  for (const [dir, want] of cases) {
    assert.equal(dllPathFor('win32', 'x64', dir), path.join(path.resolve(want), gpu.DLL_NAME), dir);
  }
});

test('off Windows, requiring works and the first call throws the Windows-only error', { skip: process.platform === 'win32' }, () => {
  const calls = [gpu.version, gpu.lastError, gpu.report, gpu.adapters, gpu.adapterCount, () => gpu.vramMb(0),
    () => gpu.load(), () => gpu.load(path.join(DIR, gpu.DLL_NAME))];
  for (const call of calls) {
    assert.throws(call, unsupported('Windows only', process.platform));
  }
  // Argument errors come first, as on Windows.
  assert.throws(() => gpu.vramMb('0'), TypeError);
  // Nothing above needed koffi, which this folder does not have.
  assert.ok(!Object.keys(require.cache).some((file) => file.includes(`${path.sep}koffi${path.sep}`)));
});
