"""Finding and loading libpellix.so.4, the ctypes prototypes of its functions, and kelvo-sim.

The library is the first of:

1. the file named by the environment variable ``PELLIX_LIBRARY``;
2. a ``libpellix.so.4`` next to the package (a copy shipped with it);
3. the normal build of the source tree the package sits in (``build/normal/client``), so that
   ``PYTHONPATH=python`` works in a checkout after ``scripts/run.sh`` or ``scripts/test.sh``;
4. the soname, through the dynamic loader (``LD_LIBRARY_PATH``, the ``ldconfig`` cache).

It is loaded once per process, on first use. The simulator program ``kelvo-sim`` is looked for
next to the library that was loaded (the same folder, ``../sim`` of a build tree, ``bin/`` of an
installed prefix), then next to the package, then on ``PATH``; ``PELLIX_SIMULATOR`` names it
outright.
"""

from __future__ import annotations

import ctypes
import os
import shutil
import threading
from ctypes import POINTER, c_char_p, c_int, c_uint32, c_void_p
from pathlib import Path
from typing import Optional

SONAME = "libpellix.so.4"
SIMULATOR = "kelvo-sim"

_PACKAGE_DIR = Path(__file__).resolve().parent


class BufferListEntry(ctypes.Structure):
    """One published buffer as ``PXGetBufferList`` hands it out (540 bytes)."""

    _fields_ = [
        ("id", ctypes.c_uint8 * 4),  # four characters, not NUL-terminated
        ("type", c_uint32),
        ("port", ctypes.c_uint16),
        ("processName", ctypes.c_char * 256),
        ("reserved", ctypes.c_uint8 * 6),
        ("text", ctypes.c_char * 268),
    ]


assert ctypes.sizeof(BufferListEntry) == 540

BufferInfo = c_uint32 * 15  # the 60-byte info record of the struct calls

_PROTOTYPES = {
    "PXClientGetVersion": (c_char_p, []),
    "PXGetResultText": (c_char_p, [c_uint32]),
    "PXClientInit": (
        c_uint32,
        [c_char_p, c_void_p, c_char_p, POINTER(c_uint32), c_uint32, c_uint32, c_uint32, c_uint32, c_uint32],
    ),
    "PXClientTerminate": (c_uint32, [c_uint32]),
    "PXSetExchangeBuffer": (c_uint32, [c_uint32, c_uint32, c_char_p, c_uint32, c_uint32]),
    "PXSetExchangeBufferInfoStruct": (c_uint32, [c_uint32, c_char_p, c_void_p]),
    "PXSetExchangeBufferInfo": (c_uint32, [c_uint32, c_char_p, c_uint32, POINTER(c_uint32)]),
    "PXGetExchangeBufferInfoStruct": (c_uint32, [c_uint32, c_char_p, c_void_p]),
    "PXGetExchangeBufferInfo": (c_uint32, [c_uint32, c_char_p, c_uint32, POINTER(c_uint32)]),
    "PXGetExchangeBufferData": (c_uint32, [c_uint32, c_char_p, c_uint32, c_void_p, c_void_p, POINTER(c_uint32)]),
    "PXGetExchangeBufferDataDesc": (c_uint32, [c_uint32, c_char_p, c_uint32, POINTER(c_uint32)]),
    "PXGetBufferList": (c_uint32, [c_uint32, POINTER(c_uint32), POINTER(POINTER(BufferListEntry))]),
    "PXSendInput": (c_uint32, [c_uint32, c_char_p, c_uint32, c_void_p]),
    "PXGetNumberOfClient": (c_uint32, [c_uint32, c_char_p, POINTER(c_uint32)]),
    "PXForceTransferInProgress": (c_uint32, [c_uint32, c_char_p]),
    "PXCancelTransfers": (c_uint32, [c_uint32]),
    "PXGetTimeout": (c_uint32, [c_uint32, POINTER(c_uint32)]),
    "PXGetWatchDogStatus": (c_uint32, [c_uint32, POINTER(c_uint32)]),
    "PXVerifyResources": (c_uint32, [c_uint32, c_uint32, POINTER(c_uint32)]),
    "PXGetRefreshListEvent": (c_int, [c_uint32]),
}


class LibraryNotFound(OSError):
    """libpellix.so.4 could not be loaded from any of the places searched."""


class _DlInfo(ctypes.Structure):
    _fields_ = [("dli_fname", c_char_p), ("dli_fbase", c_void_p), ("dli_sname", c_char_p), ("dli_saddr", c_void_p)]


def _candidates() -> list[str]:
    named = os.environ.get("PELLIX_LIBRARY")
    if named:
        return [named]
    places = [_PACKAGE_DIR / SONAME, _PACKAGE_DIR.parent.parent / "build" / "normal" / "client" / SONAME]
    return [str(p) for p in places if p.is_file()] + [SONAME]


def _loaded_path(lib: ctypes.CDLL) -> Optional[Path]:
    """Where the dynamic loader found the library (through dladdr on one of its functions)."""
    try:
        dladdr = ctypes.CDLL(None).dladdr
    except (OSError, AttributeError):
        return None
    dladdr.argtypes = [c_void_p, POINTER(_DlInfo)]
    info = _DlInfo()
    if not dladdr(ctypes.cast(lib.PXClientGetVersion, c_void_p), ctypes.byref(info)) or not info.dli_fname:
        return None
    return Path(os.fsdecode(info.dli_fname)).absolute()


class _Library:
    def __init__(self) -> None:
        tried = []
        for candidate in _candidates():
            try:
                self.dll = ctypes.CDLL(candidate)
                break
            except OSError as e:
                tried.append(f"{candidate}: {e}")
        else:
            raise LibraryNotFound(
                "libpellix.so.4 not found; set PELLIX_LIBRARY to its path, or install it where the dynamic "
                "loader finds it (tried " + "; ".join(tried) + ")"
            )
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(self.dll, name)
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)
        self.path = _loaded_path(self.dll)


_lock = threading.Lock()
_library: Optional[_Library] = None


def library():
    """The loaded library, with each PX function as an attribute of the same name."""
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                _library = _Library()
    return _library


def library_path() -> Optional[Path]:
    """The file of the loaded library, as the dynamic loader found it."""
    return library().path


def find_simulator() -> str:
    """The path of kelvo-sim, or raise FileNotFoundError naming the places searched."""
    named = os.environ.get("PELLIX_SIMULATOR")
    if named:
        return named
    places = []
    lib = library_path()
    if lib is not None:
        folder = lib.parent
        # Same folder; a build tree (client/ and sim/ side by side); an installed prefix whose
        # libraries are in lib/ or lib/<multiarch>/.
        places += [folder, folder.parent / "sim", folder.parent / "bin", folder.parent.parent / "bin"]
    places.append(_PACKAGE_DIR)
    for place in places:
        program = place / SIMULATOR
        if program.is_file() and os.access(program, os.X_OK):
            return str(program)
    found = shutil.which(SIMULATOR)
    if found:
        return found
    raise FileNotFoundError(
        f"{SIMULATOR} not found next to {lib or SONAME}, next to the package or on PATH; set PELLIX_SIMULATOR to its path"
    )
