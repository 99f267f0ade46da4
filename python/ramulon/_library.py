"""Finding libramulon and declaring its C interface (include/ramulon/ramulon.h) for ctypes."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from pathlib import Path
from typing import Iterator, Optional

c_int, c_uint, c_size_t, c_double = ctypes.c_int, ctypes.c_uint, ctypes.c_size_t, ctypes.c_double
c_uint32, c_int32, c_uint64, c_int64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint64, ctypes.c_int64
c_char_p, c_void_p, POINTER = ctypes.c_char_p, ctypes.c_void_p, ctypes.POINTER

# The names of the status codes, by number (ramulon_status).
STATUS_NAMES = ["ok", "argument", "not_found", "module", "io", "refused", "cancelled", "busy",
                "no_tree", "memory", "handle"]

CONTROL_KINDS = ["integer", "number", "distance", "angle", "percent", "choice", "checkbox",
                 "button", "info"]


class Control(ctypes.Structure):
    _fields_ = [("id", c_uint32), ("name", c_char_p), ("label", c_char_p), ("tab", c_char_p),
                ("kind", c_int), ("has_range", c_int), ("min", c_double), ("max", c_double),
                ("choice_count", c_size_t), ("choices", POINTER(c_char_p)), ("enabled", c_int)]


class Map(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("kind", c_uint32), ("kind_text", ctypes.c_char * 5),
                ("dim", c_int), ("values", c_void_p), ("presence", c_void_p),
                ("point_count", c_size_t), ("stored", c_size_t)]


class PolygonMap(ctypes.Structure):
    _fields_ = [("name", c_char_p), ("kind", c_uint32), ("kind_text", ctypes.c_char * 5),
                ("dim", c_int), ("count", c_size_t), ("polygons", c_void_p), ("points", c_void_p),
                ("values", c_void_p)]


class Tags(ctypes.Structure):
    _fields_ = [("kind", c_uint32), ("kind_text", ctypes.c_char * 5), ("values", c_void_p),
                ("polygon_count", c_size_t)]


PROGRESS = ctypes.CFUNCTYPE(c_int, c_void_p, c_char_p, c_uint, c_uint)


class BuildOptions(ctypes.Structure):
    _fields_ = [("size", c_size_t), ("memory_limit", c_uint64), ("progress", PROGRESS),
                ("user_data", c_void_p), ("journal", c_int)]


class WriteOptions(ctypes.Structure):
    _fields_ = [("size", c_size_t), ("textures", c_char_p), ("subdivide", c_int),
                ("crease_angle", c_double), ("wind_colours", c_int), ("lod", c_int),
                ("lod_files", c_int), ("impostor", c_int), ("compress", c_int)]


_S = c_void_p  # ramulon_session *
_T = c_void_p  # ramulon_tree *

# name: (result type, argument types)
_PROTOTYPES = {
    "ramulon_version": (c_char_p, []),
    "ramulon_version_number": (c_int, []),
    "ramulon_last_error": (c_char_p, [_S]),
    "ramulon_status_name": (c_char_p, [c_int]),
    "ramulon_session_new": (c_int, [c_char_p, c_int, POINTER(_S)]),
    "ramulon_session_free": (None, [_S]),
    "ramulon_load_crown_file": (c_int, [_S, c_char_p]),
    "ramulon_load_crown_arrays": (c_int, [_S, c_void_p, c_size_t, c_void_p, c_void_p, c_size_t]),
    "ramulon_load_crown_default": (c_int, [_S]),
    "ramulon_control_count": (c_int, [_S, POINTER(c_size_t)]),
    "ramulon_control_at": (c_int, [_S, c_size_t, POINTER(Control)]),
    "ramulon_control_by_id": (c_int, [_S, c_uint32, POINTER(Control)]),
    "ramulon_control_find": (c_int, [_S, c_char_p, POINTER(Control)]),
    "ramulon_set": (c_int, [_S, c_char_p, c_char_p]),
    "ramulon_set_by_id": (c_int, [_S, c_uint32, c_char_p]),
    "ramulon_set_number": (c_int, [_S, c_uint32, c_double]),
    "ramulon_get_number": (c_int, [_S, c_uint32, POINTER(c_double)]),
    "ramulon_get_text": (c_int, [_S, c_uint32, POINTER(c_char_p)]),
    "ramulon_press": (c_int, [_S, c_uint32]),
    "ramulon_reset": (c_int, [_S]),
    "ramulon_load_preset": (c_int, [_S, c_char_p, c_int]),
    "ramulon_save_preset": (c_int, [_S, c_char_p]),
    "ramulon_set_shelf": (c_int, [_S, c_char_p]),
    "ramulon_shelf_folder": (c_int, [_S, POINTER(c_char_p)]),
    "ramulon_shelf_list": (c_int, [_S, POINTER(POINTER(c_char_p)), POINTER(c_size_t)]),
    "ramulon_shelf_add": (c_int, [_S, c_char_p, c_int]),
    "ramulon_shelf_remove": (c_int, [_S, c_char_p]),
    "ramulon_thumbnail": (c_int, [_S, POINTER(c_void_p), POINTER(c_size_t)]),
    "ramulon_build_options_init": (None, [POINTER(BuildOptions)]),
    "ramulon_build": (c_int, [_S, POINTER(BuildOptions), POINTER(_T)]),
    "ramulon_cancel": (c_int, [_S]),
    "ramulon_tree_free": (None, [_T]),
    "ramulon_tree_points": (c_int, [_T, POINTER(c_void_p), POINTER(c_size_t)]),
    "ramulon_tree_polygons": (c_int, [_T, POINTER(c_void_p), POINTER(c_void_p), POINTER(c_void_p),
                                      POINTER(c_void_p), POINTER(c_size_t)]),
    "ramulon_tree_name_count": (c_int, [_T, POINTER(c_size_t)]),
    "ramulon_tree_name": (c_int, [_T, c_size_t, POINTER(c_char_p)]),
    "ramulon_tree_map_count": (c_int, [_T, POINTER(c_size_t)]),
    "ramulon_tree_map_at": (c_int, [_T, c_size_t, POINTER(Map)]),
    "ramulon_tree_polygon_map_count": (c_int, [_T, POINTER(c_size_t)]),
    "ramulon_tree_polygon_map_at": (c_int, [_T, c_size_t, POINTER(PolygonMap)]),
    "ramulon_tree_tag_count": (c_int, [_T, POINTER(c_size_t)]),
    "ramulon_tree_tags_at": (c_int, [_T, c_size_t, POINTER(Tags)]),
    "ramulon_tree_journal": (c_int, [_T, POINTER(c_void_p), POINTER(c_size_t)]),
    "ramulon_tree_write_journal": (c_int, [_T, c_char_p]),
    "ramulon_write_options_init": (None, [POINTER(WriteOptions)]),
    "ramulon_tree_write": (c_int, [_T, c_char_p, POINTER(WriteOptions)]),
    "ramulon_batch_variant": (c_int, [c_char_p, c_char_p, c_int64, c_char_p, c_char_p]),
    "ramulon_batch_plan": (c_int, [c_char_p, c_char_p, c_char_p, POINTER(c_char_p)]),
    "ramulon_batch_record": (c_int, [c_char_p, c_char_p, c_int64, c_char_p]),
}

LIBRARY_FILE = "libramulon.so.1"


def _candidates() -> Iterator[Path]:
    """Where the library may be, in the order it is looked for."""
    here = Path(__file__).resolve().parent
    # Installed with the package beside it (make install puts a copy there).
    yield here / LIBRARY_FILE
    yield here / "libramulon.so"
    # Installed under a prefix: <prefix>/lib[/<multiarch>]/python3/dist-packages/ramulon.
    for parent in list(here.parents)[1:5]:
        yield parent / LIBRARY_FILE
    # A checkout: <repo>/python/ramulon, built in <repo>/build.
    yield here.parent.parent / "build" / LIBRARY_FILE


def locate() -> str:
    """The library file to load: RAMULON_LIBRARY, beside the package, the install prefix, a
    checkout's build folder, or the dynamic linker's search path."""
    given = os.environ.get("RAMULON_LIBRARY")
    if given:
        if not Path(given).is_file():
            raise OSError(f"RAMULON_LIBRARY names {given}, which is no file")
        return given
    for candidate in _candidates():
        if candidate.is_file():
            return str(candidate)
    found = ctypes.util.find_library("ramulon")
    if found:
        return found
    raise OSError("cannot find libramulon: set RAMULON_LIBRARY to its path, install Ramulon "
                  "(make install), or build it in the checkout's build folder")


_lib: Optional[ctypes.CDLL] = None
_path: Optional[str] = None


def lib() -> ctypes.CDLL:
    """The loaded library, with every call declared."""
    global _lib, _path
    if _lib is None:
        path = locate()
        loaded = ctypes.CDLL(path)
        for name, (result, arguments) in _PROTOTYPES.items():
            function = getattr(loaded, name)
            function.restype = result
            function.argtypes = arguments
        _lib, _path = loaded, path
    return _lib


def path() -> str:
    lib()
    assert _path is not None
    return _path
