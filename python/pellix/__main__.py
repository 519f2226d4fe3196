"""``python3 -m pellix ls|grab``: the command-line tools pellix-ls and pellix-grab, in Python.

    python3 -m pellix ls [camera]
    python3 -m pellix grab [camera] [-b ID] [-n N] [-o DIR] [--format npy|pnm|raw] [--roi X,Y,W,H] [--force]

Without a camera both start a simulated camera (``pellix.simulate()``). A failure ends with the
library's result text and status 1; wrong use with status 2; Ctrl-C with status 130.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
from typing import Optional, Sequence

import numpy as np

from . import Client, Error, SimulatorError, simulate
from .constants import FORMAT_NAMES, PX_BUFTYPE_IMAGE, PX_BUFTYPE_INPUT, PX_FORMAT_RGB16, PX_FORMAT_YUV16
from .errors import DataError


class _Failure(Exception):
    pass


@contextlib.contextmanager
def _camera(host: Optional[str], quiet: bool = False):
    """The camera named, or a simulated one for the time of the command."""
    if host:
        yield host
        return
    try:
        sim = simulate()
    except (SimulatorError, FileNotFoundError) as e:
        raise _Failure(f"no camera given and no simulated camera: {e}") from None
    with sim:
        if not quiet:
            print("no camera given: using a simulated camera (kelvo-sim)")
        yield sim.host


def _info_text(buffer) -> str:
    if buffer.type == PX_BUFTYPE_INPUT:
        return "no info record (input channel)"
    i = buffer.info
    if buffer.type == PX_BUFTYPE_IMAGE:
        fmt = FORMAT_NAMES.get(i["format"], f"format {i['format']}")
        return (f"{i['size_x']}x{i['size_y']} at {i['offset_x']},{i['offset_y']} of {i['full_size_x']}x"
                f"{i['full_size_y']}, {fmt}, {i['data_size']} bytes")
    extra = "".join(f", {k.replace('_', ' ')} {v}" for k, v in i.items() if k not in ("data_size", "type"))
    return f"{i['data_size']} bytes{extra}"


def _ls(args) -> int:
    with _camera(args.camera, quiet=True) as host, Client(host, name="pellix-py-ls") as client:
        entries = client.buffers()
        status = client.watchdog_status
        print(f"camera: {host}{'' if args.camera else ' (simulated)'}")
        print("watchdog: " + ("receiving signals" if status == 0 else Error(status).text))
        print(f"buffers: {len(entries)}")
        for e in entries:
            print(f"  {e.id:<4}  {e.type_name:<9}  port {e.port:<5}  {e.process}  \"{e.text}\"")
            try:
                with client.subscribe(e.id, port=e.port) as buffer:
                    print(f"        {buffer.client_count} client(s); {_info_text(buffer)}")
            except Error as error:
                print(f"        not subscribed: {error.text}")
    return 0


def _write_pnm(path: str, frame: np.ndarray, fmt: int) -> None:
    if fmt == PX_FORMAT_RGB16:
        w = frame.astype(np.uint16)
        frame = np.stack([(w >> 10) & 31, (w >> 5) & 31, w & 31], axis=-1).astype(np.uint8) << 3
    elif fmt == PX_FORMAT_YUV16:
        frame = frame[..., 0]  # the brightness
    elif frame.ndim == 3:
        frame = frame[..., 2::-1]  # blue, green, red to red, green, blue
    kind = "P6" if frame.ndim == 3 else "P5"
    with open(path, "wb") as f:
        f.write(f"{kind}\n{frame.shape[1]} {frame.shape[0]}\n255\n".encode())
        f.write(np.ascontiguousarray(frame, np.uint8).tobytes())


def _save(path_base: str, frame, fmt: int, kind: str) -> str:
    if isinstance(frame, str):
        path = path_base + ".txt"
        with open(path, "w", encoding="utf-8") as f:
            f.write(frame)
        return path
    if kind == "raw":
        frame.tofile(path_base + ".raw")
        return path_base + ".raw"
    if kind == "pnm" and frame.ndim >= 2:
        path = path_base + (".ppm" if frame.ndim == 3 or fmt == PX_FORMAT_RGB16 else ".pgm")
        _write_pnm(path, frame, fmt)
        return path
    np.save(path_base + ".npy", frame)
    return path_base + ".npy"


def _roi(text: str) -> tuple:
    parts = text.split(",")
    if len(parts) != 4 or not all(p.isdigit() for p in parts) or int(parts[2]) == 0 or int(parts[3]) == 0:
        raise argparse.ArgumentTypeError(f"--roi wants X,Y,W,H with W and H above 0: {text!r}")
    return tuple(int(p) for p in parts)


def _grab(args) -> int:
    os.makedirs(args.o, exist_ok=True)
    with _camera(args.camera) as host, Client(host, name="pellix-py-grab") as client:
        entries = client.buffers()
        entry = next((e for e in entries if (e.id == args.b if args.b else e.type == PX_BUFTYPE_IMAGE)), None)
        known = ", ".join(e.id for e in entries)
        if entry is None:
            raise _Failure(f"the camera publishes no {'buffer ' + repr(args.b) if args.b else 'image buffer'} "
                           f"(buffers: {known})")
        if entry.type == PX_BUFTYPE_INPUT:
            raise _Failure(f"'{entry.id}' is an input buffer: it takes data and has none to read")
        buffer = client.subscribe(entry.id, port=entry.port)
        if args.roi:
            if buffer.type != PX_BUFTYPE_IMAGE:
                raise _Failure(f"--roi needs an image buffer; '{entry.id}' is {entry.type_name}")
            taken = buffer.set_roi(*args.roi)
            if taken != args.roi:
                print("the camera took the window {},{},{},{}".format(*taken))
        print(f"{entry.id}: {_info_text(buffer)} from port {entry.port}")
        saved = 0
        for frame in buffer.stream(args.n, force=args.force, reuse=True):
            fmt = buffer.info.get("format", 0)
            path = _save(os.path.join(args.o, f"{entry.id}-{saved + 1:04d}"), frame, fmt, args.format)
            saved += 1
            print(f"frame {saved}/{args.n}: {path}", flush=True)
        print(f"saved {saved} {'frames' if buffer.type == PX_BUFTYPE_IMAGE else 'records'} of {entry.id} in {args.o}")
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m pellix", description="Kelvo cameras from the command line.")
    commands = parser.add_subparsers(dest="command", required=True)
    ls = commands.add_parser("ls", help="list what a camera publishes")
    ls.add_argument("camera", nargs="?", help="host name or IPv4 address; none: a simulated camera")
    grab = commands.add_parser("grab", help="read frames of one buffer and save them")
    grab.add_argument("camera", nargs="?", help="host name or IPv4 address; none: a simulated camera")
    grab.add_argument("-b", metavar="ID", help="the buffer (default: the first image buffer)")
    grab.add_argument("-n", metavar="N", type=int, default=5, help="frames or records to read (default 5)")
    grab.add_argument("-o", metavar="DIR", default=".", help="where the files go (default: here)")
    grab.add_argument("--format", choices=("npy", "pnm", "raw"), default="npy",
                      help="npy (NumPy, default), pnm (PGM or PPM in red-green-blue) or raw (the bytes)")
    grab.add_argument("--roi", type=_roi, metavar="X,Y,W,H", help="read only this window of the image")
    grab.add_argument("--force", action="store_true", help="take the current frame instead of waiting for the next")
    args = parser.parse_args(argv)
    if args.command == "grab" and args.n <= 0:
        parser.error("-n wants a positive number")
    try:
        return _ls(args) if args.command == "ls" else _grab(args)
    except (Error, DataError, _Failure, OSError) as e:
        print(f"pellix: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("pellix: interrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
