#!/usr/bin/env bash
# The README's picture of Ramulon in Blender's window (docs/blender_panel.png), taken under Xvfb
# with the add-on installed from its zip into a temporary user folder:
#   tools/blender_screenshot.sh [ZIP] [OUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
zip=${1:-$(ls "$source_dir"/out/ramulon_blender-*.zip | tail -1)}
out=$(realpath -m "${2:-$source_dir/docs/blender_panel.png}")
user=$(mktemp -d "${TMPDIR:-/tmp}/ramulon-shot-XXXXXX")
trap 'rm -rf "$user"' EXIT
HOME=$user BLENDER_USER_SCRIPTS=$user/scripts xvfb-run -a -s "-screen 0 1600x1000x24" \
  blender --factory-startup --enable-event-simulate --python "$here/blender_screenshot.py" -- \
  "$(realpath "$zip")" "$source_dir" "$out" > "$user/blender.log" 2>&1 || { cat "$user/blender.log"; exit 1; }
echo "$out"
