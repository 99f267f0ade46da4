#!/usr/bin/env bash
# Runs the page's end-to-end tests against the real `ramulon serve` (RAMULON_CLI) in headless
# Chromium. Exits 77 (skipped) when node, Chromium or the bundled page is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
skip() {
  echo "e2e skipped: $1" >&2
  exit 77
}
command -v node >/dev/null || skip "node is not installed (tools/install-web-deps.sh)"
[ -x "${RAMULON_CHROMIUM:-/usr/bin/chromium}" ] || skip "Chromium is not installed (tools/install-web-deps.sh)"
[ -f "$root/web/node_modules/playwright-core/package.json" ] || skip "the page's npm packages are missing (make web)"
[ -f "$root/web/dist/index.html" ] || skip "the page is not bundled (make web)"
cd "$root"
# One test file at a time: each starts its own server and browser (node 18 has no such option).
concurrency=()
if [ "$(node --help | grep -c -- '--test-concurrency')" -gt 0 ]; then
  concurrency=(--test-concurrency=1)
fi
exec node --test "${concurrency[@]}" tests/e2e/
