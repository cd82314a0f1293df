"""A build backend (PEP 517, PEP 660) for the scv package, with the standard library only.

pip calls it for `pip install ./python`; since it needs no other package, the install works
offline. It builds a pure-Python wheel of the folder scv/, an editable wheel that points at
the checkout, and a source archive.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional, Tuple

HERE = Path(__file__).resolve().parent.parent  # the folder of pyproject.toml
PACKAGE = "scv"

SUMMARY = "Document-to-text conversion over libscv, with bulk and cluster conversion"
DESCRIPTION = """\
Python bindings (ctypes) for libscv, the library of the scvcmd command line: converts Word,
PowerPoint and Excel documents (97-2003 and Office Open XML), PDF, HTML, RTF and Windows Help
files to plain text in a chosen code page. python3 -m scv.bulk converts a collection with
worker processes and a progress display; scv.cluster does it on a Dask cluster.

Needs libscv.so.3 (the Debian package libscv3) or SCV_LIBRARY naming the library.
"""


def _version() -> str:
    """The version stated in scv/__init__.py, the one place it is written."""
    text = (HERE / PACKAGE / "__init__.py").read_text(encoding="utf-8")
    found = re.search(r'^__version__ = "([^"]+)"$', text, re.MULTILINE)
    if found is None:
        raise RuntimeError("scv/__init__.py states no __version__")
    return found.group(1)


def _metadata() -> str:
    """The METADATA file (core metadata 2.1)."""
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {PACKAGE}",
        f"Version: {_version()}",
        f"Summary: {SUMMARY}",
        "Requires-Python: >=3.8",
        "Provides-Extra: progress",
        "Requires-Dist: tqdm; extra == \"progress\"",
        "Provides-Extra: cluster",
        "Requires-Dist: distributed; extra == \"cluster\"",
        "Description-Content-Type: text/plain",
    ]
    return "\n".join(lines) + "\n\n" + DESCRIPTION


def _dist_info() -> str:
    return f"{PACKAGE}-{_version()}.dist-info"


def _wheel_name() -> str:
    return f"{PACKAGE}-{_version()}-py3-none-any.whl"


def _digest(data: bytes) -> str:
    """A RECORD hash: sha256, URL-safe base64 without padding."""
    encoded = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=" + encoded.decode()


def _package_files() -> List[Tuple[str, bytes]]:
    """The package's files as (name in the wheel, content), in a stable order."""
    files = []
    for path in sorted((HERE / PACKAGE).rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts and path.suffix != ".pyc":
            files.append((path.relative_to(HERE).as_posix(), path.read_bytes()))
    return files


def _dist_info_files(tag: str = "py3-none-any") -> List[Tuple[str, bytes]]:
    info = _dist_info()
    wheel = f"Wheel-Version: 1.0\nGenerator: scv_wheel\nRoot-Is-Purelib: true\nTag: {tag}\n"
    return [
        (f"{info}/METADATA", _metadata().encode()),
        (f"{info}/WHEEL", wheel.encode()),
        (f"{info}/top_level.txt", f"{PACKAGE}\n".encode()),
    ]


def _write_wheel(directory: str, files: List[Tuple[str, bytes]]) -> str:
    """Writes the wheel with its RECORD; returns its file name."""
    files = files + _dist_info_files()
    record = "".join(f"{name},{_digest(data)},{len(data)}\n" for name, data in files)
    record_name = f"{_dist_info()}/RECORD"
    record += f"{record_name},,\n"
    name = _wheel_name()
    with zipfile.ZipFile(os.path.join(directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for member, data in files + [(record_name, record.encode())]:
            info = zipfile.ZipInfo(member, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return name


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    """Nothing to install before building."""
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    """Nothing to install before building."""
    return []


def get_requires_for_build_editable(config_settings: Optional[Dict[str, str]] = None
                                    ) -> List[str]:
    """Nothing to install before building."""
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Optional[Dict[str, str]] = None) -> str:
    """Writes the .dist-info folder pip reads before it builds."""
    folder = Path(metadata_directory) / _dist_info()
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in _dist_info_files():
        (Path(metadata_directory) / name).write_bytes(data)
    return folder.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                metadata_directory: Optional[str] = None) -> str:
    """The wheel of the package."""
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    """A wheel whose .pth file puts the checkout's python/ folder on the path."""
    return _write_wheel(wheel_directory, [(f"__editable__.{PACKAGE}.pth", f"{HERE}\n".encode())])


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, str]] = None) -> str:
    """The source archive: pyproject.toml, the backend, the package and its tests."""
    base = f"{PACKAGE}-{_version()}"
    name = f"{base}.tar.gz"
    members = ["pyproject.toml", "build_backend/scv_wheel.py"]
    members += [n for n, _ in _package_files()]
    members += sorted(p.relative_to(HERE).as_posix() for p in (HERE / "tests").glob("*.py"))
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as archive:
        for member in members:
            data = (HERE / member).read_bytes()
            info = tarfile.TarInfo(f"{base}/{member}")
            info.size = len(data)
            info.mode = 0o644
            archive.addfile(info, io.BytesIO(data))
        pkg_info = _metadata().encode()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(pkg_info)
        info.mode = 0o644
        archive.addfile(info, io.BytesIO(pkg_info))
    return name
