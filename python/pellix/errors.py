"""Exceptions: every result other than PX_OK becomes a ``pellix.Error`` carrying the code and the
library's text for it (``PXGetResultText``). Families that a script may want to handle apart have
subclasses: communication lost, watchdog lost or missing, no resources, agent too old, transfers
cancelled.
"""

from __future__ import annotations

from typing import Optional

from . import _library
from .constants import (
    PX_COMM_ERROR,
    PX_END_OF_TRANSFERS,
    PX_NO_RESOURCES,
    PX_NO_WATCHDOG,
    PX_NOT_SUPPORTED,
    PX_WATCHDOG_LOST,
)


def result_text(code: int) -> str:
    """The library's name and meaning of a result: "PX_COMM_ERROR: communication with the
    camera's agent failed"; an agent's own code reads "agent result N"."""
    return _library.library().PXGetResultText(code).decode("utf-8", "replace")


class Error(Exception):
    """A library call failed.

    Attributes:
        code: the result code (a PX_ value, or an agent's code passed through).
        text: the library's text for it.
        call: the PX function that returned it, when known.
    """

    def __init__(self, code: int, call: Optional[str] = None) -> None:
        self.code = code
        self.text = result_text(code)
        self.call = call
        super().__init__(f"{call}: {self.text}" if call else self.text)


class CommunicationError(Error):
    """PX_COMM_ERROR: the connection to the camera's agent failed; the client keeps this error."""


class WatchdogError(Error):
    """A wait timed out and the camera's watchdog could not vouch for the camera."""


class WatchdogLostError(WatchdogError):
    """PX_WATCHDOG_LOST: the camera's watchdog no longer receives signals."""


class NoWatchdogError(WatchdogError):
    """PX_NO_WATCHDOG: the camera's watchdog is not available."""


class NoResourcesError(Error):
    """PX_NO_RESOURCES: the agent answered that the buffer's resources are not available."""


class NotSupportedError(Error):
    """PX_NOT_SUPPORTED: the camera's agent is too old for the request."""


class CancelledError(Error):
    """PX_END_OF_TRANSFERS: the buffer's transfers were cancelled (``Buffer.cancel``)."""


class DataError(ValueError):
    """Data from the camera that does not describe itself consistently (a packed array whose count
    exceeds its bytes, a record smaller than its header)."""


_FAMILIES = {
    PX_COMM_ERROR: CommunicationError,
    PX_WATCHDOG_LOST: WatchdogLostError,
    PX_NO_WATCHDOG: NoWatchdogError,
    PX_NO_RESOURCES: NoResourcesError,
    PX_NOT_SUPPORTED: NotSupportedError,
    PX_END_OF_TRANSFERS: CancelledError,
}


def error_for(code: int, call: Optional[str] = None) -> Error:
    """The exception of the family of ``code``."""
    return _FAMILIES.get(code, Error)(code, call)


def check(code: int, call: str) -> None:
    """Raise the exception for ``code`` unless it is PX_OK."""
    if code != 0:
        raise error_for(code, call)
