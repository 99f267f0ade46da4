#!/usr/bin/env bash
# The Blender add-on as an artist installs it: from the built zip into a temporary user folder
# (BLENDER_USER_SCRIPTS and HOME, so the user's own add-ons and shelf are never touched), then
#   addon_check.py  in background mode: trees against the library's, edits, save and reopen,
#                   the preset shelf, the error paths;
#   addon_live.py   in a window under Xvfb: regrowth on its own after an edit, undo and redo, Esc.
# A Python traceback anywhere in Blender's output fails the test. Exits 77 (skipped) where
# Blender or its numpy is missing; the window part is skipped without xvfb-run.
set -euo pipefail
zip=${RAMULON_BLENDER_ZIP:?RAMULON_BLENDER_ZIP names the add-on zip}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
source "$here/require_blender.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/ramulon-addon-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" BLENDER_USER_SCRIPTS="$work/scripts"
mkdir -p "$HOME" "$BLENDER_USER_SCRIPTS"
status=0

run() { # name, then the command
  local name=$1
  shift
  local failed=0
  "$@" > "$work/$name.log" 2>&1 || failed=1
  grep -E 'PROBLEM|problem\(s\)|all checks passed|Traceback|Error' "$work/$name.log" || true
  if [ $failed = 1 ]; then
    echo "$name failed; the end of its log:"
    tail -n 40 "$work/$name.log"
    status=1
  fi
  if grep -q Traceback "$work/$name.log"; then
    echo "$name: a Python traceback (full log follows)"
    cat "$work/$name.log"
    status=1
  fi
}

run background blender -b --factory-startup --python-exit-code 1 --python "$here/addon_check.py" -- \
  "$zip" "$source_dir" "$work"
if command -v xvfb-run >/dev/null 2>&1; then
  rm -rf "$HOME/.ramulon"
  run window timeout 900 xvfb-run -a -s "-screen 0 1280x800x24" blender --factory-startup \
    --enable-event-simulate --python "$here/addon_live.py" -- "$zip" "$source_dir" "$work"
else
  echo "xvfb-run is not installed: the window checks are skipped"
fi
exit $status
