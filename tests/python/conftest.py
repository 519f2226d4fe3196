"""The pellix package from this source tree, over the library of the normal build (or the one
PELLIX_LIBRARY names), against kelvo-sim programs started by pellix.simulate().

The simulator's pictures are modelled here from what the camera is said to send (ramps, a
checkerboard, a moving bar), independently of the simulator's code, so that a frame read through
the package is compared pixel by pixel; the frame-number label in the top left corner is left out.
"""

import sys
import threading
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))

import pellix  # noqa: E402

BAR_WIDTH = 8


def _full_pattern(width: int, height: int, frame: int):
    """Grey and blue, green, red planes of the whole image of frame ``frame``, bar included."""
    x = np.arange(width, dtype=np.int64)[None, :]
    y = np.arange(height, dtype=np.int64)[:, None]
    checker = ((x >> 5) + (y >> 5)) & 1 == 1
    grey = (x + 2 * y + 3 * frame) & 0xFF
    grey = np.where(checker, grey ^ 0x80, grey)
    b = np.broadcast_to((x + 2 * frame) & 0xFF, (height, width))
    g = np.broadcast_to((y + frame) & 0xFF, (height, width))
    r = np.where(checker, 0xE0, 0x20)
    bar = ((x - (frame * BAR_WIDTH) % width) % (1 << 32)) < BAR_WIDTH
    bar = np.broadcast_to(bar, (height, width))
    grey = np.where(bar, 0xFF, grey)
    r, g, b = np.where(bar, 0xFF, r), np.where(bar, 0xFF, g), np.where(bar, 0x00, b)
    return grey, b, g, r


def expected_image(fmt: str, full: tuple, frame: int, window: tuple = None) -> np.ndarray:
    """What the camera sends of ``window`` (x, y, w, h; default the whole image) in ``fmt``."""
    width, height = full
    grey, b, g, r = _full_pattern(width, height, frame)
    x0, y0, w, h = window or (0, 0, width, height)
    cut = (slice(y0, y0 + h), slice(x0, x0 + w))
    grey, b, g, r = grey[cut], b[cut], g[cut], r[cut]
    if fmt in ("mono8", "syscolor8"):
        return grey.astype(np.uint8)
    if fmt == "rgb24":
        return np.stack([b, g, r], axis=-1).astype(np.uint8)
    if fmt == "rgb32":
        return np.stack([b, g, r, np.zeros_like(b)], axis=-1).astype(np.uint8)
    if fmt == "yuv16":
        luma = (r * 77 + g * 150 + b * 29) >> 8
        even = (np.arange(w) % 2 == 0)[None, :]
        return np.stack([luma, np.where(even, b, r)], axis=-1).astype(np.uint8)
    if fmt == "rgb16":
        return (((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)).astype(np.uint16)
    raise ValueError(fmt)


def label_mask(full: tuple, frame: int, window: tuple = None) -> np.ndarray:
    """True where the frame-number label may lie (left out of comparisons)."""
    width, height = full
    scale = max(min(width, height) // 120, 1)
    mask = np.zeros((height, width), bool)
    mask[: 8 + 7 * scale + 4, : 8 + len(str(frame)) * 6 * scale + 4] = True
    x0, y0, w, h = window or (0, 0, width, height)
    return mask[y0:y0 + h, x0:x0 + w]


def assert_pattern(frame: np.ndarray, fmt: str, full: tuple, serial: int, window: tuple = None) -> None:
    expected = expected_image(fmt, full, serial, window)
    assert frame.shape == expected.shape and frame.dtype == expected.dtype
    keep = ~label_mask(full, serial, window)
    mismatched = np.argwhere((frame != expected).reshape(keep.shape + (-1,)).any(-1) & keep)
    assert mismatched.size == 0, f"{fmt}: {len(mismatched)} pixels differ, first at (y, x) {tuple(mismatched[0])}"


@pytest.fixture
def camera():
    """The default simulated camera (IMG0 640x480 mono8, HIST, TEXT, ARR0, INP0 at 25 frames/s)."""
    with pellix.simulate(verbosity=2) as cam:
        yield cam


def when_logged(cam, pattern: str, action) -> threading.Thread:
    """Runs ``action`` on another thread as soon as the simulator logs a line matching ``pattern``
    (from now on): how a test acts while the main thread waits inside the library."""
    at = cam.mark()
    thread = threading.Thread(target=lambda: (cam.expect(pattern, timeout=30, at=at), action()))
    thread.start()
    return thread
