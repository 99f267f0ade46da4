"""The one error type of the package, carrying the library's status and its one-line message."""

from __future__ import annotations

from typing import Optional

from . import _library


class Error(Exception):
    """A call the library refused: ``str(error)`` is its one-line message (the same text the
    command line prints), ``status`` the C status number and ``code`` its name ("argument",
    "not_found", "module", "io", "refused", "cancelled", "busy", "no_tree", "memory",
    "handle")."""

    def __init__(self, message: str, status: int):
        super().__init__(message)
        self.status = status
        self.code = (_library.STATUS_NAMES[status] if 0 <= status < len(_library.STATUS_NAMES)
                     else "unknown")


class Cancelled(Error):
    """The build was cancelled (``Session.cancel()``, or a progress callback that said stop)."""


def check(status: int, session: Optional[int] = None) -> None:
    """Raises the error of a failed call, with the message the library kept for this thread."""
    if status == 0:
        return
    text = _library.lib().ramulon_last_error(None)
    message = text.decode("utf-8", "replace") if text else _library.STATUS_NAMES[status]
    raise (Cancelled if status == 6 else Error)(message, status)
