#!/usr/bin/env bash
# Grows the demo tree: the built-in rounded crown with the shipped "leafy" preset (polygonal
# tubes, twigs and leaves), written as glTF and OBJ with its preset thumbnail.
set -euo pipefail
build=${1:-build}
preset=samples/presets/leafy.preset
mkdir -p out
"$build/ramulon" build --preset "$preset" --journal out/journal.txt --output out/tree.glb \
    --thumbnail out/thumbnail.png
"$build/ramulon" build --preset "$preset" --output out/tree.obj > /dev/null

# Counts from the journal: every point, every polygon, and the leaf polygons among them.
points=$(grep -c '^addPoint ' out/journal.txt || true)
polygons=$(grep -c -E '^add(Face|Poly) ' out/journal.txt || true)
leaves=$(grep -c -E '^addFace [0-9]+ VF_leaf ' out/journal.txt || true)
echo
echo "Demo tree: $points points, $polygons polygons, $leaves leaf polygons"
echo "  out/tree.glb       glTF binary (open in any glTF viewer or Blender)"
echo "  out/tree.obj       Wavefront OBJ with out/tree.mtl"
echo "  out/thumbnail.png  the preset thumbnail"
echo "  out/journal.txt    every mesh-edit call of the build, one per line"
