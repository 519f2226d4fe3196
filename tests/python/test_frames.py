"""Frames and records as the package hands them out, against what the simulator sent."""

import numpy as np
import pytest

import pellix
from conftest import assert_pattern, expected_image, label_mask

FORMATS = ["mono8", "syscolor8", "rgb24", "rgb32", "yuv16", "rgb16"]
FULL = (96, 72)


@pytest.fixture(scope="module")
def every_format():
    buffers = [f"F{i}:image:size={FULL[0]}x{FULL[1]}:format={fmt}" for i, fmt in enumerate(FORMATS)]
    with pellix.simulate(buffers) as cam, pellix.Client(cam.host, name="formats") as client:
        yield client


@pytest.mark.parametrize("index", range(len(FORMATS)), ids=FORMATS)
def test_every_format_has_its_shape_and_the_pixels_sent(every_format, index):
    buffer = every_format.subscribe(f"F{index}")
    waited = buffer.read()
    assert_pattern(waited, FORMATS[index], FULL, buffer.serial)
    at_once = buffer.read(force=True)
    assert_pattern(at_once, FORMATS[index], FULL, buffer.serial)
    buffer.close()


def test_a_window_and_one_the_camera_corrects():
    with pellix.simulate([f"IMG0:image:size={FULL[0]}x{FULL[1]}:format=rgb24"]) as cam, \
            pellix.Client(cam.host) as client:
        img = client.subscribe("IMG0")
        assert img.set_roi(16, 8, 40, 24) == (16, 8, 40, 24)
        assert img.info["data_size"] == 40 * 24 * 3
        assert_pattern(img.read(), "rgb24", FULL, img.serial, (16, 8, 40, 24))
        # Too wide for the image from there: the camera's own window is what the frame has.
        taken = img.set_roi(80, 0, 40, 10)
        assert taken != (80, 0, 40, 10) and taken[0] + taken[2] <= FULL[0]
        assert_pattern(img.read(), "rgb24", FULL, img.serial, taken)


def test_read_into_a_given_array():
    with pellix.simulate([f"IMG0:image:size={FULL[0]}x{FULL[1]}"]) as cam, pellix.Client(cam.host) as client:
        img = client.subscribe("IMG0")
        whole = np.zeros((FULL[1], FULL[0]), np.uint8)
        assert img.read(out=whole) is whole
        assert_pattern(whole, "mono8", FULL, img.serial)

        img.set_roi(8, 4, 32, 16)
        own = img.empty()  # the window's shape, the whole image's room behind it
        assert img.read(out=own) is own
        assert_pattern(own, "mono8", FULL, img.serial, (8, 4, 32, 16))
        tight = np.zeros((16, 32), np.uint8)  # no room for region replies: filled by a copy
        assert img.read(out=tight) is tight
        assert_pattern(tight, "mono8", FULL, img.serial, (8, 4, 32, 16))
        with pytest.raises(ValueError):
            img.read(out=np.zeros((32, 16), np.uint8).T)

        serials, frames = set(), []
        for frame in img.stream(3, reuse=True):
            frames.append(frame)
            serials.add(img.serial)
            assert_pattern(frame, "mono8", FULL, img.serial, (8, 4, 32, 16))
        assert len(serials) == 3 and frames[0] is frames[1] is frames[2]


def test_a_camera_that_answers_with_regions():
    with pellix.simulate([f"IMG0:image:size={FULL[0]}x{FULL[1]}:region"]) as cam, pellix.Client(cam.host) as client:
        img = client.subscribe("IMG0")
        for window, (x, y, w, h) in (((0, 0) + FULL, (24, 18, 48, 36)), ((8, 8, 64, 40), (16, 10, 32, 20))):
            img.set_roi(*window)
            frame = img.read()  # the middle quarter of the window, placed in the window
            assert frame.shape == (window[3], window[2])
            inside = np.zeros(frame.shape, bool)
            inside[y:y + h, x:x + w] = True
            compared = inside & ~label_mask(FULL, img.serial, window)
            assert (frame == expected_image("mono8", FULL, img.serial, window))[compared].all()
            assert not frame[~inside].any()
            kept = np.full(frame.shape, 7, np.uint8)
            assert img.read(out=kept) is kept and (kept[~inside] == 7).all()


def test_another_clients_change_of_geometry_is_read_at_its_new_size():
    with pellix.simulate([f"IMG0:image:size={FULL[0]}x{FULL[1]}"]) as cam, pellix.Client(cam.host) as client:
        mine, other = client.subscribe("IMG0"), client.subscribe("IMG0")
        mine.set_roi(0, 0, 32, 16)
        assert mine.read().shape == (16, 32)
        other.set_roi(0, 0, FULL[0], FULL[1])  # larger than my room: the library says so, read anew
        assert_pattern(mine.read(), "mono8", FULL, mine.serial)
        assert mine.info["size_x"] == FULL[0]
        other.set_format("rgb32")
        assert_pattern(mine.read(), "rgb32", FULL, mine.serial)
        other.set_roi(24, 16, 20, 10)  # smaller: the data tells
        assert_pattern(mine.read(), "rgb32", FULL, mine.serial, (24, 16, 20, 10))


def test_records_of_the_other_types(camera):
    with pellix.Client(camera.host) as client:
        histogram = client.subscribe("HIST").read()
        assert histogram.dtype == np.uint32 and histogram.shape == (256,)
        assert histogram.sum() == 640 * 480  # every pixel of IMG0 counted once
        text = client.subscribe("TEXT")
        assert text.read().startswith("Kelvo TEXT frame ")
        values = client.subscribe("ARR0").read()
        assert values.dtype == np.int32 and len(values) == 16 and (np.diff(values) == 1).all()
        doubles = camera.add_buffer("DBL0:array:vt=5:count=3")
        values = client.subscribe("DBL0", port=doubles).read(force=True)
        assert values.dtype == np.float64 and list(values % 1) == [0.5] * 3


def test_input_reaches_the_camera_in_its_packed_forms(camera):
    with pellix.Client(camera.host) as client:
        channel = client.subscribe("INP0")
        sizes = []
        for data, size in ((b"hello", 5), (7, 4), ("abc", 3), (np.arange(3, dtype=np.int16), 6)):
            at = camera.mark()
            channel.send(data)
            camera.expect(rf"CMD_SEND_INPUT INP0 {size} bytes", at=at)
            sizes.append(size)
        at = camera.mark()
        channel.send_array([1.0, 2.0])  # type code, count, two doubles
        camera.expect(r"CMD_SEND_INPUT INP0 24 bytes", at=at)
        assert pellix.frames.pack_array(np.array([1, -2], np.int16)) == bytes([2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 254, 255])
        with pytest.raises(TypeError):
            channel.read()
        with pytest.raises(TypeError):
            channel.send_array(np.zeros(2, np.int64))
