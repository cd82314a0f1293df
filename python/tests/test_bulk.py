"""Bulk conversion: the command line's outputs, resumption, atomic writes, dying workers."""

from __future__ import annotations

import io
import json
import os
import shutil
import signal
import subprocess
import sys
import textwrap
from pathlib import Path
from typing import Dict, List

import pytest

import scv
import scv.bulk
from conftest import CliRun, samples


def read_report(path: Path) -> Dict[str, dict]:
    lines = [json.loads(line) for line in path.read_text().splitlines()]
    by_path = {line["path"]: line for line in lines}
    assert len(by_path) == len(lines), "a document reported twice"
    return by_path


def test_corpus_gives_the_command_lines_outputs(corpus: Path, cli_outputs: CliRun,
                                                tmp_path: Path,
                                                capsys: pytest.CaptureFixture[str]) -> None:
    destination = tmp_path / "texts"
    status = scv.bulk.main([str(corpus), str(destination), "-j2", "--progress", "plain"])
    report = read_report(destination / scv.bulk.REPORT_NAME)
    cli_outputs.check(destination, {p: r["result"] for p, r in report.items()})
    assert status == (1 if any(c != 0 for c in cli_outputs.results.values()) else 0)
    for path, line in report.items():
        assert line["message"] == scv.result_message(line["result"])
        if line["result"] == 0:
            assert line["bytes"] == (destination / (path + ".txt")).stat().st_size
    out = capsys.readouterr()
    assert f"{len(report)} files: {len(report)} processed" in out.out
    assert f"{len(report)}/{len(report)} files" in out.err  # the plain counter's last line
    # No temporary file is left behind.
    assert not [p for p in destination.rglob(".*") if p.is_file()]


def make_tree(root: Path) -> Dict[str, int]:
    """A small collection: the samples in two folders, a damaged file, files of no type."""
    expected: Dict[str, int] = {}
    for index, sample in enumerate(samples()):
        folder = root / ("a" if index % 2 else "b b")  # a blank in a folder name
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy(sample, folder / sample.name)
        expected[str(Path(folder.name) / sample.name)] = 0
    (root / "a" / "damaged.xls").write_bytes(b"\x00" * 600)
    expected["a/damaged.xls"] = -5
    (root / "a" / "notes.txt").write_text("not a document")
    (root / "archive.zip").write_bytes(b"PK\x05\x06" + b"\x00" * 18)
    return expected


def test_rerun_converts_only_what_is_missing(tmp_path: Path) -> None:
    source, destination = tmp_path / "src", tmp_path / "dst"
    expected = make_tree(source)
    run = [str(source), str(destination), "-j2", "--progress", "none"]
    assert scv.bulk.main(run) == 1  # the damaged file fails
    first = read_report(destination / scv.bulk.REPORT_NAME)
    assert {p: r["result"] for p, r in first.items()} == expected
    # An interrupted earlier run: a text that was never finished, a temporary file left over,
    # and a text that was edited by hand since.
    os.unlink(destination / "a" / "sample.docx.txt")
    (destination / "a" / ".sample.docx.txt.1234.5678.tmp").write_bytes(b"partial")
    kept = destination / "b b" / "sample.doc.txt"
    kept.write_bytes(b"edited")
    assert scv.bulk.main(run) == 1
    second = read_report(destination / scv.bulk.REPORT_NAME)
    assert set(second) == set(expected)
    assert second["a/sample.docx"]["result"] == 0
    assert second["a/damaged.xls"]["result"] == -5  # tried again
    others = {p: r["result"] for p, r in second.items()
              if p not in ("a/sample.docx", "a/damaged.xls")}
    assert set(others.values()) == {1}
    assert second["b b/sample.doc"]["bytes"] == len(b"edited")
    assert kept.read_bytes() == b"edited"
    assert (destination / "a" / "sample.docx.txt").read_bytes() == scv.convert(
        source / "a" / "sample.docx")


def test_destination_inside_the_source_is_not_searched(tmp_path: Path) -> None:
    expected = make_tree(tmp_path)
    inside = tmp_path / "texts"
    assert scv.bulk.main([str(tmp_path), str(inside), "-j1", "--progress", "none"]) == 1
    # A document inside the destination folder is not input.
    shutil.copy(samples()[0], inside / samples()[0].name)
    assert sorted(scv.bulk.find_documents(str(tmp_path), str(inside))) == sorted(expected)
    # Beside its sources, as the command-line recipe writes them: the texts are of no type.
    assert scv.bulk.main([str(tmp_path), str(tmp_path), "-j1", "--progress", "none"]) == 1
    report = read_report(tmp_path / scv.bulk.REPORT_NAME)
    assert {p for p in report if not p.startswith("texts/")} == set(expected)


def test_write_new_file(tmp_path: Path) -> None:
    umask = os.umask(0o022)
    os.umask(umask)
    target = tmp_path / "deep" / "er" / "a.txt"
    assert scv.bulk.write_new_file(str(target), b"text") == scv.OK
    assert target.read_bytes() == b"text"
    assert target.stat().st_mode & 0o777 == 0o666 & ~umask
    assert scv.bulk.write_new_file(str(target), b"other") == scv.EXISTS
    assert target.read_bytes() == b"text"
    dangling = tmp_path / "link.txt"
    dangling.symlink_to(tmp_path / "nowhere")
    assert scv.bulk.write_new_file(str(dangling), b"x") == scv.EXISTS
    assert scv.bulk.write_new_file(str(target / "under-a-file.txt"), b"x") == scv.E_CREATE
    assert sorted(p.name for p in tmp_path.rglob("*")) == ["a.txt", "deep", "er", "link.txt"]


def test_failed_write_leaves_nothing(tmp_path: Path) -> None:
    # A file-size limit stops the write half-way, as a full disk does.
    program = textwrap.dedent(f"""
        import resource, signal, sys
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        import scv.bulk
        sys.exit(-scv.bulk.write_new_file({str(tmp_path / "big.txt")!r}, b"x" * 100000))
    """)
    completed = subprocess.run([sys.executable, "-c", program], check=False,
                               env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path),
                                    "PYTHONDONTWRITEBYTECODE": "1"})
    assert completed.returncode == -scv.E_WRITE
    assert list(tmp_path.iterdir()) == []


def convert_or_die(source: str, destination: str, relative: str, codepage: int,
                   special: int) -> scv.bulk.Record:
    """A worker's conversion that kills its process on documents named crash*."""
    if Path(relative).name.startswith("crash"):
        os.kill(os.getpid(), signal.SIGKILL)
    return scv.bulk.convert_one(source, destination, relative, codepage, special)


def test_a_dying_worker_costs_only_its_document(tmp_path: Path) -> None:
    source, destination = tmp_path / "src", tmp_path / "dst"
    expected = make_tree(source)
    for name in ("crash1.doc", "crash2.doc", "crash3.doc"):
        shutil.copy(samples()[0], source / name)
    documents = scv.bulk.find_documents(str(source), str(destination))
    records = list(scv.bulk.run_workers(str(source), str(destination), documents, 2,
                                        convert=convert_or_die))
    results = {r.path: r.result for r in records}
    assert len(records) == len(documents) == len(expected) + 3
    assert results == {**expected, "crash1.doc": -5, "crash2.doc": -5, "crash3.doc": -5}
    crashed = [r for r in records if r.path.startswith("crash")]
    assert all("signal 9" in r.message for r in crashed)
    assert not (destination / "crash1.doc.txt").exists()


def test_plain_progress() -> None:
    stream = io.StringIO()
    progress = scv.bulk.PlainProgress(3, stream, interval=3600)
    for _ in range(3):
        progress.update()
    progress.close()
    lines = stream.getvalue().splitlines()
    assert lines[0].startswith("1/3 files, ") and lines[-1].startswith("3/3 files, ")
    assert all(line.endswith(" files/s") for line in lines)


@pytest.mark.parametrize("argv", [["-j0"], ["--codepage", "x"], ["--progress", "fancy"]])
def test_rejected_command_lines(tmp_path: Path, argv: List[str]) -> None:
    with pytest.raises(SystemExit) as caught:
        scv.bulk.main([str(tmp_path), str(tmp_path / "out"), *argv])
    assert caught.value.code == 2


def test_missing_source_is_rejected(tmp_path: Path) -> None:
    with pytest.raises(SystemExit) as caught:
        scv.bulk.main([str(tmp_path / "none"), str(tmp_path / "out")])
    assert caught.value.code == 2
    assert not (tmp_path / "out").exists()


def test_module_runs_from_the_command_line(tmp_path: Path) -> None:
    make_tree(tmp_path / "src")
    completed = subprocess.run(
        [sys.executable, "-m", "scv.bulk", str(tmp_path / "src"), str(tmp_path / "dst"), "-j2"],
        capture_output=True, text=True, check=False,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert completed.returncode == 1, completed.stderr
    assert "Input file format not correct" in completed.stdout
    assert (tmp_path / "dst" / "a" / "sample.docx.txt").exists()


def test_missing_library_is_reported(tmp_path: Path) -> None:
    make_tree(tmp_path / "src")
    completed = subprocess.run(
        [sys.executable, "-m", "scv.bulk", str(tmp_path / "src"), str(tmp_path / "dst")],
        capture_output=True, text=True, check=False,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path),
             "SCV_LIBRARY": str(tmp_path / "none" / "libscv.so")})
    assert completed.returncode == 3
    assert "cannot load" in completed.stderr and "Traceback" not in completed.stderr


def test_all_text_reaches_the_workers(tmp_path: Path) -> None:
    fixtures = Path(__file__).resolve().parents[2] / "tests" / "fixtures" / "all-text"
    source = tmp_path / "src"
    source.mkdir()
    for name in ("deck.pptx", "stories.docx"):
        shutil.copy(fixtures / name, source / name)
    assert scv.bulk.main([str(source), str(tmp_path / "all"), "-j2", "--progress", "none",
                          "--all-text"]) == 0
    assert scv.bulk.main([str(source), str(tmp_path / "plain"), "-j1", "--progress", "none"]) == 0
    for name in ("deck.pptx", "stories.docx"):
        assert ((tmp_path / "all" / f"{name}.txt").read_bytes() ==
                scv.convert(source / name, all_text=True))
        assert ((tmp_path / "plain" / f"{name}.txt").read_bytes() == scv.convert(source / name))
