'use strict';
// Run by npm before `npm pack` and `npm publish`: the package is useless
// without the DLL it loads, so a folder without it (or without LICENSE) is
// refused with what to run instead.
const fs = require('fs');
const path = require('path');

const missing = ['quillmar-dxgi-gpu-info.dll', 'LICENSE'].filter(
  (name) => !fs.existsSync(path.join(__dirname, name)));
if (missing.length > 0) {
  console.error(`quillmar-dxgi-gpu-info: ${missing.join(' and ')} missing from ${__dirname}.\n` +
    'Pack the release with scripts/release.sh (dist/quillmar-dxgi-gpu-info-<version>.tgz),\n' +
    'or copy the built DLL and the repository\'s LICENSE here first.');
  process.exit(1);
}
