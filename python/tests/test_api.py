"""The conversion functions against the command line, the errors, decoding and the library."""

from __future__ import annotations

import pickle
import shutil
import subprocess
import threading
import time
from pathlib import Path
from typing import List, Tuple, Type

import pytest

import scv
from scv import _library
from conftest import SCVCMD, run_scvcmd, samples

CODEPAGES = [65001, 1200, 1252, 932]
TYPE_OF_SAMPLE = {".html": "html"}


@pytest.mark.parametrize("codepage", CODEPAGES)
@pytest.mark.parametrize("sample", samples(), ids=lambda p: p.name)
def test_convert_gives_the_command_lines_bytes(sample: Path, codepage: int,
                                               tmp_path: Path) -> None:
    target = tmp_path / "out.txt"
    assert run_scvcmd(sample, target, codepage) == 0
    expected = target.read_bytes()
    assert scv.convert(sample, codepage=codepage) == expected
    assert scv.convert(str(sample).encode(), codepage=codepage) == expected
    # The document in memory, with the type in lower case; through the library's memory entry
    # where it has one.
    kind = TYPE_OF_SAMPLE.get(sample.suffix, sample.suffix[1:])
    assert scv.convert_bytes(sample.read_bytes(), kind, codepage) == expected


@pytest.mark.parametrize("sample", samples(), ids=lambda p: p.name)
def test_text_is_the_same_string_in_utf8_and_utf16(sample: Path) -> None:
    # The two outputs differ in their byte-order marks and terminators (XLS and the Office Open
    # XML types end UTF-16 with a zero unit); the decoded texts must not.
    utf8 = scv.text(sample)
    assert utf8 == scv.text(sample, codepage=1200)
    assert utf8 and not utf8.startswith("\ufeff") and not utf8.endswith("\0")
    assert not scv.text(sample, codepage=1252).endswith("\0")


def test_convert_bytes_without_the_memory_entry(monkeypatch: pytest.MonkeyPatch) -> None:
    # Libraries before scv_convert_memory: the document passes through a temporary file.
    sample = SAMPLES_BY_SUFFIX[".docx"]
    expected = scv.convert(sample)
    monkeypatch.setattr(_library.library(), "convert_memory", None)
    assert not scv.has_memory_conversion()
    assert scv.convert_bytes(bytearray(sample.read_bytes()), "DOCX") == expected
    assert scv.convert_bytes(memoryview(sample.read_bytes()), "docx") == expected
    with pytest.raises(scv.FormatError) as caught:
        scv.convert_bytes(b"not a document", "doc")
    assert caught.value.path is None  # not the temporary name


SAMPLES_BY_SUFFIX = {p.suffix: p for p in samples()}


def _damaged(folder: Path) -> Path:
    path = folder / "damaged.doc"
    path.write_bytes(b"plain text, not a compound file\r\n" * 20)
    return path


ERROR_CASES: List[Tuple[str, object, Type[scv.ConversionError], int]] = [
    ("missing file", lambda d: d / "missing.doc", scv.NotFoundError, -2),
    ("directory", lambda d: d, scv.NotFoundError, -2),
    ("unknown type", lambda d: shutil.copy(SAMPLES_BY_SUFFIX[".doc"], d / "a.zip"),
     scv.TypeNotSupportedError, -3),
    ("damaged", _damaged, scv.FormatError, -5),
]


@pytest.mark.parametrize("name,make,error,code", ERROR_CASES, ids=[c[0] for c in ERROR_CASES])
def test_failures_raise_the_error_of_their_result(name: str, make, error: Type[Exception],
                                                  code: int, tmp_path: Path) -> None:
    path = Path(make(tmp_path))
    with pytest.raises(error) as caught:
        scv.convert(path)
    assert caught.value.code == code
    assert caught.value.message == scv.result_message(code)
    assert caught.value.path == str(path)
    assert str(path) in str(caught.value)
    # Errors travel between processes (bulk workers, Dask) whole.
    copy = pickle.loads(pickle.dumps(caught.value))
    assert type(copy) is error and copy.code == code and copy.path == str(path)
    with pytest.raises(error):
        scv.text(path)


@pytest.mark.parametrize("relative,error", [
    ("xls/password.xls", scv.EncryptedError),
    ("ppt/Password_Protected-hello.ppt", scv.EncryptedError),
    ("pptx/no-slides.pptx", scv.FormatError),
])
def test_corpus_failures(corpus: Path, relative: str, error: Type[Exception]) -> None:
    with pytest.raises(error):
        scv.convert(corpus / relative)
    with pytest.raises(error):
        scv.convert_bytes((corpus / relative).read_bytes(), Path(relative).suffix[1:])


@pytest.mark.parametrize("call,error", [
    (lambda p: scv.convert(p, codepage=2**32 + 65001), scv.ArgumentError),  # not cut to 65001
    (lambda p: scv.convert(p, special=-2**31 - 1), scv.ArgumentError),
    (lambda p: scv.convert(p, codepage="65001"), TypeError),
    (lambda p: scv.convert(p, type=b"DOCX"), TypeError),
    (lambda p: scv.convert_bytes(p.read_bytes(), None), scv.TypeNotSupportedError),
    (lambda p: scv.text(p, codepage=0), ValueError),
    (lambda p: scv.text(p, codepage=12345), ValueError),
])
def test_invalid_arguments(call, error: Type[Exception]) -> None:
    with pytest.raises(error):
        call(SAMPLES_BY_SUFFIX[".docx"])


def test_code_page_the_library_cannot_serve(tmp_path: Path) -> None:
    if _library.library().result_message is None:
        pytest.skip("libraries before scv_result_message accept any code page")
    with pytest.raises(scv.ArgumentError) as caught:
        scv.convert(SAMPLES_BY_SUFFIX[".docx"], codepage=12345)
    assert isinstance(caught.value, ValueError) and caught.value.code == -22


def test_type_is_matched_without_regard_to_case(tmp_path: Path) -> None:
    renamed = tmp_path / "report.bin"
    shutil.copy(SAMPLES_BY_SUFFIX[".docx"], renamed)
    expected = scv.convert(SAMPLES_BY_SUFFIX[".docx"])
    for kind in ("docx", "Docx", "DOCX"):
        assert scv.convert(renamed, type=kind) == expected
    assert scv.convert(SAMPLES_BY_SUFFIX[".html"], type="htm") == scv.convert(
        SAMPLES_BY_SUFFIX[".html"])


@pytest.mark.parametrize("data,codepage,expected", [
    (b"\xef\xbb\xbfab\r\n\0", 65001, "ab\r\n"),
    (b"\xef\xbb\xbf", 65001, ""),
    (b"", 65001, ""),
    (b"\xff\xfea\0\0\0", 1200, "a"),
    (b"\xff\xfea\0\0", 1200, "a"),           # a lone terminator byte after the last unit
    (b"\xff\xfe\x3d\xd8\x00\xde", 1200, "\U0001f600"),
    (b"caf\xe9\0\0", 1252, "caf\u00e9"),
    (b"\x82\xa0\0", 932, "\u3042"),
    (b"\xef\xbb\xbfa\0b\0", 65001, "a\0b"),  # zeros inside the text stay
    (b"\xef\xbb\xbf\xef\xbb\xbfa", 65001, "\ufeffa"),  # only the mark itself goes
    (b"\xc3\0", 28592, "\u0102"),
])
def test_decode(data: bytes, codepage: int, expected: str) -> None:
    assert scv.decode(data, codepage) == expected


def test_own_messages_match_the_librarys() -> None:
    function = _library.library().result_message
    if function is None:
        pytest.skip("the library has no scv_result_message")
    for code, message in scv._MESSAGES.items():
        assert function(code).decode() == message, code
    assert scv.result_message(12345) == scv.result_message(2**40) == "Unknown result"


@pytest.mark.parametrize("name,supported,kind", [
    ("a.doc", True, "DOC"), ("A.DOCX", True, "DOCX"), ("x/y.html", True, "HTML"),
    ("help.HLP", True, "HLP"), ("a.zip", False, "ZIP"), ("noext", False, ""),
    ("dir.docx/file", False, ""), ("trailing.", False, "."),
])
def test_types_of_names(name: str, supported: bool, kind: str) -> None:
    assert scv.type_of(name) == kind
    assert scv.is_supported(name) is supported


def test_locate(monkeypatch: pytest.MonkeyPatch, tmp_path: Path) -> None:
    monkeypatch.delenv(_library.ENVIRONMENT_VARIABLE, raising=False)
    assert _library.locate() == _library.SONAME
    (tmp_path / "libscv.so.3").write_bytes(b"")
    monkeypatch.setenv(_library.ENVIRONMENT_VARIABLE, str(tmp_path))
    assert _library.locate() == str(tmp_path / "libscv.so.3")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv(_library.ENVIRONMENT_VARIABLE, "libscv.so.3")
    assert _library.locate() == str(tmp_path / "libscv.so.3")  # absolute for the workers
    monkeypatch.setenv(_library.ENVIRONMENT_VARIABLE, str(tmp_path / "empty"))
    (tmp_path / "empty").mkdir()
    with pytest.raises(_library.LibraryNotFoundError):
        _library.locate()
    with pytest.raises(_library.LibraryNotFoundError):
        _library.Library(str(tmp_path / "libscv.so.3"))  # not a library


def test_conversion_releases_the_gil(tmp_path: Path) -> None:
    # While one thread is inside a long conversion, this one must go on running Python code.
    document = tmp_path / "long.rtf"
    document.write_bytes(b"{\\rtf1\\ansi " + b"words of a long document\\par " * 400_000 + b"}")
    span: List[float] = []

    def convert() -> None:
        span.append(time.perf_counter())
        scv.convert(document)
        span.append(time.perf_counter())

    scv.convert(SAMPLES_BY_SUFFIX[".rtf"])  # the converters loaded: the timed call converts only
    ticks: List[float] = []
    worker = threading.Thread(target=convert)
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
        time.sleep(0.001)
    worker.join()
    start, end = span
    inside = [t for t in ticks if start + 0.2 * (end - start) < t < end - 0.2 * (end - start)]
    assert end - start > 0.02, "the document converts too fast to tell"
    assert len(inside) >= 3, (end - start, len(ticks))


ALL_TEXT = Path(__file__).resolve().parents[2] / "tests" / "fixtures" / "all-text"


@pytest.mark.parametrize("name", ["stories.docx", "deck.pptx", "stories.doc", "deck.ppt"])
def test_all_text_gives_the_command_lines_all_text_bytes(name: str) -> None:
    document = ALL_TEXT / name
    expected = subprocess.run([str(SCVCMD), "--all-text", "-c65001", str(document), "*"],
                              capture_output=True, check=True).stdout
    assert scv.has_all_text()
    assert scv.convert(document, all_text=True) == expected
    assert scv.convert_bytes(document.read_bytes(), document.suffix[1:],
                             all_text=True) == expected
    assert scv.text(document, all_text=True) == scv.decode(expected)
    # The keyword off is the conversion of old, and the mode does not outlast its call.
    assert scv.convert(document, all_text=False) == scv.convert(document)
    if document.suffix in (".docx", ".pptx"):
        assert scv.convert(document) != expected


def test_all_text_pairs_give_the_same_words() -> None:
    for old, new in (("stories.doc", "stories.docx"), ("deck.ppt", "deck.pptx")):
        assert (scv.text(ALL_TEXT / old, all_text=True).replace("\0", " ").split() ==
                scv.text(ALL_TEXT / new, all_text=True).split())


def test_all_text_without_the_entry(monkeypatch: pytest.MonkeyPatch) -> None:
    document = ALL_TEXT / "deck.pptx"
    expected = scv.convert(document, all_text=True)
    monkeypatch.setattr(_library.library(), "convert_memory_ex", None)
    # The memory entry without flags: through a temporary file.
    assert scv.convert_bytes(document.read_bytes(), "pptx", all_text=True) == expected
    monkeypatch.setattr(_library.library(), "convert_file_ex", None)
    assert not scv.has_all_text()
    with pytest.raises(scv.ArgumentError):
        scv.convert(document, all_text=True)
    assert scv.convert(document) != expected
    with pytest.raises(TypeError):
        scv.convert(document, all_text=1)  # type: ignore[arg-type]
