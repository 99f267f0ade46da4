#!/usr/bin/env bash
# Installs the glTF validator next to its script when it is missing (npm ci from the lock file).
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "gltf-validate: node and npm are needed (Debian: nodejs npm)" >&2
  exit 1
fi
if [ ! -f node_modules/gltf-validator/package.json ]; then
  echo "Installing the glTF validator"
  npm ci --no-audit --no-fund --loglevel=error
fi
