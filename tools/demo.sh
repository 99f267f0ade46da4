#!/usr/bin/env bash
# Grows the demo tree from the built-in crown and says where it went.
set -euo pipefail
build=${1:-build}
mkdir -p out
"$build/ramulon" build --journal out/journal.txt --output out/tree.obj
echo "Demo tree: out/tree.obj (mesh), out/journal.txt (one line per mesh-edit call)"
