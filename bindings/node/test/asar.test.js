'use strict';
// Runs in this host's node (see run_native.py), in a folder where the packed
// package and @electron/asar were installed with npm: packs the package into
// an Electron app's app.asar with its DLL unpacked, as an app's packer does,
// then compiles the package's index.js as read from the archive, under its
// path inside the archive as Electron gives it, and asks which DLL it loads.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const Module = require('node:module');
const asar = require('@electron/asar');

const PACKAGE = 'quillmar-dxgi-gpu-info';
const installed = path.dirname(require.resolve(`${PACKAGE}/package.json`));
const { DLL_NAME } = require(PACKAGE);

test('in app.asar, the binding loads its DLL from app.asar.unpacked', async () => {
  const root = fs.mkdtempSync(path.join(__dirname, 'electron-'));
  const app = path.join(root, 'app');
  fs.cpSync(installed, path.join(app, 'node_modules', PACKAGE), { recursive: true });
  fs.writeFileSync(path.join(app, 'package.json'), JSON.stringify({ name: 'app', version: '1.0.0', main: 'main.js' }));
  fs.writeFileSync(path.join(app, 'main.js'), `require('${PACKAGE}');\n`);
  const resources = path.join(root, 'resources');
  const archive = path.join(resources, 'app.asar');
  await asar.createPackageWithOptions(app, archive, { unpack: '*.dll' });

  const inside = `node_modules/${PACKAGE}`;
  assert.equal(asar.statFile(archive, `${inside}/${DLL_NAME}`).unpacked, true);
  assert.equal(asar.statFile(archive, `${inside}/index.js`).unpacked, undefined);
  assert.ok(!fs.existsSync(path.join(resources, 'app.asar.unpacked', inside, 'index.js')));

  // index.js as Electron runs it: __dirname is its folder inside the archive.
  const filename = path.join(archive, inside, 'index.js');
  const binding = new Module(filename, module);
  binding.filename = filename;
  binding.paths = Module._nodeModulePaths(path.dirname(filename));
  binding._compile(asar.extractFile(archive, `${inside}/index.js`).toString(), filename);
  const dllPath = binding.exports[Symbol.for(`${PACKAGE}.dllPathFor`)]('win32', 'x64');

  const unpacked = path.join(resources, 'app.asar.unpacked', inside, DLL_NAME);
  console.log(`__dirname in the archive: ${path.dirname(filename)}\nDLL loaded from:          ${dllPath}`);
  assert.equal(dllPath, unpacked);
  assert.deepEqual(fs.readFileSync(dllPath), fs.readFileSync(path.join(installed, DLL_NAME)));
  fs.rmSync(root, { recursive: true });
});
