#!/usr/bin/env bash
# The exports as an artist meets them: the leafy demo tree and a SubD tree, written as GLB, glTF
# and OBJ by the real command line, imported into Blender in background mode
# (tests/blender/check_import.py says what is checked). Exits 77 (skipped) where Blender or its
# numpy is missing.
set -euo pipefail
cli=${RAMULON_CLI:?RAMULON_CLI names the ramulon executable}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
source "$here/require_blender.sh"
out=$(mktemp -d "${TMPDIR:-/tmp}/ramulon-blender-XXXXXX")
trap 'rm -rf "$out"' EXIT
preset="$source_dir/samples/presets/leafy.preset"
for ext in glb gltf obj; do
  # The demo's own settings: glTF tubes subdivided once, the OBJ as its quad cage.
  levels=1
  [ "$ext" = obj ] && levels=0
  "$cli" build --preset "$preset" --subdivide "$levels" --output "$out/leafy.$ext" >/dev/null
  "$cli" build --set render_type=2 --output "$out/subd.$ext" >/dev/null
done
"$cli" build --set render_type=2 --subdivide 0 --output "$out/cage.glb" >/dev/null
# Game-ready: four levels and the far card in one file; three levels and the card in files of
# their own beside a .gltf.
"$cli" build --preset "$preset" --lod 4 --impostor --output "$out/levels.glb" >/dev/null
"$cli" build --preset "$preset" --lod 3 --impostor --lod-files --output "$out/parts.gltf" >/dev/null
# The user's own textures, from a folder: Ramulon's own, copied there.
mkdir "$out/mine"
cp "$out/leafy_bark.png" "$out/mine/bark.png"
cp "$out/leafy_bark_normal.png" "$out/mine/bark_normal.png"
cp "$out/leafy_leaves.png" "$out/mine/leaves.png"
cp "$out/leafy_leaf.png" "$out/mine/leaf.png"
"$cli" build --preset "$preset" --textures "$out/mine" --output "$out/mine.gltf" >/dev/null
# The wind weights as vertex colours, asked for; the compression Blender 3.x reads.
"$cli" build --preset "$preset" --wind-colours --output "$out/tinted.glb" >/dev/null
"$cli" build --preset "$preset" --compress quantize --output "$out/quantized.glb" >/dev/null

blender -b --factory-startup --python "$here/check_import.py" -- \
  "$out/leafy.glb" "$out/leafy.gltf" "$out/leafy.obj" "$out/mine.gltf" \
  "$out/subd.glb:smooth=$out/cage.glb" "$out/subd.gltf:smooth=$out/cage.glb" "$out/subd.obj:cage" \
  "$out/tinted.glb:tinted" "$out/quantized.glb:imports" \
  "$out/levels.glb:levels" "$out/parts_LOD1.gltf:ground=$out/parts.gltf" \
  "$out/parts_LOD2.gltf:ground=$out/parts.gltf" "$out/parts_LOD_FAR.gltf:card" \
  > "$out/blender.log" 2>&1 || status=$?
grep -v -E '^(Read |Loaded image|Data are loaded|glTF import finished|OBJ import of|$)' "$out/blender.log" || true
exit "${status:-0}"
