#!/usr/bin/env bash
# npm 11.5 or later, which publishes through trusted publishing (OIDC); the
# npm of Node.js 20 is older.
set -euo pipefail
npm_version=11.6.2
npm install -g "npm@$npm_version" --no-audit --no-fund
npm --version
