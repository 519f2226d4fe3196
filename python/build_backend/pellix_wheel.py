"""The build backend of the pellix package: a wheel of the pellix/ folder, and nothing else.

pip runs it in an isolated environment that holds only what [build-system] requires, which is
nothing: there is no package index to fetch a build tool from on a machine whose only registry
is Debian's. The metadata comes from pyproject.toml's [project] table; an editable install is a
.pth file that puts this folder on the path.
"""

import ast
import base64
import hashlib
import io
import os
import tarfile
import zipfile
from pathlib import Path

try:
    import tomllib
except ModuleNotFoundError:  # Python before 3.11 reads the few lines it needs by hand
    tomllib = None

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = "pellix"
TAG = "py3-none-any"


def _project() -> dict:
    text = (ROOT / "pyproject.toml").read_text()
    if tomllib is not None:
        return tomllib.loads(text)["project"]
    project, inside = {}, False
    for line in text.splitlines():
        if line.startswith("["):
            inside = line.strip() == "[project]"
        elif inside and "=" in line:
            key, value = (part.strip() for part in line.split("=", 1))
            project[key] = ast.literal_eval(value)  # strings and lists of strings
    return project


def _metadata() -> str:
    p = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}",
             f"Summary: {p['description']}", f"Requires-Python: {p['requires-python']}"]
    lines += [f"Requires-Dist: {d}" for d in p.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def _dist_info() -> str:
    p = _project()
    return f"{p['name']}-{p['version']}.dist-info"


def _wheel_name() -> str:
    p = _project()
    return f"{p['name']}-{p['version']}-{TAG}.whl"


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(folder: str, files: dict) -> str:
    info = _dist_info()
    files[f"{info}/METADATA"] = _metadata().encode()
    files[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: pellix_wheel\nRoot-Is-Purelib: true\nTag: {TAG}\n").encode()
    record = [_record_line(name, data) for name, data in files.items()] + [f"{info}/RECORD,,"]
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
    name = _wheel_name()
    with zipfile.ZipFile(os.path.join(folder, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for member, data in files.items():
            wheel.writestr(member, data)
    return name


def _package_files() -> dict:
    files = {}
    for path in sorted((ROOT / PACKAGE).rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts:
            files[path.relative_to(ROOT).as_posix()] = path.read_bytes()
    return files


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    folder = Path(metadata_directory) / _dist_info()
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "METADATA").write_text(_metadata())
    return folder.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, {f"_{PACKAGE}_editable.pth": (str(ROOT) + "\n").encode()})


def build_sdist(sdist_directory, config_settings=None):
    p = _project()
    base = f"{p['name']}-{p['version']}"
    name = f"{base}.tar.gz"
    members = ["pyproject.toml"] + [m for m in _package_files()] + ["build_backend/pellix_wheel.py"]
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as sdist:
        for member in members:
            sdist.add(ROOT / member, arcname=f"{base}/{member}")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        sdist.addfile(info, io.BytesIO(data))
    return name
