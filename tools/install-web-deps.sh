#!/usr/bin/env bash
# Installs what the browser page and its end-to-end tests need, only what is missing (node and
# npm, Debian's Chromium), then bundles the page into web/dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
# node and npm may come from elsewhere than Debian (a Debian npm would clash with them), so only
# a machine without the commands gets Debian's.
node_packages=()
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  node_packages=(nodejs npm)
fi
./tools/install-deps.sh "${node_packages[@]}" chromium
./web/build.sh
