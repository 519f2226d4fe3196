"""How the bytes of a buffer become Python values.

Images become NumPy arrays shaped by their pixel format; the colour formats keep the camera's
byte order, which is blue, green, red (as in a Windows bitmap), not red, green, blue:

============  =============  ======================================================
format        dtype          shape
============  =============  ======================================================
mono8         uint8          (h, w)
syscolor8     uint8          (h, w): indices into the system colour table
rgb24         uint8          (h, w, 3): blue, green, red
rgb32         uint8          (h, w, 4): blue, green, red, unused
yuv16         uint8          (h, w, 2): brightness, then U (even x) or V (odd x)
rgb16         uint16         (h, w): 0RRRRRGGGGGBBBBB, little-endian
other codes   uint8          (h, w) or (h, w, bands)
============  =============  ======================================================

Records of the other buffer types: a text (type 5) becomes a ``str``; a histogram (type 6) a
uint32 array of its bins; a packed array (type 11) an array of its element type (or a ``str`` for
text elements); buffers of 32-bit words (types 2 to 4 and 7 to 10) a uint32 array, two-dimensional
when the record gives a width and a height that fit the data.
"""

from __future__ import annotations

from typing import NamedTuple, Union

import numpy as np

from .constants import (
    PX_BUFTYPE_ARRAY,
    PX_BUFTYPE_HISTOGRAM,
    PX_BUFTYPE_TEXT,
    PX_FORMAT_MONO8,
    PX_FORMAT_RGB16,
    PX_FORMAT_RGB24,
    PX_FORMAT_RGB32,
    PX_FORMAT_SYSCOLOR8,
    PX_FORMAT_YUV16,
)
from .errors import DataError

Record = Union[np.ndarray, str]


class PixelLayout(NamedTuple):
    dtype: np.dtype
    channels: tuple  # () or (n,): the trailing dimension of a pixel
    bytes_per_pixel: int


_U8 = np.dtype(np.uint8)
_LAYOUTS = {
    PX_FORMAT_MONO8: PixelLayout(_U8, (), 1),
    PX_FORMAT_SYSCOLOR8: PixelLayout(_U8, (), 1),
    PX_FORMAT_RGB24: PixelLayout(_U8, (3,), 3),
    PX_FORMAT_RGB32: PixelLayout(_U8, (4,), 4),
    PX_FORMAT_YUV16: PixelLayout(_U8, (2,), 2),
    PX_FORMAT_RGB16: PixelLayout(np.dtype("<u2"), (), 2),
}


def pixel_layout(fmt: int, bands: int = 1) -> PixelLayout:
    """The array layout of one pixel of format ``fmt``; unknown codes take ``bands`` bytes."""
    layout = _LAYOUTS.get(fmt)
    if layout is not None:
        return layout
    bands = max(int(bands), 1)
    return PixelLayout(_U8, (bands,) if bands > 1 else (), bands)


# Element types of a packed array (variant type codes, the array flag 0x2000 removed).
_ARRAY_TYPES = {
    2: np.dtype("<i2"),
    3: np.dtype("<i4"),
    4: np.dtype("<f4"),
    5: np.dtype("<f8"),
    16: np.dtype("i1"),
    17: np.dtype("u1"),
    18: np.dtype("<u2"),
    19: np.dtype("<u4"),
    22: np.dtype("<i4"),
    23: np.dtype("<u4"),
}
_ARRAY_TYPE_CODES = {dtype: code for code, dtype in sorted(_ARRAY_TYPES.items(), reverse=True)}
_VT_ARRAY = 0x2000
_VT_TEXT_BIT = 0x8  # as VT_BSTR has: the elements are a UTF-16 text


def _utf16_text(data: np.ndarray) -> str:
    units = data[: len(data) // 2 * 2].view("<u2")
    end = np.flatnonzero(units == 0)
    if end.size:
        units = units[: end[0]]
    return units.tobytes().decode("utf-16-le", "replace")


def decode_packed_array(data: np.ndarray) -> Record:
    """A packed array: 32-bit type code, 32-bit count, then the elements back to back."""
    if len(data) < 8:
        raise DataError(f"a packed array needs 8 bytes of header, the camera sent {len(data)}")
    code, count = (int(v) for v in data[:8].view("<u4"))
    body = data[8:]
    if code & _VT_TEXT_BIT:
        if count * 2 > len(body):
            raise DataError(f"a packed text of {count} characters in {len(body)} bytes")
        return _utf16_text(body[: count * 2])
    dtype = _ARRAY_TYPES.get(code & ~_VT_ARRAY)
    if dtype is None:
        raise DataError(f"a packed array of unknown element type {code}")
    if count * dtype.itemsize > len(body):
        raise DataError(f"a packed array of {count} elements of {dtype.itemsize} bytes in {len(body)} bytes")
    return body[: count * dtype.itemsize].view(dtype)


def pack_array(values) -> bytes:
    """The packed form of a one-dimensional array (type code, count, elements), as the camera's
    input channels take arrays. An array keeps its element type; a list of ints becomes 32-bit
    integers, a list of floats doubles."""
    array = np.ascontiguousarray(values)
    if not isinstance(values, np.ndarray) and array.dtype.kind == "i":
        if array.size and (array.min() < -2**31 or array.max() >= 2**31):
            raise OverflowError("plain integers are packed as 32-bit values; pass an array of another type")
        array = array.astype("<i4")  # plain Python numbers: 32-bit integers, or doubles
    if array.ndim != 1:
        raise ValueError("a packed array is one-dimensional")
    dtype = array.dtype.newbyteorder("<") if array.dtype.itemsize > 1 else array.dtype
    code = _ARRAY_TYPE_CODES.get(dtype)
    if code is None:
        raise TypeError(f"no packed element type for {array.dtype}")
    header = np.array([code, len(array)], dtype="<u4")
    return header.tobytes() + array.astype(dtype, copy=False).tobytes()


def decode_record(buffer_type: int, data: np.ndarray, size_x: int = 0, size_y: int = 0) -> Record:
    """The value of one record of a buffer that is not an image (``data``: its bytes as uint8)."""
    if buffer_type == PX_BUFTYPE_TEXT:
        return _utf16_text(data)
    if buffer_type == PX_BUFTYPE_ARRAY:
        return decode_packed_array(data)
    words = data[: len(data) // 4 * 4].view("<u4")
    if buffer_type == PX_BUFTYPE_HISTOGRAM:
        return words
    if size_x and size_y and size_x * size_y == len(words):
        return words.reshape(size_y, size_x)
    return words
