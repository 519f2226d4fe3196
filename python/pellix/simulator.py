"""``pellix.simulate()``: a simulated camera in a child process, for scripts and tests.

The ``kelvo-sim`` program is started on free loopback ports with ``--interactive``; its log on
standard output tells the ports, which go into a temporary configuration file that
``VISTEL_CONFIG`` names while the simulator runs (the library reads its ports from there whenever
a client is made). Two threads read the program's output and error into the log that ``expect``
waits on; commands (a frame, a buffer added or withdrawn) go to its standard input.
"""

from __future__ import annotations

import collections
import os
import re
import subprocess
import tempfile
import threading
import time
import weakref
from typing import Iterable, Mapping, Optional, Sequence, Union

from . import _library

BufferSpec = Union[str, Mapping[str, object]]

_STARTED = re.compile(r"agent (\S+) on publish port (\d+), watchdog port (\d+), message port (\d+)")
_BUFFER = re.compile(r"buffer (.{1,4}) type (\d+) on port (\d+)$")
_TIME = re.compile(r"^\d\d:\d\d:\d\d\.\d\d\d ")
_LOG_LINES = 10000


class SimulatorError(RuntimeError):
    """kelvo-sim could not be started, or did not do what was asked in time."""


def _value(value: object) -> str:
    if isinstance(value, (tuple, list)):
        return ("x" if len(value) == 2 else ",").join(str(v) for v in value)
    return str(value)


def buffer_option(spec: BufferSpec) -> str:
    """The ``--buffer`` text of a buffer: a string is taken as it is
    ("CAM1:image:size=1920x1080:format=rgb32"); a mapping has ``id`` and ``type`` and the other
    settings, a pair as WxH (size) and four values as X,Y,W,H (window, region), True as a bare
    setting ({"id": "CAM1", "type": "image", "size": (1920, 1080), "region": True})."""
    if isinstance(spec, str):
        return spec
    settings = dict(spec)
    parts = [str(settings.pop("id")), str(settings.pop("type", "image"))]
    for key, value in settings.items():
        if value is True:
            parts.append(key)
        elif value is not False and value is not None:
            parts.append(f"{key}={_value(value)}")
    return ":".join(parts)


def fault_options(faults: Union[None, Mapping[str, object], Sequence[str]]) -> list[str]:
    """Command-line options of faults: {"wd_stop_after": 300, "refuse": "watchdog",
    "drop_mid_reply": True, "hostile": ["partc", "region"]}, or the options themselves."""
    if faults is None:
        return []
    if not isinstance(faults, Mapping):
        return [str(f) for f in faults]
    options = []
    for key, value in faults.items():
        option = "--" + key.replace("_", "-")
        for v in value if isinstance(value, (list, tuple)) else [value]:
            if v is True:
                options.append(option)
            elif v is not False and v is not None:
                options += [option, str(v)]
    return options


def _end(process: subprocess.Popen, files: list) -> None:
    """What a simulator left running or written when its script did not stop it."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    for path in files:
        if os.path.exists(path):
            os.unlink(path)


class Simulator:
    """A running kelvo-sim. Use it as a context manager, or call ``stop()``.

    Attributes:
        host: where it listens, "127.0.0.1".
        publish_port, watchdog_port, message_port: its ports.
        buffer_ports: the port of each buffer it published at the start, by identifier.
        agent_version: the agent version it plays, as "4.0.300".
        config_path: the configuration file that VISTEL_CONFIG names while it runs.
    """

    host = "127.0.0.1"

    def __init__(self, arguments: Sequence[str], program: Optional[str] = None, start_timeout: float = 10.0) -> None:
        self.program = program or _library.find_simulator()
        self._lines: collections.deque[str] = collections.deque(maxlen=_LOG_LINES)
        self._count = 0  # lines seen since the start, of which the deque keeps the last ones
        self._changed = threading.Condition()
        self._ended = 0
        self.config_path: Optional[str] = None
        self._previous_config: Optional[str] = None
        self._process = subprocess.Popen(
            [self.program, "--ephemeral", "--interactive", *arguments],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            text=True, bufsize=1, start_new_session=True,
        )
        # The program runs in a session of its own (Ctrl-C goes to the script, which stops it) and
        # is stopped when the script ends without stop().
        self._files: list[str] = []
        self._finalizer = weakref.finalize(self, _end, self._process, self._files)
        self._readers = [threading.Thread(target=self._read, args=(stream,), daemon=True, name="kelvo-sim-log")
                         for stream in (self._process.stdout, self._process.stderr)]
        for reader in self._readers:
            reader.start()
        try:
            started = self.expect(_STARTED, timeout=start_timeout, at=0)
        except SimulatorError:
            self.kill()
            self.stop()
            raise SimulatorError(f"{self.program} did not start: " + " / ".join(self.log()[-5:])) from None
        self.agent_version = started.group(1)
        self.publish_port, self.watchdog_port, self.message_port = (int(started.group(i)) for i in (2, 3, 4))
        self.buffer_ports = {m.group(1): int(m.group(3)) for m in map(_BUFFER.search, self.log()) if m}
        self._point_library()

    def _read(self, stream) -> None:
        for line in stream:
            with self._changed:
                self._lines.append(_TIME.sub("", line.rstrip("\n")))
                self._count += 1
                self._changed.notify_all()
        with self._changed:
            self._ended += 1
            self._changed.notify_all()

    def _point_library(self) -> None:
        fd, self.config_path = tempfile.mkstemp(prefix="pellix-sim-", suffix=".conf")
        self._files.append(self.config_path)
        with os.fdopen(fd, "w") as f:
            f.write(f"PublishPort={self.publish_port}\nWatchDogPort={self.watchdog_port}\n"
                    f"AsyncMsgPort={self.message_port}\n")
        self._previous_config = os.environ.get("VISTEL_CONFIG")
        os.environ["VISTEL_CONFIG"] = self.config_path

    def log(self) -> list[str]:
        """The program's recent log lines (standard output without the time, and its errors)."""
        with self._changed:
            return list(self._lines)

    def mark(self) -> int:
        """A place in the log: ``expect(..., at=mark)`` looks only at lines that came after it."""
        with self._changed:
            return self._count

    def expect(self, pattern: Union[str, re.Pattern], timeout: float = 10.0, at: Optional[int] = None) -> re.Match:
        """Waits for a log line that matches ``pattern`` (a regular expression), among the lines
        after ``at`` (a ``mark()``; default: any line still kept), and returns its match. Raises
        SimulatorError when none comes within ``timeout`` seconds or the program ends."""
        regex = re.compile(pattern) if isinstance(pattern, str) else pattern
        deadline = time.monotonic() + timeout
        seen = at if at is not None else 0
        with self._changed:
            while True:
                first = self._count - len(self._lines)
                for line in list(self._lines)[max(seen - first, 0):]:
                    match = regex.search(line)
                    if match:
                        return match
                seen = self._count
                left = deadline - time.monotonic()
                if self._ended == len(self._readers) or left <= 0:
                    raise SimulatorError(f"kelvo-sim logged no line matching {regex.pattern!r}")
                self._changed.wait(left)

    def _command(self, line: str) -> None:
        if self._process.poll() is not None:
            raise SimulatorError("kelvo-sim is not running")
        self._process.stdin.write(line + "\n")
        self._process.stdin.flush()

    def frame(self) -> None:
        """Makes one frame of every buffer now (for a simulator started with ``frame_interval=0``)."""
        self._command("frame")

    def add_buffer(self, spec: BufferSpec, timeout: float = 10.0) -> int:
        """Publishes one more buffer and returns its port; the library's clients hear of the change."""
        option = buffer_option(spec)
        at = self.mark()
        self._command("add " + option)
        match = self.expect(r"^added (.{1,4}) on port (\d+)$|^kelvo-sim: (.*)$", timeout, at)
        if match.group(3):
            raise SimulatorError(match.group(3))
        self.buffer_ports[match.group(1)] = int(match.group(2))
        return int(match.group(2))

    def remove_buffer(self, buffer_id: str, timeout: float = 10.0) -> None:
        """Withdraws a buffer."""
        at = self.mark()
        self._command("remove " + buffer_id)
        match = self.expect(rf"buffer {re.escape(buffer_id)} withdrawn|^kelvo-sim: (.*)$", timeout, at)
        if match.group(1):
            raise SimulatorError(match.group(1))
        self.buffer_ports.pop(buffer_id, None)

    @property
    def running(self) -> bool:
        return self._process.poll() is None

    def kill(self) -> None:
        """Ends the program at once, as a camera that loses its power (its connections just end)."""
        if self.running:
            self._process.kill()
        self._process.wait()

    def stop(self) -> None:
        """Stops the program cleanly (SIGTERM; killed when it has not ended after 10 s), removes its
        configuration file and gives VISTEL_CONFIG back its earlier value."""
        self._finalizer()
        for reader in self._readers:
            reader.join()
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            stream.close()
        if self.config_path is not None:
            if os.environ.get("VISTEL_CONFIG") == self.config_path:
                if self._previous_config is None:
                    del os.environ["VISTEL_CONFIG"]
                else:
                    os.environ["VISTEL_CONFIG"] = self._previous_config
            self.config_path = None

    def __enter__(self) -> Simulator:
        return self

    def __exit__(self, *exc) -> None:
        self.stop()

    def __repr__(self) -> str:
        state = "running" if self.running else "stopped"
        return f"<pellix.Simulator {state}, publish port {getattr(self, 'publish_port', '?')}>"


def simulate(buffers: Optional[Iterable[BufferSpec]] = None,
             faults: Union[None, Mapping[str, object], Sequence[str]] = None, *,
             fps: Optional[int] = None, frame_interval: Optional[int] = None,
             agent_version: Optional[str] = None, verbosity: int = 1, args: Sequence[str] = (),
             program: Optional[str] = None, start_timeout: float = 10.0) -> Simulator:
    """Starts a simulated camera (the kelvo-sim program) on free ports and points the library at
    it, until ``stop()`` or the end of the ``with`` block.

    Args:
        buffers: the buffers it publishes instead of its default set (IMG0 640x480 mono8, HIST,
            TEXT, ARR0, INP0), each as ``buffer_option`` takes it.
        faults: faults for testing clients, as ``fault_options`` takes them.
        fps, frame_interval: frames per second, or milliseconds between frames (0: frames only on
            ``Simulator.frame()``). Default 25 frames a second.
        agent_version: the agent version it plays ("2.1.0": an old agent).
        verbosity: 1 logs connections, 2 every command, 3 every reply.
        args: more kelvo-sim options.
        program: the kelvo-sim to run (default: next to the library, then on PATH).

    The library reads the ports of a simulator when a client is made: a second simulator started
    while one runs takes over for the clients made from then on.
    """
    arguments = ["--verbosity", str(max(int(verbosity), 1))]
    for spec in buffers or ():
        arguments += ["--buffer", buffer_option(spec)]
    if fps is not None:
        arguments += ["--fps", str(fps)]
    if frame_interval is not None:
        arguments += ["--frame-interval", str(frame_interval)]
    if agent_version is not None:
        arguments += ["--agent-version", str(agent_version)]
    arguments += fault_options(faults)
    arguments += list(args)
    return Simulator(arguments, program, start_timeout)
