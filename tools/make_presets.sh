#!/usr/bin/env bash
# Writes the shipped presets that have a recipe here into samples/presets/ (NAME.preset and its
# thumbnail NAME.png), each grown by `ramulon preset add` from the built-in defaults with the
# edits below, in the crown samples/presets/crowns.txt names for it:
#   tools/make_presets.sh [BUILD_DIR] [NAME...]     (default: build, every recipe)
# leafy, wide and bare were made by hand before these recipes and are left as they are.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=${1:-build}
shift || true
cli="$build/ramulon"
[ -x "$cli" ] || cli="$source_dir/$build/ramulon"
presets="$source_dir/samples/presets"

polygonal=(--set "Render Type=Polygonal")
declare -A recipe
# Limbs that rise from the trunk and arch over (a positive bend lifts a branch where it starts
# on the crown, so it hangs towards its tip), long twigs hanging down, large hanging leaves.
recipe[weeping]='--set "Branches=300" --set "Branch bend=4" --set "Trunk connection bend=1"
  --set "Tree center=90" --set "Branch thickness=0.005" --set "Trunk thickness=0.02"
  --set "Twig/Type=down" --set "Twig/Segments=5" --set "twig_fixed=1" --set "twig_fixed_length=0.5"
  --set "Leaf/Shape=two polys" --set "Leaf/Length=0.18" --set "Leaf/Width=0.045" --set "Leaf/Size=1.5"
  --set "Leaf/Hang=80"'
# Low, crooked limbs spreading wide from a short thick trunk.
recipe[oak]='--set "Branches=450" --set "Tree center=15" --set "Branch bend=1"
  --set "Branch crookedness=25" --set "Trunk crookedness=20" --set "Branch thickness=0.02"
  --set "Trunk thickness=0.045" --set "Twig/Type=random" --set "Leaf/Shape=rhombus"
  --set "Leaf/Density=2" --set "Leaf/Size=1.6" --set "Random seed=7"'
# Branches that climb steeply along a straight trunk, twigs pointing up.
recipe[poplar]='--set "Branches=250" --set "Branch bend=-2" --set "Trunk connection bend=1.5"
  --set "Trunk crookedness=5" --set "Branch thickness=0.012" --set "Trunk thickness=0.03"
  --set "Twig/Type=up" --set "Leaf/Shape=rhombus2" --set "Leaf/Density=2" --set "Leaf/Size=2.2"'
# Many thin, level branches on one straight trunk, pushed out to the cone, short needles.
recipe[spruce]='--set "Branches=500" --set "Branch bend=-0.5" --set "Tree center=90"
  --set "Normals influence=150" --set "Trunk crookedness=0" --set "Branch thickness=0.004"
  --set "Trunk thickness=0.02" --set "Twig/Type=horizontal" --set "Twig/Segments=2"
  --set "Leaf/Shape=three polys" --set "Leaf/Length=0.1" --set "Leaf/Width=0.02"
  --set "Leaf/Density=3" --set "Leaf/Size=1.5"'
# Four stems from the ground, thin and twiggy, small leaves.
recipe[shrub]='--set "Branches=250" --set "Trunks=4" --set "Sort branches=on"
  --set "Branch thickness=0.006" --set "Trunk thickness=0.01" --set "Twig/Type=random"
  --set "Leaf/Shape=two polys" --set "Leaf/Size=0.8"'
# Limbs rising from a short trunk and fanning out into a vase of crooked branches and forked
# twigs, no leaves.
recipe[winter]='--set "Branches=500" --set "Branch bend=-1" --set "Tree center=20"
  --set "Branch crookedness=20" --set "Branch thickness=0.01" --set "Trunk thickness=0.03"
  --set "Twig/Type=branch" --set "Twig/Segments=4" --set "Leaf/Shape=none" --set "Random seed=12"'
# A trunk raised on a few long, thick roots that bend down into the ground.
recipe[mangrove]='--set "Branches=300" --set "Branch thickness=0.015" --set "Trunk thickness=0.045"
  --set "Number of roots=7" --set "roots_length=1.0" --set "Roots Gravity=0.5"
  --set "Roots Crookedness=25" --set "Twig/Type=random" --set "Leaf/Shape=two polys"
  --set "Leaf/Size=1.4"'

names=("$@")
[ ${#names[@]} -gt 0 ] || names=(weeping oak poplar spruce shrub winter mangrove)
for name in "${names[@]}"; do
  [ -n "${recipe[$name]:-}" ] || { echo "make_presets: no recipe for $name" >&2; exit 1; }
  crown=$(awk -v n="$name" '$1 == n { print $2 }' "$presets/crowns.txt")
  [ -n "$crown" ] || { echo "make_presets: crowns.txt names no crown for $name" >&2; exit 1; }
  eval "edits=(${recipe[$name]})"
  "$cli" preset add "$name" --force --shelf "$presets" --background "$source_dir/samples/$crown" \
    "${polygonal[@]}" "${edits[@]}"
done
