# The preset shelf: the same folder the command line and the page use (~/.ramulon/shelf unless
# the add-on's preferences name another), each preset with the thumbnail the tool draws.
import os

import bpy
import bpy.utils.previews

from . import controls, growth, library

_lister = None   # a session kept for reading the shelf, with its folder
_previews = None


def _shelf():
    global _lister
    folder = growth.shelf_folder()
    if _lister is not None and _lister[0] != folder:
        _lister[1].close()
        _lister = None
    if _lister is None:
        package = library.ramulon()
        if package is None:
            raise growth.UserError(library.error())
        _lister = (folder, package.Session(shelf=folder or None))
    return _lister[1].shelf


def names():
    return sorted(_shelf().list(), key=str.lower)


def folder():
    return _shelf().folder


def icon(name):
    """The preview icon of a preset's thumbnail (0 when it has none)."""
    global _previews
    if _previews is None:
        _previews = bpy.utils.previews.new()
    try:
        path = os.path.join(folder(), name + ".png")
        stamp = os.stat(path).st_mtime_ns
    except (OSError, *growth.expected_errors()):
        return 0
    key = f"{name}|{stamp}"
    if key not in _previews:
        preview = _previews.load(key, path, "IMAGE")
        preview.image_size[:]  # reading its size loads the picture now, not when first drawn
    return _previews[key].icon_id


def close():
    global _lister, _previews
    if _lister is not None:
        _lister[1].close()
        _lister = None
    if _previews is not None:
        bpy.utils.previews.remove(_previews)
        _previews = None


def _tree_session(tree):
    """The tree's session, on the preferences' shelf folder."""
    session = growth.session_for(tree)
    if session.shelf != growth.shelf_folder():
        growth._sessions.pop(tree.ramulon.tree_id).close()
        session = growth.session_for(tree)
    return session


def apply(tree, name):
    """Loads a preset into the tree's settings; the caller grows it."""
    if name not in _shelf().list():
        raise growth.UserError(f'No preset "{name}" on the shelf {folder()}')
    session = _tree_session(tree)
    session.session.load_preset(name)
    values = session.read_all()
    controls.write_record(tree.ramulon, values)
    controls.show_record(tree.ramulon, values)


def add(tree, name, replace):
    """Puts the tree's settings and its thumbnail on the shelf, as the tool's "Add Preset"."""
    if not name:
        raise growth.UserError("A preset needs a name")
    session = _tree_session(tree)
    # The thumbnail is drawn from the session's last build: grow the tree as it is now.
    growth.grow_now(tree)
    session.session.shelf.add(name, force=replace)


def remove(name):
    shelf = _shelf()
    if name not in shelf.list():
        raise growth.UserError(f'No preset "{name}" on the shelf {shelf.folder}')
    shelf.remove(name)
