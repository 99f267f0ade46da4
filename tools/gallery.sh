#!/usr/bin/env bash
# The README's gallery (docs/gallery.png): every shipped preset grown by the command line in its
# crown (samples/presets/crowns.txt), written as a GLB with the default export options, and
# rendered by Blender from that GLB as its glTF importer brings it in (tools/render_gallery.py).
#   tools/gallery.sh [BUILD_DIR] [OUT.png] [-- more options of ramulon build]
# (defaults: build, docs/gallery.png). Needs Blender with numpy (Debian: blender, python3-numpy).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=build
out=$source_dir/docs/gallery.png
[ $# -gt 0 ] && [ "$1" != -- ] && { build=$1; shift; }
[ $# -gt 0 ] && [ "$1" != -- ] && { out=$(realpath -m "$1"); shift; }
[ $# -gt 0 ] && [ "$1" = -- ] && shift
cli=$build/ramulon
[ -x "$cli" ] || cli=$source_dir/$build/ramulon
work=$(mktemp -d "${TMPDIR:-/tmp}/ramulon-gallery-XXXXXX")
trap 'rm -rf "$work"' EXIT

trees=()
while read -r name crown; do
  case "$name" in ''|'#'*) continue ;; esac
  "$cli" build --preset "$source_dir/samples/presets/$name.preset" --background "$source_dir/samples/$crown" \
    --output "$work/$name.glb" "$@" > /dev/null
  trees+=("$name=$work/$name.glb")
done < "$source_dir/samples/presets/crowns.txt"

blender -b --factory-startup --python "$here/render_gallery.py" -- "$out" "${trees[@]}" \
  > "$work/blender.log" 2>&1 || { tail -20 "$work/blender.log"; exit 1; }
echo "$out"
