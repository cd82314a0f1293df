"""The wheel of the package: complete, with a correct RECORD, and installable without a network."""

from __future__ import annotations

import base64
import csv
import hashlib
import io
import os
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import scv
from scv import _library

PYTHON_FOLDER = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(PYTHON_FOLDER / "build_backend"))
import scv_wheel  # noqa: E402


def test_wheel_holds_the_package_and_a_correct_record(tmp_path: Path) -> None:
    name = scv_wheel.build_wheel(str(tmp_path))
    assert name == f"scv-{scv.__version__}-py3-none-any.whl"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        members = set(wheel.namelist())
        sources = {p.relative_to(PYTHON_FOLDER).as_posix()
                   for p in (PYTHON_FOLDER / "scv").iterdir() if p.suffix in (".py", ".typed")}
        info = f"scv-{scv.__version__}.dist-info"
        assert members == sources | {f"{info}/{n}" for n in
                                     ("METADATA", "WHEEL", "top_level.txt", "RECORD")}
        rows = list(csv.reader(io.StringIO(wheel.read(f"{info}/RECORD").decode())))
        assert {row[0] for row in rows} == members
        for member, digest, size in rows:
            if member.endswith("RECORD"):
                continue
            data = wheel.read(member)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
            assert digest == "sha256=" + expected.decode() and int(size) == len(data), member
        assert f"Version: {scv.__version__}" in wheel.read(f"{info}/METADATA").decode()


def test_pip_installs_offline(tmp_path: Path) -> None:
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True,
                      check=False).returncode != 0:
        pytest.skip("no pip for this interpreter")
    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--no-index", "--quiet",
                    "--disable-pip-version-check", "--target", str(target), str(PYTHON_FOLDER)],
                   check=True, env={**os.environ, "PIP_NO_CACHE_DIR": "1",
                                    "PIP_ROOT_USER_ACTION": "ignore"})
    sample = PYTHON_FOLDER.parent / "samples" / "sample.docx"
    probe = "import scv, sys; sys.stdout.buffer.write(scv.__file__.encode() + b'\\n' + " \
            f"scv.convert({str(sample)!r}))"
    completed = subprocess.run([sys.executable, "-c", probe], capture_output=True, check=True,
                               env={**os.environ, "PYTHONPATH": str(target),
                                    "SCV_LIBRARY": _library.locate()}, cwd=tmp_path)
    where, _, text = completed.stdout.partition(b"\n")
    assert where.decode().startswith(str(target))
    assert text == scv.convert(sample)
