#!/usr/bin/env bash
# Installs what the browser page and its end-to-end tests need, only what is missing (node and
# npm, Debian's Chromium), then bundles the page into web/dist/.
#   tools/install-web-deps.sh [--page-only]     --page-only: no Chromium, just the page
set -euo pipefail
browser=(chromium)
[ "${1:-}" = "--page-only" ] && browser=()
cd "$(dirname "$0")/.."
# node and npm may come from elsewhere than Debian (a Debian npm would clash with them), so only
# a machine without the commands gets Debian's.
node_packages=()
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  node_packages=(nodejs npm)
fi
./tools/install-deps.sh "${node_packages[@]}" "${browser[@]}"
./web/build.sh
