#!/usr/bin/env python3
"""Frames through the pellix package against the C library's own loop, in the same run.

One kelvo-sim serves a 1280x1024 mono8 image that never changes (frame interval 0), so every
read with force 1 is answered at once and the loops measure the client side only. The baseline is
a loop in C (read_loop.c, compiled here against the library the package loaded and called once
per chunk) that reads through the package's own handle into the package's own array: what differs
is only the package's work around each call. Each round reads one chunk each way: the C loop; the
package's ``read(force=True)`` with a new array per frame; its ``stream(force=True, reuse=True)``
into one array. Rounds are short and take turns, so that the noise of a shared machine falls on
all three alike; the result is the median of the rounds' ratios to the C loop (aim: 0.9 or better).

    python3 bench/python/frame_bench.py [--frames N] [--rounds R]
"""

import argparse
import ctypes
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))

import pellix  # noqa: E402

WIDTH, HEIGHT = 1280, 1024


def c_loop(folder: Path):
    """The C loop as a function: (buffer, frames) -> frames per second."""
    library = pellix.library_path()
    compiler = shutil.which("cc") or shutil.which("gcc")
    shared = folder / "libread_loop.so"
    subprocess.run([compiler, "-O2", "-shared", "-fPIC", "-I", str(REPO / "include"),
                    str(Path(__file__).with_name("read_loop.c")), "-o", str(shared), str(library),
                    f"-Wl,-rpath,{library.parent}"], check=True)
    loop = ctypes.CDLL(str(shared)).PellixBenchReadLoop
    loop.restype = ctypes.c_double
    loop.argtypes = [ctypes.c_uint32, ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint32)]

    def rate(img, frames: int) -> float:
        destination = img.empty()
        result = ctypes.c_uint32(0)
        seconds = loop(img._handle, img.id.encode(), frames, destination.ctypes.data, ctypes.byref(result))
        if seconds < 0:
            raise pellix.errors.error_for(result.value, "PXGetExchangeBufferData")
        return frames / seconds

    return rate


def package_rate(img, frames: int, reuse: bool) -> float:
    start = time.perf_counter()
    if reuse:
        for _ in img.stream(frames, force=True, reuse=True):
            pass
    else:
        for _ in range(frames):
            img.read(force=True)
    return frames / (time.perf_counter() - start)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=50, help="frames per chunk (default 50)")
    parser.add_argument("--rounds", type=int, default=40, help="rounds (default 40)")
    args = parser.parse_args()
    rates = {"C loop": [], "read": [], "stream reuse": []}
    with tempfile.TemporaryDirectory() as folder, \
            pellix.simulate([f"IMG0:image:size={WIDTH}x{HEIGHT}:format=mono8"], frame_interval=0) as cam, \
            pellix.Client(cam.host, name="frame-bench") as client:
        loop = c_loop(Path(folder))
        img = client.subscribe("IMG0")
        loop(img, 10), package_rate(img, 10, False), package_rate(img, 10, True)  # warm up
        for _ in range(args.rounds):
            rates["C loop"].append(loop(img, args.frames))
            rates["read"].append(package_rate(img, args.frames, False))
            rates["stream reuse"].append(package_rate(img, args.frames, True))
    megabytes = WIDTH * HEIGHT / 1e6
    print(f"{WIDTH}x{HEIGHT} mono8, {args.rounds} rounds of {args.frames} frames each way (medians)")
    for name, values in rates.items():
        ratio = statistics.median(v / c for v, c in zip(values, rates["C loop"]))
        rate = statistics.median(values)
        print(f"  {name:<13} {rate:8.1f} frames/s  {rate * megabytes:8.1f} MB/s  ratio {ratio:.3f}")


if __name__ == "__main__":
    main()
