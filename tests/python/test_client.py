"""Clients, failures and their exceptions, cancelled and interrupted reads."""

import os
import re
import select
import signal
import time

import numpy as np
import pytest

import pellix
from conftest import REPO, when_logged

WAITING_READ = r"CMD_GET_TRANSFER_BUFFER_DATA IMG0 force 0"


def test_constants_are_those_of_the_header_and_errors_carry_the_librarys_text():
    header = (REPO / "include" / "pellix" / "pellix.h").read_text()
    defined = dict(re.findall(r"#define\s+(PX_[A-Z0-9_]+)\s+(0x[0-9A-Fa-f]+|\d+)u", header))
    ours = {name: getattr(pellix.constants, name) for name in dir(pellix.constants) if name.startswith("PX_")}
    assert {name for name in ours if name != "PX_VERSION"} <= set(defined)
    for name, value in defined.items():
        if name != "PX_VERSION":
            assert ours.get(name) == int(value, 0), name

    lost = pellix.errors.error_for(pellix.PX_WATCHDOG_LOST, "PXGetExchangeBufferData")
    assert isinstance(lost, pellix.WatchdogLostError) and isinstance(lost, pellix.WatchdogError)
    assert lost.code == 3010 and lost.text.startswith("PX_WATCHDOG_LOST: ")
    assert str(lost) == "PXGetExchangeBufferData: " + lost.text
    assert type(pellix.errors.error_for(2030)) is pellix.Error
    assert pellix.result_text(17) == "agent result 17"
    assert pellix.library_version() == "4.0.352.1"
    with pytest.raises(pellix.SimulatorError, match="unknown option"):
        pellix.simulate(args=["--bogus"])


def test_buffer_list_subscriptions_and_closing(camera):
    with pellix.Client(camera.host, name="script") as client:
        entries = client.buffers()
        assert {e.id: e.port for e in entries} == camera.buffer_ports
        assert [(e.id, e.type_name) for e in entries] == [
            ("IMG0", "image"), ("HIST", "histogram"), ("TEXT", "text"), ("ARR0", "array"), ("INP0", "input")]
        with pytest.raises(KeyError):
            client.subscribe("NOPE")
        img = client.subscribe("IMG0")
        camera.expect(r'CMD_SET_TRANSFER_BUFFER IMG0 wait 0 client "script"')
        # A connection's commands are served in turn: once a read is answered, the camera has
        # counted the subscription made before it.
        img.read(force=True)
        assert img.client_count == 1
        second = client.subscribe("IMG0")
        second.read(force=True)
        assert img.client_count == 2
        second.close()
        assert client.watchdog_status == 0

        changed = client.refresh_fd()
        camera.add_buffer({"id": "CAM1", "type": "image", "size": (32, 16), "format": "rgb24"})
        assert select.select([changed], [], [], 30)[0] == [changed]
        os.read(changed, 8)
        assert client.subscribe("CAM1").read(force=True).shape == (16, 32, 3)
        camera.remove_buffer("HIST")
        assert select.select([changed], [], [], 30)[0] == [changed]
        assert [e.id for e in client.buffers()] == ["IMG0", "TEXT", "ARR0", "INP0", "CAM1"]
    assert client.handle == 0
    with pytest.raises(ValueError):
        img.read()
    with pytest.raises(ValueError):
        client.buffers()


def test_watchdog_that_stops_signalling_loses_the_camera():
    with pellix.simulate(faults={"wd_stop_after": 300}, frame_interval=0) as cam:
        with pellix.Client(cam.host, timeout=1.0, signal_delay=0.1, signal_timeout=0.5, retries=5) as client:
            img = client.subscribe("IMG0")
            assert img.read(force=True).shape == (480, 640)
            with pytest.raises(pellix.WatchdogLostError) as lost:
                img.read()  # no frames come: the time-out asks the watchdog
            assert lost.value.code == pellix.PX_WATCHDOG_LOST
            assert client.watchdog_status == pellix.PX_WATCHDOG_LOST
            with pytest.raises(pellix.WatchdogLostError):
                img.read(force=True)  # kept by the connection


def test_refused_watchdog_refused_resources_and_an_old_agent():
    with pellix.simulate(faults={"refuse": "watchdog"}) as cam, pellix.Client(cam.host) as client:
        with pytest.raises(pellix.NoWatchdogError):
            client.subscribe("IMG0")
        assert client.watchdog_status == pellix.PX_NO_WATCHDOG
    with pellix.simulate(faults=["--resource-zero"]) as cam, pellix.Client(cam.host) as client:
        with pytest.raises(pellix.NoResourcesError) as refused:
            client.subscribe("IMG0")
        assert "PX_NO_RESOURCES" in str(refused.value)
    with pellix.simulate(agent_version="2.1.0") as cam, pellix.Client(cam.host) as client:
        img = client.subscribe("IMG0")
        assert img.read(force=True).shape == (480, 640)
        with pytest.raises(pellix.NotSupportedError):
            img.client_count


def test_a_killed_camera_is_a_communication_error_within_the_time_out():
    with pellix.simulate(frame_interval=0, verbosity=2) as cam, pellix.Client(cam.host, timeout=10.0) as client:
        img = client.subscribe("IMG0")
        killer = when_logged(cam, WAITING_READ, cam.kill)
        start = time.monotonic()
        with pytest.raises(pellix.CommunicationError) as failed:
            img.read()
        killer.join()
        assert time.monotonic() - start < 10.0
        assert failed.value.code == pellix.PX_COMM_ERROR
        with pytest.raises(pellix.CommunicationError):
            img.read(force=True)


def test_force_and_cancel_from_another_thread_end_a_waiting_read():
    with pellix.simulate(frame_interval=0, verbosity=2) as cam, pellix.Client(cam.host, timeout=None) as client:
        img = client.subscribe("IMG0")
        forcer = when_logged(cam, WAITING_READ, img.force)
        assert img.read().shape == (480, 640)  # no frame comes: the current one, at once
        forcer.join()
        canceller = when_logged(cam, WAITING_READ, img.cancel)
        with pytest.raises(pellix.CancelledError):
            img.read()
        canceller.join()
        assert img.read(force=True).shape == (480, 640)  # subscribed anew


def test_ctrl_c_ends_a_waiting_stream_at_once():
    with pellix.simulate(frame_interval=0, verbosity=2) as cam, pellix.Client(cam.host, timeout=60.0) as client:
        img = client.subscribe("IMG0")
        wakeup = signal.set_wakeup_fd(-1)
        signal.set_wakeup_fd(wakeup)
        interrupter = when_logged(cam, WAITING_READ, lambda: os.kill(os.getpid(), signal.SIGINT))
        start = time.monotonic()
        frames = []
        with pytest.raises(KeyboardInterrupt):
            for frame in img.stream(5):
                frames.append(frame)
        interrupter.join()
        assert frames == [] and time.monotonic() - start < 30.0
        assert signal.set_wakeup_fd(wakeup) == wakeup  # given back
        assert isinstance(img.read(force=True), np.ndarray)
