# The Ramulon library as the add-on carries it: the `ramulon` package and libramulon with its
# modules live in vendor/ beside this file, so the zip needs nothing installed on the machine.
# vendor/lib holds the shared libraries libramulon links against that a plain Linux lacks; they
# are loaded first, so the dynamic linker finds them already there.
import ctypes
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
VENDOR = os.path.join(HERE, "vendor")
TEXTURES = os.path.join(HERE, "textures")

_module = None
_error = ""


def ramulon():
    """The `ramulon` package, imported once; None when it cannot be loaded (see error())."""
    global _module, _error
    if _module is not None or _error:
        return _module
    if os.path.isdir(VENDOR) and VENDOR not in sys.path:
        sys.path.insert(0, VENDOR)
    try:
        _preload(os.path.join(VENDOR, "lib"))
        import ramulon as package
    except Exception as failure:  # a broken install must not stop Blender from starting
        _error = f"Ramulon's library cannot be loaded: {failure}"
        return None
    _module = package
    return _module


def _preload(folder):
    """Loads each library of the folder the system does not have, each after those it needs (in
    as many rounds as that takes); one that never loads leaves its error to the import that
    needs it. Where the system has a library its own copy is used, never two in one process."""
    if not os.path.isdir(folder):
        return
    waiting = sorted(os.listdir(folder))
    while waiting:
        failed = []
        for name in waiting:
            try:
                ctypes.CDLL(name, mode=ctypes.RTLD_GLOBAL)
                continue
            except OSError:
                pass
            try:
                ctypes.CDLL(os.path.join(folder, name), mode=ctypes.RTLD_GLOBAL)
            except OSError:
                failed.append(name)
        if len(failed) == len(waiting):
            return
        waiting = failed


def error():
    return _error


def library_errors():
    """The exception types the library raises for anything a user can do wrong."""
    package = ramulon()
    if package is None:
        return (RuntimeError,)
    return (package.Error,)
