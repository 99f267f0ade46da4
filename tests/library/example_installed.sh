#!/usr/bin/env bash
# The library as its users get it: make install into a scratch prefix, then examples/grow_tree.c
# built with the installed CMake package and the README's C program built with the installed
# pkg-config file, both run, and their trees compared with `ramulon build`'s.
#   example_installed.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libramulon.so.1' -path '*/lib*' -not -path '*/python3/*' | head -n 1)")
leafy=$prefix/share/ramulon/samples/presets/leafy.preset
test -f "$prefix/include/ramulon/ramulon.h"
test -f "$leafy"

# The example, through find_package(Ramulon).
cmake -S "$source/examples" -B "$scratch/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/example" >/dev/null
# (A glTF's nodes are named after its file: the trees compared have the same name.)
mkdir "$scratch/from-example" "$scratch/from-cli"
"$scratch/example/grow_tree" "$leafy" "$scratch/from-example/tree.glb" 7 >"$scratch/example.txt" 2>/dev/null
grep -q "TXUV RM_leaf" "$scratch/example.txt"
"$prefix/bin/ramulon" build --preset "$leafy" --set random_seed=7 --lod 4 --impostor \
  --output "$scratch/from-cli/tree.glb" >/dev/null
cmp "$scratch/from-example/tree.glb" "$scratch/from-cli/tree.glb"

# The README's program, through pkg-config.
awk '/^## Ramulon from C/ { section = 1; next } /^## / { section = 0 }
     section && /^```c$/ { code = 1; next } code && /^```$/ { code = 0 } code' "$source/README.md" >"$scratch/oak.c"
test -s "$scratch/oak.c"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror "$scratch/oak.c" -o "$scratch/oak" $(pkg-config --cflags --libs ramulon) \
  -Wl,-rpath,"$(pkg-config --variable=libdir ramulon)"
(cd "$scratch" && ./oak >oak.txt)
grep -q "points, the first at" "$scratch/oak.txt"
"$prefix/bin/ramulon" build --set "Render Type=Polygonal" --set random_seed=7 --output "$scratch/from-cli/oak.glb" >/dev/null
cmp "$scratch/oak.glb" "$scratch/from-cli/oak.glb"
echo "the installed library builds and runs both programs, and grows the command line's trees"
