"""`python3 -m pellix ls|grab` as a user runs them, and `pip install ./python` into a fresh
environment followed by the README's example, with the library and kelvo-sim of an installed prefix."""

import os
import shutil
import socket
import subprocess
import sys
import textwrap

import numpy as np

import pellix
from conftest import REPO


def run(args, env=None, cwd=None, python=sys.executable):
    environment = dict(os.environ, PYTHONPATH=str(REPO / "python"))
    environment.update(env or {})
    return subprocess.run([python, *args], capture_output=True, text=True, env=environment, cwd=cwd, timeout=120)


def test_ls_and_grab_on_the_simulated_camera(tmp_path):
    listing = run(["-m", "pellix", "ls"])
    assert listing.returncode == 0, listing.stderr
    assert "watchdog: receiving signals" in listing.stdout
    assert "IMG0  image      port" in listing.stdout
    assert "640x480 at 0,0 of 640x480, mono8, 307200 bytes" in listing.stdout

    grab = run(["-m", "pellix", "grab", "-n", "2", "-o", str(tmp_path), "--format", "pnm", "--roi", "10,20,64,32"])
    assert grab.returncode == 0, grab.stderr
    picture = (tmp_path / "IMG0-0002.pgm").read_bytes()
    assert picture.startswith(b"P5\n64 32\n255\n") and len(picture) == len(b"P5\n64 32\n255\n") + 64 * 32
    grab = run(["-m", "pellix", "grab", "-b", "ARR0", "-n", "1", "-o", str(tmp_path)])
    assert grab.returncode == 0, grab.stderr
    assert np.load(tmp_path / "ARR0-0001.npy").dtype == np.int32


def test_failures_end_with_the_librarys_text_and_a_status(tmp_path):
    with socket.socket() as s:  # a port the system handed out and took back: nothing listens
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    config = tmp_path / "vistel.conf"
    config.write_text(f"PublishPort={port}\nWatchDogPort={port}\nAsyncMsgPort={port}\n")
    failed = run(["-m", "pellix", "ls", "127.0.0.1"], env={"VISTEL_CONFIG": str(config)})
    assert failed.returncode == 1
    assert "PX_COMM_ERROR: communication with the camera's agent failed" in failed.stderr
    missing = run(["-m", "pellix", "grab", "-b", "NOPE", "-o", str(tmp_path)])
    assert missing.returncode == 1 and "no buffer 'NOPE'" in missing.stderr
    assert run(["-m", "pellix", "grab", "-n", "0"]).returncode == 2


def test_a_script_that_forgets_to_stop_its_simulator_leaves_nothing_behind():
    ended = run(["-c", "import pellix; cam = pellix.simulate(); print(cam._process.pid, cam.config_path)"])
    assert ended.returncode == 0, ended.stderr
    pid, config = ended.stdout.split()
    assert not os.path.exists(config)
    try:
        os.kill(int(pid), 0)
        alive = True
    except ProcessLookupError:
        alive = False
    assert not alive


EXAMPLE = textwrap.dedent("""
    import pellix
    with pellix.simulate() as cam:
        with pellix.Client(cam.host, name="script") as client:
            print(sorted(b.id for b in client.buffers()))
            img = client.subscribe("IMG0")
            frame = img.read()
            print(frame.shape, frame.dtype, pellix.library_path(), pellix.find_simulator())
    """)


def test_pip_install_into_a_fresh_environment_over_an_installed_prefix(tmp_path):
    # The library and the simulator as an installed prefix has them (lib/ and bin/).
    build = pellix.library_path().parent.parent
    prefix = tmp_path / "prefix"
    installed = subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)], capture_output=True,
                               text=True)
    assert installed.returncode == 0, installed.stderr
    (prefix / "bin").mkdir(exist_ok=True)
    shutil.copy(build / "sim" / "kelvo-sim", prefix / "bin" / "kelvo-sim")

    venv = tmp_path / "env"
    made = subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)],
                          capture_output=True, text=True)
    assert made.returncode == 0, made.stderr
    pip = subprocess.run([str(venv / "bin" / "pip"), "install", "--disable-pip-version-check", str(REPO / "python")],
                         capture_output=True, text=True, cwd=tmp_path)
    assert pip.returncode == 0, pip.stdout + pip.stderr

    env = {key: value for key, value in os.environ.items() if not key.startswith(("PELLIX_", "PYTHON"))}
    env["LD_LIBRARY_PATH"] = str(prefix / "lib")
    env["PATH"] = "/usr/bin:/bin"
    (tmp_path / "example.py").write_text(EXAMPLE)
    ran = subprocess.run([str(venv / "bin" / "python"), "example.py"], capture_output=True, text=True, env=env,
                         cwd=tmp_path, timeout=120)
    assert ran.returncode == 0, ran.stderr
    names, shape = ran.stdout.splitlines()
    assert names == "['ARR0', 'HIST', 'IMG0', 'INP0', 'TEXT']"
    assert shape.startswith("(480, 640) uint8 ")
    assert f"{prefix}/lib/libpellix.so.4" in shape and f"{prefix}/bin/kelvo-sim" in shape
