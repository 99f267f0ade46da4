"""Ramulon grows trees: the tree generator as a Python package, over libramulon with ctypes.

    import ramulon

    with ramulon.Session() as s:
        s.load_crown("samples/tall_crown.obj")
        s.controls["Render Type"] = "Polygonal"
        s.controls["Branches"] = 300
        tree = s.build()
        print(tree.points.shape, len(tree.polygons))
        tree.write("oak.glb", lod=4, impostor=True)

    tree = ramulon.grow(preset="samples/presets/leafy.preset", seed=7)

The library is found where RAMULON_LIBRARY points, beside this package, under the install
prefix, or in a checkout's build folder (see ``library_path()``).
"""

from __future__ import annotations

from typing import Any, Dict, Optional, Union

from . import _library
from .errors import Cancelled, Error
from .session import Control, Controls, Progress, Session, Shelf
from .tree import Map, PathLike, PolygonMap, Polygons, Tree

__all__ = ["Session", "Tree", "Control", "Controls", "Shelf", "Map", "PolygonMap", "Polygons",
           "Error", "Cancelled", "grow", "library_path", "version", "batch"]


def library_path() -> str:
    """The libramulon file this package loaded."""
    return _library.path()


def version() -> str:
    """The library's version ("1.6.28")."""
    return _library.lib().ramulon_version().decode()


def grow(crown: Union[PathLike, None] = None, preset: Optional[PathLike] = None, seed: Optional[int] = None,
         module: Optional[PathLike] = None, generation: int = 11, memory_limit: Union[int, str, None] = None,
         progress: Optional[Progress] = None, journal: bool = False, settings: Optional[Dict[str, Any]] = None,
         **fields: Any) -> Tree:
    """One tree in one call: the crown (an OBJ path; None: the built-in crown), a preset (a file
    or a shelf name), then ``settings`` ({label or field: value}) and keyword fields
    (``num_branches=400``), then the seed, as ``ramulon build --preset P --set ... --set
    random_seed=SEED`` applies them. The tree keeps its session alive."""
    session = Session(module=module, generation=generation)
    if crown is not None:
        session.load_crown(crown)
    if preset is not None:
        session.load_preset(preset)
    for name, value in list((settings or {}).items()) + list(fields.items()):
        session.controls.set(name, value)
    if seed is not None:
        session.controls.set("random_seed", seed)
    return session.build(progress=progress, memory_limit=memory_limit, journal=journal)


from . import batch  # noqa: E402  (needs the names above)
