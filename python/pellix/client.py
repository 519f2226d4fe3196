"""Clients of a camera's agent and its exchange buffers, over the C library.

Who owns what: a ``Client`` owns one PX handle with an agent channel (the buffer list and the
watchdog). Each ``Buffer`` it subscribes owns a PX handle of its own, supervised through the
client's agent channel, so that several buffers of one camera can be read at once, each from its
own thread; the client closes its buffers before its own handle. A buffer is read from one thread
at a time; ``Buffer.cancel`` may be called from any other thread and ends a waiting read.

Every library call releases the interpreter lock while it runs (ctypes does so), so a read that
waits for a frame holds back no other Python thread.
"""

from __future__ import annotations

import ctypes
import ipaddress
import os
import select
import signal
import threading
from ctypes import byref, c_uint32
from dataclasses import dataclass
from typing import Iterator, Optional, Union

import numpy as np

from . import _library
from .constants import (
    BUFTYPE_NAMES,
    FORMAT_NAMES,
    PX_BUFFER_CHANGED,
    PX_BUFTYPE_IMAGE,
    PX_BUFTYPE_INPUT,
    PX_DESC_IS_REGION,
    PX_DESC_REGION_ROWS,
    PX_DESC_REGION_WIDTH,
    PX_DESC_REGION_X,
    PX_DESC_REGION_Y,
    PX_DESC_SERIAL,
    PX_END_OF_TRANSFERS,
    PX_INFINITE,
    PX_INFO_BUFFER_TYPE,
)
from .errors import DataError, check, error_for
from .frames import decode_record, pack_array, pixel_layout

Frame = Union[np.ndarray, str]

# Words of the image info record.
_FULL_X, _FULL_Y, _DATA_SIZE, _BANDS, _OFFSET_X, _OFFSET_Y, _SIZE_X, _SIZE_Y, _SUBSECTION, _FORMAT = (
    2, 3, 6, 7, 8, 9, 10, 11, 12, 14)
_IMAGE_INFO = {
    "full_size_x": _FULL_X, "full_size_y": _FULL_Y, "data_size": _DATA_SIZE, "num_bands": _BANDS,
    "offset_x": _OFFSET_X, "offset_y": _OFFSET_Y, "size_x": _SIZE_X, "size_y": _SIZE_Y,
    "subsection": _SUBSECTION, "format": _FORMAT,
}
# Words of the other records, by type.
_WORDS_INFO = {"data_size": 0, "elements": 1}
_SIZED_INFO = {"data_size": 0, "size_x": 1, "size_y": 2}
_OTHER_INFO = {t: _WORDS_INFO for t in (2, 6, 7, 8, 9, 10)}
_OTHER_INFO.update({t: _SIZED_INFO for t in (3, 4, 5, 11)})

# Reads answered without data before a stream gives up.
_EMPTY_READS = 3


def _milliseconds(seconds: Optional[float]) -> int:
    if seconds is None:
        return PX_INFINITE
    ms = int(round(seconds * 1000))
    if not 0 < ms < PX_INFINITE:
        raise ValueError(f"a time-out of {seconds} s is out of range (None waits without limit)")
    return ms


def _id_bytes(buffer_id: str) -> bytes:
    raw = buffer_id.encode("latin-1")
    if not 1 <= len(raw) <= 4:
        raise ValueError(f"a buffer identifier has 1 to 4 characters, not {buffer_id!r}")
    return raw.ljust(4, b"\0")


def _id_text(raw: bytes) -> str:
    return raw.rstrip(b"\0").decode("latin-1")


@dataclass(frozen=True)
class BufferEntry:
    """One buffer the camera publishes."""

    id: str
    type: int
    port: int
    process: str
    text: str

    @property
    def type_name(self) -> str:
        """"image", "text", "histogram", "array", "input" or "type N"."""
        return BUFTYPE_NAMES.get(self.type, f"type {self.type}")


class Client:
    """A client of a camera's agent: its buffer list, its watchdog, and subscriptions.

    Args:
        host: the camera, a host name or a dotted IPv4 address.
        name: the client name the agent shows.
        timeout: seconds every request waits (None: without limit).
        signal_delay, signal_timeout: seconds between the watchdog's signals, and how long to wait
            for one before the camera counts as lost.
        retries: time-outs of one request before it gives up while the watchdog still vouches
            for the camera.

    The ports come from the configuration (``VISTEL_CONFIG`` or /etc/dravik/vistel.conf), as for
    every PX client; ``pellix.simulate()`` points them at its simulator. Use the client as a
    context manager, or call ``close()``.
    """

    def __init__(self, host: str, *, name: str = "python", timeout: Optional[float] = 5.0,
                 signal_delay: float = 0.25, signal_timeout: float = 1.5, retries: int = 3) -> None:
        self._lib = _library.library()
        self.host = host
        self.name = name
        self._timeout_ms = _milliseconds(timeout)
        self._buffers: list[Buffer] = []
        self._handle = 0
        handle = c_uint32(0)
        check(self._init(handle, 1, _milliseconds(signal_delay), _milliseconds(signal_timeout), int(retries)),
              "PXClientInit")
        self._handle = handle.value

    def _init(self, handle: c_uint32, agent_channel: int, delay: int, signal_timeout: int, retries: int) -> int:
        try:
            address = (ctypes.c_uint8 * 4)(*ipaddress.IPv4Address(self.host).packed)
            host = None
        except ValueError:
            address, host = None, self.host.encode()
        return self._lib.PXClientInit(host, address, self.name.encode(), byref(handle), self._timeout_ms,
                                      agent_channel, delay, signal_timeout, retries)

    @property
    def handle(self) -> int:
        """The PX handle (0 once closed)."""
        return self._handle

    def _live(self) -> int:
        if not self._handle:
            raise ValueError("the client is closed")
        return self._handle

    def buffers(self) -> list[BufferEntry]:
        """The buffers the camera publishes: identifier, type, port, owning process, text."""
        count = c_uint32(0)
        entries = ctypes.POINTER(_library.BufferListEntry)()
        check(self._lib.PXGetBufferList(self._live(), byref(count), byref(entries)), "PXGetBufferList")
        return [
            BufferEntry(_id_text(bytes(e.id)), e.type, e.port, e.processName.decode("latin-1"),
                        e.text.decode("latin-1"))
            for e in (entries[i] for i in range(count.value))
        ]

    def subscribe(self, buffer_id: str, *, port: Optional[int] = None, wait_for_update: bool = False) -> Buffer:
        """Subscribes the buffer ``buffer_id`` (its port from the buffer list unless given)."""
        if port is None:
            entry = next((e for e in self.buffers() if e.id == buffer_id), None)
            if entry is None:
                raise KeyError(f"the camera publishes no buffer {buffer_id!r}")
            port = entry.port
        buffer = Buffer(self, buffer_id, port, wait_for_update)
        self._buffers.append(buffer)
        return buffer

    @property
    def watchdog_status(self) -> int:
        """PX_OK (0) while the camera's watchdog receives signals, PX_WATCHDOG_LOST (3010) after a
        miss, PX_NO_WATCHDOG (3020) when there is none."""
        status = c_uint32(0)
        check(self._lib.PXGetWatchDogStatus(self._live(), byref(status)), "PXGetWatchDogStatus")
        return status.value

    def refresh_fd(self) -> int:
        """A descriptor that becomes readable when the camera's buffer list changed (read 8 bytes
        to reset it); 0 when the camera does not announce changes. Owned by the library."""
        return self._lib.PXGetRefreshListEvent(self._live())

    def close(self) -> None:
        """Closes the subscribed buffers and the client. Ending the watchdog waits for its next
        signal, up to one signal time-out."""
        for buffer in self._buffers:
            buffer.close()
        self._buffers.clear()
        if self._handle:
            handle, self._handle = self._handle, 0
            self._lib.PXClientTerminate(handle)

    def __enter__(self) -> Client:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<pellix.Client {self.host!r} handle {self._handle}>"


class _Geometry:
    """What the library's last info record says about the data: the room a read needs and how
    the frame is shaped."""

    __slots__ = ("size_x", "size_y", "full_x", "full_y", "format", "bands", "room", "layout")

    def __init__(self, words) -> None:
        self.size_x, self.size_y = words[_SIZE_X], words[_SIZE_Y]
        self.full_x, self.full_y = words[_FULL_X], words[_FULL_Y]
        self.format, self.bands = words[_FORMAT], words[_BANDS]
        self.layout = pixel_layout(self.format, self.bands)
        # The library fills this many bytes at most: the data size, or the full image when the
        # camera answers with regions; the window itself in the pixel format's own size.
        bpp = self.layout.bytes_per_pixel
        self.room = max(words[_DATA_SIZE], self.full_x * self.full_y * max(self.bands, bpp), self.size_x * self.size_y * bpp,
                        1)


def _flat_memory(out: np.ndarray) -> np.ndarray:
    """The bytes that may be written from the start of ``out``, as a flat uint8 view: to the end of
    the C-contiguous array it was cut from (so that an array from ``Buffer.empty()`` has the room of
    a whole image). A frame made from it keeps that array alive."""
    if not (out.flags.c_contiguous and out.flags.writeable):
        raise ValueError("out must be a writable C-contiguous array")
    root = out
    while isinstance(root.base, np.ndarray):
        root = root.base
    if root is out or not root.flags.c_contiguous:
        return out.reshape(-1).view(np.uint8)
    return root.reshape(-1).view(np.uint8)[out.ctypes.data - root.ctypes.data:]


class _SigintCancel:
    """While a stream runs on the main thread, Ctrl-C also cancels the read that waits for a frame,
    so that the KeyboardInterrupt comes at once and not when the next frame or time-out does.

    Python's own handler stays in place and raises KeyboardInterrupt; its wake-up descriptor tells a
    watcher thread that the signal came, and the watcher cancels the transfers. Nothing is done when
    the program has its own SIGINT handler or wake-up descriptor."""

    def __init__(self, buffer: Buffer) -> None:
        self._buffer = buffer
        self._thread: Optional[threading.Thread] = None

    def __enter__(self) -> _SigintCancel:
        if (threading.current_thread() is not threading.main_thread()
                or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
            return self
        self._wake_r, self._wake_w = os.pipe()
        self._stop_r, self._stop_w = os.pipe()
        os.set_blocking(self._wake_w, False)
        previous = signal.set_wakeup_fd(self._wake_w, warn_on_full_buffer=False)
        if previous != -1:
            signal.set_wakeup_fd(previous)
            self._close_pipes()
            return self
        self._thread = threading.Thread(target=self._watch, name="pellix-sigint", daemon=True)
        self._thread.start()
        return self

    def _watch(self) -> None:
        while True:
            readable, _, _ = select.select([self._wake_r, self._stop_r], [], [])
            if self._stop_r in readable:
                return
            if signal.SIGINT in os.read(self._wake_r, 64):
                self._buffer.cancel()

    def _close_pipes(self) -> None:
        for fd in (self._wake_r, self._wake_w, self._stop_r, self._stop_w):
            os.close(fd)

    def __exit__(self, *exc) -> None:
        if self._thread is None:
            return
        os.write(self._stop_w, b"x")
        self._thread.join()
        try:
            current = signal.set_wakeup_fd(-1)
            if current != self._wake_w:
                signal.set_wakeup_fd(current)  # someone came after us: leave theirs in place
        except ValueError:
            # A stream finished on another thread cannot unset the descriptor: keep its pipe open
            # (signals still write there) rather than let the number be reused.
            os.close(self._stop_r)
            os.close(self._stop_w)
            return
        self._close_pipes()


class Buffer:
    """One subscribed exchange buffer. Made by ``Client.subscribe``.

    Attributes:
        id: the 4-character identifier.
        type: the buffer type (1 image, 5 text, 6 histogram, 11 array, 101 input, ...).
        port: the buffer's TCP port.
    """

    def __init__(self, client: Client, buffer_id: str, port: int, wait_for_update: bool) -> None:
        self._lib = client._lib
        self._client = client
        self.id = buffer_id
        self._id = _id_bytes(buffer_id)
        self.port = int(port)
        self._wait = 1 if wait_for_update else 0
        self._info = _library.BufferInfo()
        self._info_ptr = ctypes.cast(self._info, ctypes.c_void_p)
        self._received = c_uint32(0)
        self._received_ref = byref(self._received)
        self._desc = c_uint32(0)
        self._desc_ref = byref(self._desc)
        self._stage: Optional[np.ndarray] = None  # where a read into a too small ``out`` lands
        self._out: Optional[tuple] = None  # the last ``out``: the array, its flat memory, its address
        self._cancelled = False
        self._handle = 0
        handle = c_uint32(0)
        check(client._init(handle, 0, 0, 0, 0), "PXClientInit")
        self._handle = handle.value
        try:
            self._subscribe()
            value = c_uint32(0)
            check(self._lib.PXGetExchangeBufferInfo(self._handle, self._id, PX_INFO_BUFFER_TYPE, byref(value)),
                  "PXGetExchangeBufferInfo")
            self.type = value.value
            self._refresh_info()
        except BaseException:
            self.close()
            raise

    def _subscribe(self) -> None:
        check(self._lib.PXSetExchangeBuffer(self._handle, self.port, self._id, self._wait, self._client._live()),
              "PXSetExchangeBuffer")
        self._cancelled = False

    def _live(self) -> int:
        if not self._handle:
            raise ValueError(f"buffer {self.id} is closed")
        if self._cancelled:
            self._subscribe()  # cancelled transfers end the connection; a new one takes over
        return self._handle

    def _refresh_info(self) -> None:
        check(self._lib.PXGetExchangeBufferInfoStruct(self._live(), self._id, self._info_ptr),
              "PXGetExchangeBufferInfoStruct")
        self._geometry = _Geometry(self._info) if self.type == PX_BUFTYPE_IMAGE else None

    @property
    def type_name(self) -> str:
        return BUFTYPE_NAMES.get(self.type, f"type {self.type}")

    @property
    def info(self) -> dict:
        """The info record as a dict: for an image ``size_x``, ``size_y``, ``offset_x``,
        ``offset_y``, ``full_size_x``, ``full_size_y``, ``format``, ``num_bands``, ``data_size``,
        ``subsection``; for other types ``data_size`` and ``elements`` or ``size_x``/``size_y``.
        ``type`` is always there."""
        self._refresh_info()
        names = _IMAGE_INFO if self.type == PX_BUFTYPE_IMAGE else _OTHER_INFO.get(self.type, {})
        info = {name: int(self._info[word]) for name, word in names.items()}
        info["type"] = self.type
        return info

    @property
    def serial(self) -> int:
        """The camera's serial counter of the data read last."""
        words = (c_uint32 * 2)()
        check(self._lib.PXGetExchangeBufferDataDesc(self._live(), self._id, PX_DESC_SERIAL, words),
              "PXGetExchangeBufferDataDesc")
        return words[0] | words[1] << 32

    def _desc_word(self, item: int) -> int:
        self._lib.PXGetExchangeBufferDataDesc(self._handle, self._id, item, self._desc_ref)
        return self._desc.value

    @property
    def room(self) -> int:
        """Bytes a read may write: the data size, or for an image the whole image (a camera may
        answer with regions of it). An ``out`` array with this room is read into without a copy."""
        if self._geometry is None:
            return max(int(self._info[0]), 1)
        return self._geometry.room

    def empty(self) -> np.ndarray:
        """An array shaped for the current frame, with the room of a whole image behind it: the
        ``out`` of choice for ``read`` and ``stream``."""
        g = self._geometry
        if g is None:
            raise TypeError(f"buffer {self.id} is not an image")
        base = np.empty(g.room, np.uint8)
        n = g.size_x * g.size_y * g.layout.bytes_per_pixel
        return base[:n].view(g.layout.dtype).reshape((g.size_y, g.size_x) + g.layout.channels)

    def read(self, force: bool = False, out: Optional[np.ndarray] = None) -> Optional[Frame]:
        """Reads one frame or record.

        Args:
            force: False waits for the camera's next frame; True takes the current one at once.
            out: an array to receive the frame. With ``room`` bytes behind it (an array from
                ``empty()``, or any array of the whole image) the library writes straight into it;
                a smaller array that fits the frame receives a copy. The frame returned is ``out``
                itself when its shape and type still match, else a view of its memory, or a new
                array when the frame no longer fits it.

        Returns:
            An image as a NumPy array (see ``pellix.frames`` for the shapes), a record as a NumPy
            array or a ``str``; None when the camera answered without data. When the camera
            answers with a region of the image, the rest of a new array is zeros, and the rest of
            ``out`` keeps what it held.

        Raises:
            pellix.Error (or a subclass) for a failed read; ``CancelledError`` when ``cancel()``
            ended it. A change of the window or format by another client is handled here: the
            record is read anew and the frame returned at its new size.
        """
        handle = self._live()
        if self.type == PX_BUFTYPE_INPUT:
            raise TypeError(f"buffer {self.id} is an input channel: it takes data and has none to read")
        if out is not None:
            if self._geometry is None:
                raise TypeError(f"out is for images; buffer {self.id} is {self.type_name}")
            if self._out is None or self._out[0] is not out:
                memory = _flat_memory(out)
                self._out = (out, memory, memory.ctypes.data)
        for _ in range(4):
            room = self.room
            if out is None:
                target = np.empty(room, np.uint8)
                address = target.ctypes.data
            elif self._out[1].nbytes >= room:
                _, target, address = self._out
            else:  # out lacks the room of region replies: read aside, then copy
                if self._stage is None or self._stage.nbytes < room:
                    self._stage = np.empty(room, np.uint8)
                target, address = self._stage, self._stage.ctypes.data
            r = self._lib.PXGetExchangeBufferData(handle, self._id, 1 if force else 0, address, self._info_ptr,
                                                  self._received_ref)
            if r == PX_BUFFER_CHANGED:
                self._refresh_info()
                continue
            if r != 0:
                if r == PX_END_OF_TRANSFERS:
                    self._cancelled = True
                raise error_for(r, "PXGetExchangeBufferData")
            if not self._received.value:
                return None
            if self._geometry is None:
                size = min(int(self._info[0]), room)
                return decode_record(self.type, target[:size], int(self._info[1]), int(self._info[2]))
            return self._image(target, out)
        raise DataError(f"buffer {self.id} kept changing its geometry while being read")

    def _image(self, target: np.ndarray, out: Optional[np.ndarray]) -> np.ndarray:
        """The frame in ``target`` (flat bytes), shaped, and placed in ``out`` when one was given."""
        words = self._info
        if self._geometry.format != words[_FORMAT]:
            self._geometry = _Geometry(words)  # the camera told a new format with the data
        g = self._geometry
        bpp = g.layout.bytes_per_pixel
        region = self._desc_word(PX_DESC_IS_REGION) == 1
        if region:
            # Only a region of the image came; the library placed it with the window's row pitch.
            width, rows = g.size_x, g.size_y
        else:
            # The description gives the width and rows delivered: a window another client made
            # smaller shows only there (the record the library keeps is the one it read last).
            width, rows = g.size_x, g.size_y
            desc_width, desc_rows = self._desc_word(PX_DESC_REGION_WIDTH), self._desc_word(PX_DESC_REGION_ROWS)
            if desc_width and desc_rows and desc_width * desc_rows * bpp <= target.nbytes:
                width, rows = desc_width, desc_rows
        shape = (rows, width) + g.layout.channels
        n = rows * width * bpp
        if n > target.nbytes:
            raise DataError(f"buffer {self.id}: the info record ({width}x{rows}, {bpp} bytes a pixel) does not fit "
                            f"the {target.nbytes} bytes read")
        if out is not None and target is self._out[1]:
            if out.shape == shape and out.dtype == g.layout.dtype:
                return out
            return target[:n].view(g.layout.dtype).reshape(shape)
        frame = target[:n].view(g.layout.dtype).reshape(shape)
        if out is None:
            if region:
                self._clear_outside_region(frame)
            return frame
        # Read aside: copy into out (only the region, when one came), or into its memory when the
        # shape changed.
        if out.shape == shape and out.dtype == frame.dtype:
            if region:
                area = self._region_area()
                out[area] = frame[area]
            else:
                np.copyto(out, frame)
            return out
        if n <= out.nbytes:
            view = self._out[1][:n].view(g.layout.dtype).reshape(shape)
            np.copyto(view, frame)
            return view
        return frame.copy()

    def _region_area(self) -> tuple:
        """Where the region of the last reply lies in the frame (slices of rows and columns)."""
        x, y = self._desc_word(PX_DESC_REGION_X), self._desc_word(PX_DESC_REGION_Y)
        width, rows = self._desc_word(PX_DESC_REGION_WIDTH), self._desc_word(PX_DESC_REGION_ROWS)
        return slice(y, y + rows), slice(x, x + width)

    def _clear_outside_region(self, frame: np.ndarray) -> None:
        """A new array holds nothing where the region does not lie: zeros there."""
        rows, columns = self._region_area()
        frame[:rows.start] = 0
        frame[rows.stop:] = 0
        frame[rows, :columns.start] = 0
        frame[rows, columns.stop:] = 0

    def stream(self, count: Optional[int] = None, *, force: bool = False, reuse: bool = False,
               out: Optional[np.ndarray] = None) -> Iterator[Frame]:
        """Yields ``count`` frames (None: until the loop stops), each as ``read`` returns it.

        With ``reuse=True`` (or an ``out`` array) every frame lands in the same array, which the
        next frame overwrites: copy what you keep. Reads answered without data are skipped; three
        in a row raise ``pellix.DataError``. Ctrl-C on the main thread ends a waiting read at once
        (by ``cancel()``) and the stream with KeyboardInterrupt; the buffer stays usable.
        """
        if reuse and out is None and self.type == PX_BUFTYPE_IMAGE:
            out = self.empty()
        done = empty = 0
        with _SigintCancel(self):
            while count is None or done < count:
                frame = self.read(force, out)
                if frame is None:
                    empty += 1
                    if empty == _EMPTY_READS:
                        raise DataError(f"the camera answered {_EMPTY_READS} reads of {self.id} without data")
                    continue
                empty = 0
                if reuse and isinstance(frame, np.ndarray) and frame.base is not None:
                    out = frame  # keep landing in the same memory after a change of shape
                done += 1
                yield frame

    def set_roi(self, x: int, y: int, width: int, height: int) -> tuple[int, int, int, int]:
        """Asks for a window of the full image, in one change of the info record.

        Returns the window the camera took, (x, y, width, height): a camera moves or shrinks a
        window that does not fit its image."""
        if self.type != PX_BUFTYPE_IMAGE:
            raise TypeError(f"buffer {self.id} is not an image")
        self._refresh_info()
        words = _library.BufferInfo(*self._info)
        words[_OFFSET_X], words[_OFFSET_Y], words[_SIZE_X], words[_SIZE_Y] = x, y, width, height
        words[_DATA_SIZE] = width * height * pixel_layout(words[_FORMAT], words[_BANDS]).bytes_per_pixel
        self._set_record(words)
        i = self._info
        return int(i[_OFFSET_X]), int(i[_OFFSET_Y]), int(i[_SIZE_X]), int(i[_SIZE_Y])

    def set_format(self, fmt: Union[int, str]) -> None:
        """Asks the camera for another pixel format (a PX_FORMAT_ code or its name, "rgb24")."""
        if isinstance(fmt, str):
            codes = {name: code for code, name in FORMAT_NAMES.items()}
            if fmt not in codes:
                raise ValueError(f"unknown format {fmt!r}; one of {', '.join(codes)}")
            fmt = codes[fmt]
        self.set_info(1011, fmt)

    def set_info(self, item: int, value: int) -> None:
        """Changes one item of the info record (PXSetExchangeBufferInfo: 1002 size x, 1003 size y,
        1006 offset x, 1007 offset y, 1011 format, 1012 subsection)."""
        v = c_uint32(value)
        check(self._lib.PXSetExchangeBufferInfo(self._live(), self._id, item, byref(v)), "PXSetExchangeBufferInfo")
        self._refresh_info()

    def _set_record(self, words) -> None:
        check(self._lib.PXSetExchangeBufferInfoStruct(self._live(), self._id, ctypes.cast(words, ctypes.c_void_p)),
              "PXSetExchangeBufferInfoStruct")
        self._refresh_info()

    @property
    def client_count(self) -> int:
        """Clients of this buffer on the camera, this one included."""
        count = c_uint32(0)
        check(self._lib.PXGetNumberOfClient(self._live(), self._id, byref(count)), "PXGetNumberOfClient")
        return count.value

    def send(self, data: Union[bytes, bytearray, memoryview, np.ndarray, int, str]) -> None:
        """Sends input to the camera: bytes (or any buffer, an array's bytes as they are), an int
        as 4 little-endian bytes, a str as 8-bit characters without a terminating 0."""
        if isinstance(data, bool):
            raise TypeError("send takes bytes, an int or a str, not a bool")
        if isinstance(data, int):
            payload = int(data).to_bytes(4, "little", signed=data < 0)
        elif isinstance(data, str):
            payload = data.encode("latin-1")
        else:
            payload = memoryview(data).cast("B").tobytes()
        check(self._lib.PXSendInput(self._live(), self._id, len(payload), payload), "PXSendInput")

    def send_array(self, values) -> None:
        """Sends a one-dimensional array packed with its element type and count."""
        self.send(pack_array(values))

    def force(self) -> None:
        """From another thread: asks the camera to answer a waiting read at once."""
        check(self._lib.PXForceTransferInProgress(self._live(), self._id), "PXForceTransferInProgress")

    def cancel(self) -> None:
        """From another thread: ends a waiting read, which raises ``CancelledError``. The next read
        subscribes the buffer anew."""
        if self._handle:
            self._cancelled = True
            self._lib.PXCancelTransfers(self._handle)

    def close(self) -> None:
        """Ends the subscription; the buffer cannot be read any more."""
        if self._handle:
            handle, self._handle = self._handle, 0
            self._lib.PXClientTerminate(handle)

    def __enter__(self) -> Buffer:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<pellix.Buffer {self.id} {self.type_name} port {self.port}>"
