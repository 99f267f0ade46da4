#!/usr/bin/env bash
# The leafy demo's regrowth in Blender, headless (bench/blender_regrow.py says what it prints):
#   bench/blender_regrow.sh [ZIP] [RUNS]     ZIP defaults to the one make blender writes
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zip=${1:-$(ls "$here"/../out/ramulon_blender-*.zip | tail -1)}
scripts=$(mktemp -d "${TMPDIR:-/tmp}/ramulon-bench-XXXXXX")
trap 'rm -rf "$scripts"' EXIT
BLENDER_USER_SCRIPTS=$scripts HOME=$scripts blender -b --factory-startup --python-exit-code 1 \
  --python "$here/blender_regrow.py" -- "$zip" "${2:-7}" 2>&1 | grep -E '^(leafy|run|median|load)'
