"""What the tests share: the build under test, the documents, and the command line's outputs.

SCV_LIBRARY names the library under test (scripts/test-python sets it to a build's bin/
folder); SCVCMD the command line of the same build (default: scvcmd beside the library);
SCV_CORPUS the shared corpus (default: ../shared/corpus beside the checkout).
"""

from __future__ import annotations

import os
import subprocess
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List

import pytest

import scv
import scv.bulk
from scv import _library

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "samples"


def _scvcmd() -> Path:
    configured = os.environ.get("SCVCMD")
    if configured:
        return Path(configured)
    return Path(_library.locate()).parent / "scvcmd"


SCVCMD = _scvcmd()
CORPUS = Path(os.environ.get("SCV_CORPUS", ROOT.parent / "shared" / "corpus"))


def run_scvcmd(source: Path, destination: Path, codepage: int = 65001) -> int:
    """The command line's run result for one conversion into a file (signed, as the library's)."""
    completed = subprocess.run([str(SCVCMD), f"-c{codepage}", str(source), str(destination)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    assert completed.stderr == b"", completed.stderr
    code = completed.returncode
    return code - 256 if code > 127 else code


def samples() -> List[Path]:
    """The small documents of samples/, one per type."""
    return sorted(p for p in SAMPLES.iterdir() if p.is_file())


@pytest.fixture(scope="session")
def corpus() -> Path:
    """The shared corpus; the tests that need it are skipped where it is missing."""
    if not CORPUS.is_dir():
        pytest.skip(f"no corpus at {CORPUS}")
    return CORPUS


@pytest.fixture(scope="session")
def corpus_documents(corpus: Path) -> List[str]:
    """The supported documents of the corpus, relative to it."""
    return scv.bulk.find_documents(str(corpus), str(corpus))


@dataclass
class CliRun:
    """The command line's conversions of the corpus: texts under folder, results by path."""

    folder: Path
    results: Dict[str, int]

    def check(self, produced: Path, results: Dict[str, int]) -> None:
        """Every document has the command line's result, and every text its exact bytes."""
        assert results == self.results
        for relative, code in self.results.items():
            ours = produced / (relative + ".txt")
            theirs = self.folder / (relative + ".txt")
            assert ours.exists() == theirs.exists() == (code == 0), relative
            if code == 0:
                assert ours.read_bytes() == theirs.read_bytes(), relative


@pytest.fixture(scope="session")
def cli_outputs(corpus: Path, corpus_documents: List[str],
                tmp_path_factory: pytest.TempPathFactory) -> CliRun:
    """Every corpus document converted by the command line into the same relative paths plus
    .txt, two processes at a time (the machine's cores)."""
    folder = tmp_path_factory.mktemp("cli")

    def one(relative: str) -> int:
        target = folder / (relative + ".txt")
        target.parent.mkdir(parents=True, exist_ok=True)
        return run_scvcmd(corpus / relative, target)

    with ThreadPoolExecutor(max_workers=2) as pool:
        codes = list(pool.map(one, corpus_documents))
    return CliRun(folder, dict(zip(corpus_documents, codes)))
