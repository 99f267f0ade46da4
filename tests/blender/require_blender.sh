# Sourced by the Blender tests: exits 77 (skipped) where Blender or its numpy is missing.
if ! command -v blender >/dev/null 2>&1; then
  echo "blender is not installed: skipped"
  exit 77
fi
if ! blender -b --factory-startup --python-exit-code 1 --python-expr "import numpy" >/dev/null 2>&1; then
  echo "Blender's Python has no numpy (Debian: python3-numpy): skipped"
  exit 77
fi
