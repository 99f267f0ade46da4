#!/usr/bin/env node
// Validates glTF / GLB files with the Khronos glTF validator.
//   node validate.js [--verbose] FILE...
// Prints one line per file (errors, warnings, infos, hints) and the messages of every error;
// exits 1 when any file has an error or cannot be read, 2 on bad usage.
'use strict';

const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

const SEVERITY = ['error', 'warning', 'info', 'hint'];

async function validateFile(file, verbose) {
  const bytes = new Uint8Array(fs.readFileSync(file));
  const report = await validator.validateBytes(bytes, {
    uri: path.basename(file),
    maxIssues: 0,
    writeTimestamp: false,
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        const resource = path.resolve(path.dirname(file), decodeURIComponent(uri));
        fs.readFile(resource, (err, data) => (err ? reject(err.toString()) : resolve(new Uint8Array(data))));
      }),
  });
  const issues = report.issues;
  console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
              `${issues.numInfos} infos, ${issues.numHints} hints`);
  for (const m of issues.messages) {
    if (m.severity === 0 || verbose)
      console.log(`  ${SEVERITY[m.severity] || m.severity} ${m.code} ${m.pointer || ''}: ${m.message}`);
  }
  return issues.numErrors;
}

async function main() {
  const args = process.argv.slice(2);
  const verbose = args.includes('--verbose');
  const files = args.filter((a) => a !== '--verbose');
  if (files.length === 0) {
    console.error('usage: node validate.js [--verbose] FILE.gltf|FILE.glb...');
    return 2;
  }
  let failed = 0;
  for (const file of files) {
    try {
      if ((await validateFile(file, verbose)) > 0)
        failed += 1;
    } catch (e) {
      console.log(`${file}: cannot validate: ${e}`);
      failed += 1;
    }
  }
  return failed > 0 ? 1 : 0;
}

main().then((code) => process.exit(code));
