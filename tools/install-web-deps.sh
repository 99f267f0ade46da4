#!/usr/bin/env bash
# Installs what the browser page and its end-to-end tests need, only what is missing (node and
# npm, Debian's Chromium), then bundles the page into web/dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi
[ -x /usr/bin/chromium ] || missing+=(chromium)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
./web/build.sh
