#!/usr/bin/env bash
# Bundles the page into web/dist/, installing the npm packages from the lock file first when
# they are missing.
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "web: node and npm are needed (Debian: nodejs npm)" >&2
  exit 1
fi
if [ ! -d node_modules/three ] || [ ! -d node_modules/esbuild ] || [ ! -d node_modules/playwright-core ]; then
  echo "Installing the page's npm packages"
  npm ci --no-audit --no-fund --loglevel=error
fi
node build.mjs
