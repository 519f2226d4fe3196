"""Pellix for Python: Kelvo smart cameras from a script, with frames as NumPy arrays.

A pure-Python layer over the C library libpellix.so.4 (through ctypes)::

    import pellix
    with pellix.simulate() as cam:                     # a simulated camera on free ports
        with pellix.Client(cam.host, name="script") as client:
            for b in client.buffers():
                print(b.id, b.type, b.port)
            img = client.subscribe("IMG0")
            frame = img.read()                         # (480, 640) uint8, the next frame
            for frame in img.stream(100, reuse=True):  # 100 frames into one array
                ...

Failures raise ``pellix.Error`` (``CommunicationError``, ``WatchdogLostError``, ...) with the
library's result code and text. See ``pellix.frames`` for the shape of each pixel format.
"""

from . import constants, frames
from ._library import LibraryNotFound, find_simulator, library_path
from .client import Buffer, BufferEntry, Client
from .constants import *  # noqa: F401,F403  (the PX_ values of pellix.h)
from .errors import (
    CancelledError,
    CommunicationError,
    DataError,
    Error,
    NoResourcesError,
    NotSupportedError,
    NoWatchdogError,
    WatchdogError,
    WatchdogLostError,
    result_text,
)
from .simulator import Simulator, SimulatorError, simulate

__version__ = "4.0.352"


def library_version() -> str:
    """The C library's version text, "4.0.352.1"."""
    from ._library import library

    return library().PXClientGetVersion().decode()


__all__ = [
    "Buffer", "BufferEntry", "CancelledError", "Client", "CommunicationError", "DataError", "Error",
    "LibraryNotFound", "NoResourcesError", "NoWatchdogError", "NotSupportedError", "Simulator", "SimulatorError",
    "WatchdogError", "WatchdogLostError", "constants", "find_simulator", "frames", "library_path",
    "library_version", "result_text", "simulate",
]
