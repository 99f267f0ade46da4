#!/usr/bin/env python3
"""Packs the Blender add-on into one zip that installs on a machine with nothing else:

    package.py --out ZIP --library libramulon.so --package python/ramulon --textures DIR --version V

ramulon_blender/ holds the add-on's Python code, blender_manifest.toml (Blender 4.2+), the
textures, and vendor/ramulon: the Python package with libramulon.so.1 beside it (the plug-in
modules are built into the library) and the shared libraries it needs that a plain Linux lacks.
The zip's entries carry a fixed date, so the same inputs give the same bytes.
"""
import argparse
import os
import re
import subprocess
import zipfile

ADDON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ramulon_blender")
# What every Linux that runs Blender has: the C and C++ runtimes. Anything else the library
# links against travels in the zip.
SYSTEM = re.compile(r"^(linux-vdso|ld-linux|libc|libm|libdl|libpthread|librt|libstdc\+\+|libgcc_s)\.so")
DATE = (2024, 1, 1, 0, 0, 0)


def shared_dependencies(library):
    """(soname, path) of each library the dynamic linker loads for this one, but the system's."""
    out = subprocess.run(["ldd", library], check=True, capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        match = re.match(r"\s*(\S+) => (\S+)", line)
        if match and not SYSTEM.match(match.group(1)):
            found.append((match.group(1), match.group(2)))
    return found


def stripped(library):
    """The library without its debugging sections, which a user never needs (a tenth the size)."""
    copy = library + ".stripped"
    subprocess.run(["objcopy", "--strip-debug", library, copy], check=True)
    try:
        with open(copy, "rb") as f:
            return f.read()
    finally:
        os.remove(copy)


def add(archive, name, data, executable=False):
    info = zipfile.ZipInfo(name, DATE)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = (0o755 if executable else 0o644) << 16
    archive.writestr(info, data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--package", required=True)
    parser.add_argument("--textures", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()

    temporary = args.out + ".tmp"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name in sorted(os.listdir(ADDON)):
            path = os.path.join(ADDON, name)
            if not os.path.isfile(path) or not (name.endswith(".py") or name.endswith(".toml")):
                continue
            with open(path, "rb") as f:
                data = f.read()
            if name == "blender_manifest.toml":
                data = data.replace(b"@VERSION@", args.version.encode())
            add(archive, f"ramulon_blender/{name}", data)
        for name in sorted(os.listdir(args.package)):
            if name.endswith(".py"):
                with open(os.path.join(args.package, name), "rb") as f:
                    add(archive, f"ramulon_blender/vendor/ramulon/{name}", f.read())
        add(archive, "ramulon_blender/vendor/ramulon/libramulon.so.1", stripped(args.library), executable=True)
        for soname, path in shared_dependencies(args.library):
            with open(path, "rb") as f:
                add(archive, f"ramulon_blender/vendor/lib/{soname}", f.read(), executable=True)
        for name in ("bark.png", "leaves.png", "leaf.png"):
            with open(os.path.join(args.textures, name), "rb") as f:
                add(archive, f"ramulon_blender/textures/{name}", f.read())
    os.replace(temporary, args.out)


if __name__ == "__main__":
    main()
