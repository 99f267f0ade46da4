#!/usr/bin/env bash
# Grows the demo tree: the built-in rounded crown with the shipped "leafy" preset (polygonal
# tubes, twigs and leaves), written as glTF and OBJ with its preset thumbnail.
# tools/render_demo.py renders out/tree.glb with Blender (docs/demo_render.png in the README).
set -euo pipefail
build=${1:-build}
preset=samples/presets/leafy.preset
mkdir -p out
# The GLB is subdivided once (round, smooth tubes); the OBJ keeps the quad cage for tools that
# subdivide themselves. Both carry Ramulon's bark and leaf textures (the OBJ's beside it).
"$build/ramulon" build --preset "$preset" --journal out/journal.txt --subdivide 1 --output out/tree.glb \
    --thumbnail out/thumbnail.png
"$build/ramulon" build --preset "$preset" --output out/tree.obj > /dev/null

# Counts from the journal: every point, every polygon, and the leaf polygons among them.
points=$(grep -c '^addPoint ' out/journal.txt || true)
polygons=$(grep -c -E '^add(Face|Poly) ' out/journal.txt || true)
leaves=$(grep -c -E '^addFace [0-9]+ VF_leaf ' out/journal.txt || true)
echo
echo "Demo tree: $points points, $polygons polygons, $leaves leaf polygons"
echo "  out/tree.glb       glTF binary (open in any glTF viewer or Blender)"
echo "  out/tree.obj       Wavefront OBJ with out/tree.mtl, out/tree_bark.png, out/tree_bark_normal.png, out/tree_leaf.png"
echo "  out/thumbnail.png  the preset thumbnail"
echo "  out/journal.txt    every mesh-edit call of the build, one per line"
