"""A session: one tree tool with its crown, panel, presets and shelf, that builds trees."""

from __future__ import annotations

import ctypes
import os
import re
from pathlib import Path
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _library
from .errors import Error, check
from .tree import PathLike, Tree

Progress = Callable[[str, int, int], Optional[bool]]
Key = Union[str, int]


def value_text(value: Any) -> str:
    """A Python value as the panel's text: True/False as on/off, floats digit for digit."""
    if isinstance(value, (bool, np.bool_)):
        return "on" if value else "off"
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if isinstance(value, (float, np.floating)):
        return repr(float(value))
    if isinstance(value, str):
        return value
    raise Error(f"a parameter takes a number, a string or True/False, not {type(value).__name__}", 1)


def memory_bytes(limit: Union[int, str, None]) -> int:
    """A memory budget in bytes: an int, or a size such as "8G", "512M" (0: the default)."""
    if limit is None:
        return 0
    if isinstance(limit, (int, np.integer)) and not isinstance(limit, bool):
        if limit < 0:
            raise Error(f"a memory limit cannot be negative ({limit})", 1)
        return int(limit)
    match = re.fullmatch(r"\s*([0-9]*\.?[0-9]+)\s*([KMGT]?)(i?B)?\s*", str(limit), re.IGNORECASE)
    if not match:
        raise Error(f"expected a memory size such as 8G or 512M, not {limit!r}", 1)
    scale = 1024 ** "_KMGT".index(match.group(2).upper() or "_")
    return int(float(match.group(1)) * scale)


class Control:
    """One control of the tool's panel. ``value`` reads and sets it in the panel's units (degrees
    for angles, percent for percentages, metres for distances; a choice's index, a check box as
    a bool) through the tool's own setter, with the clamps and refusals of ``--set``."""

    def __init__(self, session: "Session", info: _library.Control):
        self._session = session
        self.id: int = info.id
        self.name: Optional[str] = info.name.decode() if info.name else None
        self.label: str = info.label.decode()
        self.tab: str = info.tab.decode()
        self.kind: str = _library.CONTROL_KINDS[info.kind]
        self.range: Optional[Tuple[float, float]] = (info.min, info.max) if info.has_range else None
        self.choices: List[str] = [info.choices[i].decode() for i in range(info.choice_count)]

    @property
    def enabled(self) -> bool:
        """False while the panel greys the control out."""
        info = _library.Control()
        check(_library.lib().ramulon_control_by_id(self._session._handle, self.id, ctypes.byref(info)))
        return bool(info.enabled)

    @property
    def value(self) -> Any:
        if self.kind == "button":
            return None
        if self.kind == "info":
            return self.text
        number = ctypes.c_double()
        check(_library.lib().ramulon_get_number(self._session._handle, self.id, ctypes.byref(number)))
        if self.kind == "checkbox":
            return bool(number.value)
        if self.kind in ("integer", "choice"):
            return int(number.value)
        return number.value

    @value.setter
    def value(self, value: Any) -> None:
        check(_library.lib().ramulon_set_by_id(self._session._handle, self.id, value_text(value).encode()))

    @property
    def text(self) -> str:
        """The value as the panel shows it ("40 %", "Polygonal")."""
        text = ctypes.c_char_p()
        check(_library.lib().ramulon_get_text(self._session._handle, self.id, ctypes.byref(text)))
        return (text.value or b"").decode()

    def press(self) -> None:
        """Presses a button."""
        check(_library.lib().ramulon_press(self._session._handle, self.id))

    def __repr__(self) -> str:
        where = f"{self.tab}/" if self.tab else ""
        return f"<ramulon.Control {self.id} {where}{self.label!r} ({self.kind})>"


class Controls:
    """The panel: iterate for every control in panel order; index by label ("Branches"),
    "Tab/Label", field name ("num_branches") or id (32770). Setting an item applies a value
    exactly as ``ramulon build --set NAME=VALUE`` does."""

    def __init__(self, session: "Session"):
        self._session = session
        lib = _library.lib()
        count = ctypes.c_size_t()
        check(lib.ramulon_control_count(session._handle, ctypes.byref(count)))
        self._all: List[Control] = []
        for i in range(count.value):
            info = _library.Control()
            check(lib.ramulon_control_at(session._handle, i, ctypes.byref(info)))
            self._all.append(Control(session, info))
        self._by_id = {c.id: c for c in self._all}

    def __iter__(self) -> Iterator[Control]:
        return iter(self._all)

    def __len__(self) -> int:
        return len(self._all)

    def __getitem__(self, key: Key) -> Control:
        if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
            if int(key) not in self._by_id:
                raise Error(f"the panel has no control with the id {key}", 2)
            return self._by_id[int(key)]
        info = _library.Control()
        status = _library.lib().ramulon_control_find(self._session._handle, str(key).encode(), ctypes.byref(info))
        if status != 0:
            # What --set cannot address (buttons, the version text) is found by its label.
            text = str(key).strip().lower()
            for c in self._all:
                if text in (c.label.lower(), f"{c.tab}/{c.label}".lower()) and c.label:
                    return c
        check(status)
        return self._by_id[info.id]

    def __setitem__(self, key: Key, value: Any) -> None:
        self.set(key, value)

    def __contains__(self, key: object) -> bool:
        try:
            self[key]  # type: ignore[index]
            return True
        except Error:
            return False

    def get(self, key: Key) -> Any:
        return self[key].value

    def set(self, key: Key, value: Any) -> None:
        """Sets by label, "Tab/Label", field name (also one without a control, such as
        "diverge") or id; raises Error as ``--set`` refuses."""
        lib = _library.lib()
        if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
            check(lib.ramulon_set_by_id(self._session._handle, int(key), value_text(value).encode()))
        else:
            check(lib.ramulon_set(self._session._handle, str(key).encode(), value_text(value).encode()))

    def reset(self) -> None:
        """Every parameter back to the tool's defaults."""
        check(_library.lib().ramulon_reset(self._session._handle))

    def values(self) -> Dict[str, Any]:
        """{field name (or label): value} of every control that holds a value."""
        return {(c.name or c.label): c.value for c in self._all if c.kind not in ("button", "info")}


class Shelf:
    """The preset shelf of a session: a folder of NAME.preset files with NAME.png thumbnails."""

    def __init__(self, session: "Session"):
        self._session = session

    @property
    def folder(self) -> str:
        text = ctypes.c_char_p()
        check(_library.lib().ramulon_shelf_folder(self._session._handle, ctypes.byref(text)))
        return (text.value or b"").decode()

    def list(self) -> List[str]:
        names = ctypes.POINTER(ctypes.c_char_p)()
        count = ctypes.c_size_t()
        check(_library.lib().ramulon_shelf_list(self._session._handle, ctypes.byref(names), ctypes.byref(count)))
        return [names[i].decode() for i in range(count.value)]

    def add(self, name: str, force: bool = False) -> None:
        """Adds the current parameters with the last build's thumbnail; an existing name is
        replaced only with force."""
        check(_library.lib().ramulon_shelf_add(self._session._handle, name.encode(), int(bool(force))))

    def remove(self, name: str) -> None:
        check(_library.lib().ramulon_shelf_remove(self._session._handle, name.encode()))

    def thumbnail(self, name: str) -> bytes:
        """The PNG thumbnail of a preset on the shelf."""
        path = Path(self.folder) / f"{name}.png"
        if not path.is_file():
            raise Error(f'no preset "{name}" on the shelf {self.folder}', 2)
        return path.read_bytes()

    def __iter__(self) -> Iterator[str]:
        return iter(self.list())


class Session:
    """One tree tool: ``Session(module=None, generation=11, shelf=None)``. ``module`` None loads
    the module of that host generation (9, 10 or 11) built into the library, or give a module
    file. Each session loads its own copy, so sessions in different threads build at the same
    time and each gives exactly what it gives alone; one session serves one thread at a time
    (a call while it builds raises Error "busy"), and ``cancel()`` may come from any thread."""

    def __init__(self, module: Optional[PathLike] = None, generation: int = 11, shelf: Optional[PathLike] = None):
        self._handle: Optional[int] = None
        lib = _library.lib()
        handle = ctypes.c_void_p()
        check(lib.ramulon_session_new(os.fsencode(module) if module is not None else None, int(generation),
                                      ctypes.byref(handle)))
        self._handle = handle.value
        self.generation = int(generation)
        self.tree: Optional[Tree] = None
        if shelf is not None:
            check(lib.ramulon_set_shelf(self._handle, os.fsencode(shelf)))
        self.controls = Controls(self)
        self.shelf = Shelf(self)

    @property
    def version(self) -> str:
        return _library.lib().ramulon_version().decode()

    def close(self) -> None:
        """Frees the session (a build in another thread is cancelled). Trees stay readable."""
        if self._handle and _library._lib is not None:
            _library._lib.ramulon_session_free(self._handle)
        self._handle = None

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    # ------------------------------------------------------------------------------- crown

    def load_crown(self, points: Union[PathLike, Sequence, np.ndarray, None] = None,
                   polygons: Union[Sequence[Sequence[int]], Tuple[Sequence[int], Sequence[int]], None] = None) -> None:
        """The crown envelope: an OBJ file's path; or ``points`` (N, 3) and ``polygons``, a list of
        point-index lists or a pair (offsets of length P + 1 from 0, corners); None: the built-in
        crown."""
        lib = _library.lib()
        if points is None:
            check(lib.ramulon_load_crown_default(self._handle))
            return
        if isinstance(points, (str, os.PathLike)):
            check(lib.ramulon_load_crown_file(self._handle, os.fsencode(points)))
            return
        xyz = np.ascontiguousarray(points, dtype=np.float64)
        if xyz.ndim != 2 or xyz.shape[1] != 3:
            raise Error(f"crown points must be an (N, 3) array, not of shape {xyz.shape}", 1)
        if polygons is None:
            raise Error("crown points need their polygons", 1)
        if isinstance(polygons, tuple) and len(polygons) == 2 and not np.isscalar(polygons[0]) \
                and len(polygons[0]) > 0 and np.isscalar(polygons[0][0]):
            offsets = np.ascontiguousarray(polygons[0], dtype=np.uint64)
            corners = np.ascontiguousarray(polygons[1], dtype=np.int32)
        else:
            lists = [np.asarray(p, dtype=np.int64).ravel() for p in polygons]
            offsets = np.zeros(len(lists) + 1, dtype=np.uint64)
            offsets[1:] = np.cumsum([len(p) for p in lists]) if lists else []
            joined = np.concatenate(lists) if lists else np.zeros(0, dtype=np.int64)
            if joined.size and (joined.min() < -2**31 or joined.max() >= 2**31):
                raise Error("a crown corner is out of range", 1)
            corners = np.ascontiguousarray(joined, dtype=np.int32)
        if offsets.size < 1:
            raise Error("crown polygons need offsets of length P + 1", 1)
        if int(offsets[-1]) > corners.size:
            raise Error(f"the polygon offsets reach {int(offsets[-1])} corners, and {corners.size} are given", 1)
        check(lib.ramulon_load_crown_arrays(self._handle, xyz.ctypes.data, xyz.shape[0], offsets.ctypes.data,
                                            corners.ctypes.data if corners.size else None, offsets.size - 1))

    # ------------------------------------------------------------------------------- build

    def build(self, progress: Optional[Progress] = None, memory_limit: Union[int, str, None] = None,
              journal: bool = False) -> Tree:
        """Grows a tree from the crown and the panel. ``progress(title, done, total)`` is called
        from the building thread at every step; returning False cancels. ``memory_limit``: bytes
        or "8G" (None: the available memory less a margin); ``journal``: record the journal."""
        lib = _library.lib()
        options = _library.BuildOptions()
        lib.ramulon_build_options_init(ctypes.byref(options))
        options.memory_limit = memory_bytes(memory_limit)
        options.journal = int(bool(journal))
        raised: List[BaseException] = []
        if progress is not None:
            def step(_user: Optional[int], title: Optional[bytes], done: int, total: int) -> int:
                try:
                    return 1 if progress((title or b"").decode(), done, total) is False else 0
                except BaseException as e:  # noqa: BLE001 - carried over the C frames, raised below
                    raised.append(e)
                    return 1
            options.progress = _library.PROGRESS(step)
        handle = ctypes.c_void_p()
        status = lib.ramulon_build(self._handle, ctypes.byref(options), ctypes.byref(handle))
        if raised:
            raise raised[0]
        check(status)
        self.tree = Tree(handle.value, self)
        return self.tree

    def cancel(self) -> None:
        """Stops the build running in another thread; it raises Cancelled there."""
        if self._handle:
            _library.lib().ramulon_cancel(self._handle)

    def thumbnail(self) -> bytes:
        """The 128 x 128 PNG thumbnail of the last build."""
        png, size = ctypes.c_void_p(), ctypes.c_size_t()
        check(_library.lib().ramulon_thumbnail(self._handle, ctypes.byref(png), ctypes.byref(size)))
        return ctypes.string_at(png.value, size.value)

    # ----------------------------------------------------------------------------- presets

    def load_preset(self, preset: PathLike, lenient: bool = False) -> None:
        """Applies a .preset file or a preset on the shelf (by name)."""
        check(_library.lib().ramulon_load_preset(self._handle, os.fsencode(preset), int(bool(lenient))))

    def save_preset(self, path: PathLike) -> None:
        """Saves the current parameters as a .preset file."""
        check(_library.lib().ramulon_save_preset(self._handle, os.fsencode(path)))
