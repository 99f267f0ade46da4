"""A built tree: numpy views of the arrays the library holds, and writing it out."""

from __future__ import annotations

import ctypes
import os
from typing import Dict, List, Optional, Union

import numpy as np

from . import _library
from .errors import Error, check

PathLike = Union[str, "os.PathLike[str]"]


def code_text(code: int) -> str:
    """The four characters of a type code ('FACE', 'TXUV'), first from the highest byte."""
    return bytes([(code >> 24) & 255, (code >> 16) & 255, (code >> 8) & 255, code & 255]).decode("latin-1")


class _Handle:
    """Owns one tree of the library; every view of its arrays keeps it alive."""

    def __init__(self, handle: int):
        self.handle = handle

    def __del__(self) -> None:
        if self.handle and _library._lib is not None:
            _library._lib.ramulon_tree_free(self.handle)
            self.handle = 0


def _view(address: Optional[int], count: int, ctype, dtype, shape, owner: _Handle) -> np.ndarray:
    """A read-only array over `count` values at `address`, keeping `owner` alive."""
    if not count or not address:
        empty = np.zeros(shape, dtype=dtype)
        empty.flags.writeable = False
        return empty
    buffer = (ctype * count).from_address(address)
    buffer._owner = owner  # the array's base is this buffer, which holds the tree
    array = np.frombuffer(buffer, dtype=dtype).reshape(shape)
    array.flags.writeable = False
    return array


class Map:
    """A per-point map: ``values`` (N, dim) float32, 0 where a point has no value; ``presence``
    (N,) uint8, 0 for no value, else 1 + the dimension stored."""

    def __init__(self, info: _library.Map, owner: _Handle):
        self.name: str = info.name.decode()
        self.kind: str = info.kind_text.decode("latin-1")
        self.dim: int = info.dim
        self.stored: int = info.stored
        n, d = info.point_count, max(info.dim, 0)
        self.values: np.ndarray = _view(info.values, n * d, ctypes.c_float, np.float32, (n, d), owner)
        self.presence: np.ndarray = _view(info.presence, n, ctypes.c_uint8, np.uint8, (n,), owner)

    @property
    def mask(self) -> np.ndarray:
        """(N,) bool: which points hold a value (a new array)."""
        return self.presence != 0

    def __repr__(self) -> str:
        return f"<ramulon.Map {self.kind} {self.name!r} dim={self.dim} stored={self.stored}>"


class PolygonMap:
    """Polygon-specific values: entry k is the value ``values[k]`` of point ``points[k]`` within
    polygon ``polygons[k]``."""

    def __init__(self, info: _library.PolygonMap, owner: _Handle):
        self.name: str = info.name.decode()
        self.kind: str = info.kind_text.decode("latin-1")
        self.dim: int = info.dim
        k, d = info.count, max(info.dim, 0)
        self.polygons: np.ndarray = _view(info.polygons, k, ctypes.c_int32, np.int32, (k,), owner)
        self.points: np.ndarray = _view(info.points, k, ctypes.c_int32, np.int32, (k,), owner)
        self.values: np.ndarray = _view(info.values, k * d, ctypes.c_float, np.float32, (k, d), owner)

    def __repr__(self) -> str:
        return f"<ramulon.PolygonMap {self.kind} {self.name!r} dim={self.dim} entries={len(self.points)}>"


class Polygons:
    """The polygons: polygon i has the points ``corners[offsets[i]:offsets[i + 1]]``."""

    def __init__(self, tree: "Tree", owner: _Handle):
        lib = _library.lib()
        offsets, corners, types, surfaces = (ctypes.c_void_p() for _ in range(4))
        count = ctypes.c_size_t()
        check(lib.ramulon_tree_polygons(owner.handle, ctypes.byref(offsets), ctypes.byref(corners),
                                        ctypes.byref(types), ctypes.byref(surfaces), ctypes.byref(count)))
        p = count.value
        self.offsets: np.ndarray = _view(offsets.value, p + 1, ctypes.c_uint64, np.uint64, (p + 1,), owner)
        c = int(self.offsets[-1]) if p else 0
        self.corners: np.ndarray = _view(corners.value, c, ctypes.c_int32, np.int32, (c,), owner)
        self.types: np.ndarray = _view(types.value, p, ctypes.c_uint32, np.uint32, (p,), owner)
        self.surfaces: np.ndarray = _view(surfaces.value, p, ctypes.c_int32, np.int32, (p,), owner)
        self._names = tree.names

    def __len__(self) -> int:
        return len(self.types)

    def __getitem__(self, i: int) -> np.ndarray:
        if i < 0:
            i += len(self)
        if not 0 <= i < len(self):
            raise IndexError(i)
        return self.corners[int(self.offsets[i]):int(self.offsets[i + 1])]

    def type_name(self, i: int) -> str:
        return code_text(int(self.types[i]))

    def surface_name(self, i: int) -> Optional[str]:
        s = int(self.surfaces[i])
        return self._names[s] if s >= 0 else None


class Tree:
    """A tree the library built. Its arrays are read where the library holds them (numpy views,
    read-only) and stay valid for as long as the Tree or any of its arrays lives."""

    def __init__(self, handle: int, session=None):
        self._owner = _Handle(handle)
        self._session = session
        lib = _library.lib()
        h = handle
        xyz, count = ctypes.c_void_p(), ctypes.c_size_t()
        check(lib.ramulon_tree_points(h, ctypes.byref(xyz), ctypes.byref(count)))
        n = count.value
        #: (N, 3) float64: x, y, z of every point (metres, y up).
        self.points: np.ndarray = _view(xyz.value, 3 * n, ctypes.c_double, np.float64, (n, 3), self._owner)

        check(lib.ramulon_tree_name_count(h, ctypes.byref(count)))
        text = ctypes.c_char_p()
        #: The tree's names: what ``polygons.surfaces`` and ``tags`` index.
        self.names: List[str] = []
        for i in range(count.value):
            check(lib.ramulon_tree_name(h, i, ctypes.byref(text)))
            self.names.append((text.value or b"").decode())

        self.polygons = Polygons(self, self._owner)

        check(lib.ramulon_tree_map_count(h, ctypes.byref(count)))
        self.maps: List[Map] = []
        for i in range(count.value):
            info = _library.Map()
            check(lib.ramulon_tree_map_at(h, i, ctypes.byref(info)))
            self.maps.append(Map(info, self._owner))

        check(lib.ramulon_tree_polygon_map_count(h, ctypes.byref(count)))
        self.polygon_maps: List[PolygonMap] = []
        for i in range(count.value):
            pinfo = _library.PolygonMap()
            check(lib.ramulon_tree_polygon_map_at(h, i, ctypes.byref(pinfo)))
            self.polygon_maps.append(PolygonMap(pinfo, self._owner))

        check(lib.ramulon_tree_tag_count(h, ctypes.byref(count)))
        #: Tag type ('COLR', ...) -> (P,) int32 index into names, -1 where a polygon has none.
        self.tags: Dict[str, np.ndarray] = {}
        for i in range(count.value):
            tinfo = _library.Tags()
            check(lib.ramulon_tree_tags_at(h, i, ctypes.byref(tinfo)))
            p = tinfo.polygon_count
            self.tags[tinfo.kind_text.decode("latin-1")] = _view(tinfo.values, p, ctypes.c_int32, np.int32,
                                                                (p,), self._owner)

    @property
    def point_count(self) -> int:
        return len(self.points)

    @property
    def polygon_count(self) -> int:
        return len(self.polygons)

    @property
    def surface_names(self) -> List[str]:
        """The surfaces the polygons use, in the order they first appear."""
        surfaces = self.polygons.surfaces
        first = sorted(int(i) for i in np.unique(surfaces, return_index=True)[1])
        return [self.names[int(surfaces[i])] for i in first if surfaces[i] >= 0]

    def map(self, name: str, kind: Optional[str] = None) -> Map:
        """The per-point map of this name (and kind, e.g. 'TXUV'); KeyError when there is none,
        or when two kinds share the name and none is given."""
        found = [m for m in self.maps if m.name == name and (kind is None or m.kind == kind)]
        if not found:
            raise KeyError(f"the tree has no map {name!r}" + (f" of kind {kind}" if kind else ""))
        if len(found) > 1:
            raise KeyError(f"maps of several kinds are named {name!r}: give kind= one of "
                           + ", ".join(m.kind for m in found))
        return found[0]

    def journal(self) -> str:
        """The build's journal, one mesh-edit call a line (``build(journal=True)``)."""
        text, size = ctypes.c_void_p(), ctypes.c_size_t()
        check(_library.lib().ramulon_tree_journal(self._owner.handle, ctypes.byref(text), ctypes.byref(size)))
        return ctypes.string_at(text.value, size.value).decode() if size.value else ""

    def write_journal(self, path: PathLike) -> None:
        check(_library.lib().ramulon_tree_write_journal(self._owner.handle, os.fsencode(path)))

    def write(self, path: PathLike, textures: PathLike = "builtin", subdivide: Optional[int] = None,
              crease_angle: float = 60.0, wind_colours: bool = False, lod: int = 1, lod_files: bool = False,
              impostor: bool = False, compress: Union[bool, str] = False) -> None:
        """Writes the tree as the extension says (.glb, .gltf, .obj), the bytes ``ramulon build
        --output`` writes with the same options: ``textures`` "builtin", "none" or a folder with
        bark.png, leaves.png and leaf.png; ``subdivide`` 0 to 4 (None: 2 for a SubD tree in glTF,
        else 0); ``wind_colours`` the wind weights also as COLOR_0 (a tint in glTF viewers); ``lod``
        1 to 8 levels; ``lod_files``, ``impostor`` and ``compress`` for glTF (``compress`` True or
        "meshopt", or "quantize" for readers without a meshopt decoder such as Blender 3.x)."""
        lib = _library.lib()
        options = _library.WriteOptions()
        lib.ramulon_write_options_init(ctypes.byref(options))
        options.textures = os.fsencode(textures)
        options.subdivide = -1 if subdivide is None else int(subdivide)
        options.crease_angle = float(crease_angle)
        options.wind_colours = int(bool(wind_colours))
        options.lod = int(lod)
        options.lod_files = int(bool(lod_files))
        options.impostor = int(bool(impostor))
        if compress in ("meshopt", "quantize"):
            options.compress = 1 if compress == "meshopt" else 2
        elif isinstance(compress, str):
            raise Error(f'compress must be True, False, "meshopt" or "quantize", not "{compress}"', 1)
        else:
            options.compress = int(bool(compress))
        check(lib.ramulon_tree_write(self._owner.handle, os.fsencode(path), ctypes.byref(options)))

    def thumbnail(self) -> bytes:
        """The 128 x 128 PNG thumbnail, while this tree is its session's last build."""
        if self._session is None or self._session.tree is not self:
            raise Error("the thumbnail pictures the session's last build, and this tree is no longer it", 8)
        return self._session.thumbnail()

    def __repr__(self) -> str:
        return f"<ramulon.Tree {self.point_count} points, {self.polygon_count} polygons>"
