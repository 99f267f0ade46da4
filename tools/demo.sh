#!/usr/bin/env bash
# Grows the demo tree from the built-in crown and says where it went.
set -euo pipefail
build=${1:-build}
mkdir -p out
"$build/ramulon" build --journal out/journal.txt
echo "Demo tree journal: out/journal.txt"
