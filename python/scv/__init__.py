"""Document-to-text conversion over libscv, the library of the scvcmd command line.

    import scv
    data = scv.convert("report.docx")               # bytes exactly as scvcmd writes them
    text = scv.text("report.docx")                  # str, no byte-order mark or trailing zeros
    text = scv.text("old.doc", codepage=1252)       # converted in Windows-1252, then decoded
    data = scv.convert_bytes(attachment, "pdf")     # a document held in memory

Failures raise a subclass of :class:`ConversionError` (``FormatError``, ``EncryptedError``,
``OpenError``, ...) that carries the library's result code and message.

Threads and processes: the converters keep module-wide state, so one process runs one
conversion at a time. The GIL is released for the length of a conversion, so other Python
threads go on running, but conversions started from several threads wait for one another.
Parallel conversions need several processes: ``python3 -m scv.bulk`` converts a collection
with worker processes, and :mod:`scv.cluster` does it with Dask.

The library is found through ``SCV_LIBRARY`` (the path of ``libscv.so`` or its folder) or
the system's library search for ``libscv.so.3``.
"""

from __future__ import annotations

import codecs
import ctypes
import os
import tempfile
from typing import Dict, Optional, Tuple, Type, Union

from scv._library import LibraryNotFoundError, library

__all__ = [
    "ArgumentError", "ConversionError", "EncryptedError", "FormatError", "LibraryMissingError",
    "LibraryNotFoundError", "NotFoundError", "OpenError", "TypeNotSupportedError", "convert",
    "convert_bytes", "decode", "has_all_text", "has_memory_conversion", "is_supported",
    "result_message", "text", "type_of", "types", "version",
]

__version__ = "3.0.0"

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# Result codes, the values of the command line's run results.
OK = 0
EXISTS = 1
E_LIBRARY_MISSING = -1
E_NOT_FOUND = -2
E_TYPE_NOT_SUPPORTED = -3
E_OPEN = -4
E_FORMAT = -5
E_CREATE = -6
E_WRITE = -7
E_ENCRYPTED = -11
E_ARGUMENT = -22

# The wording of libraries that do not export scv_result_message yet (the same texts).
_MESSAGES: Dict[int, str] = {
    OK: "OK",
    EXISTS: "Output file already exists, convert canceled",
    2: "Command line rejected",
    E_LIBRARY_MISSING: "Convert dll file load error",
    E_NOT_FOUND: "Input file not exists",
    E_TYPE_NOT_SUPPORTED: "Input file type not support",
    E_OPEN: "Input file open error",
    E_FORMAT: "Input file format not correct",
    E_CREATE: "Output file create error",
    E_WRITE: "Output file write error",
    E_ENCRYPTED: "Input file is encrypted",
    E_ARGUMENT: "Invalid argument",
}


class ConversionError(Exception):
    """A conversion that did not give a text: code is the library's result, message its words."""

    def __init__(self, code: int, path: Optional[str] = None) -> None:
        """Records the result code and the document (None for a document in memory)."""
        self.code = code
        self.message = result_message(code)
        self.path = path
        where = f"{path}: " if path is not None else ""
        super().__init__(f"{where}{self.message} ({code})")

    def __reduce__(self) -> Tuple[type, Tuple[int, Optional[str]]]:
        """Pickles by code and path, so that errors travel between worker processes."""
        return (type(self), (self.code, self.path))


class LibraryMissingError(ConversionError):
    """The converter library for the type cannot be loaded (-1)."""


class NotFoundError(ConversionError):
    """The file does not exist or is a directory (-2)."""


class TypeNotSupportedError(ConversionError):
    """No converter for the type (-3)."""


class OpenError(ConversionError):
    """The document cannot be opened (-4)."""


class FormatError(ConversionError):
    """The document is not in the expected format, is damaged, or is too large (-5)."""


class EncryptedError(ConversionError):
    """The document is password-protected (-11)."""


class ArgumentError(ConversionError, ValueError):
    """A code page the library cannot serve, or another invalid argument (-22)."""


_ERRORS: Dict[int, Type[ConversionError]] = {
    E_LIBRARY_MISSING: LibraryMissingError,
    E_NOT_FOUND: NotFoundError,
    E_TYPE_NOT_SUPPORTED: TypeNotSupportedError,
    E_OPEN: OpenError,
    E_FORMAT: FormatError,
    E_ENCRYPTED: EncryptedError,
    E_ARGUMENT: ArgumentError,
}


def error_for(code: int, path: Optional[str] = None) -> ConversionError:
    """The exception of a result code other than OK."""
    return _ERRORS.get(code, ConversionError)(code, path)


def result_message(code: int) -> str:
    """The message of a result as scvcmd words it, without file names ("Unknown result")."""
    try:
        function = library().result_message
    except LibraryNotFoundError:
        function = None
    if function is not None and _INT32_MIN <= code <= _INT32_MAX:
        return str(function(code).decode("ascii", "replace"))
    return _MESSAGES.get(code, "Unknown result")


_INT32_MIN = -(2**31)
_INT32_MAX = 2**31 - 1


def _check_int32(name: str, value: int) -> int:
    """value as a C int32_t; anything else would be cut silently by ctypes."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise ArgumentError(E_ARGUMENT)
    return value


def _type_argument(type: Optional[str]) -> Optional[bytes]:
    """The type as the library takes it: upper case, so that older libraries match it too."""
    if type is None:
        return None
    if not isinstance(type, str):
        raise TypeError(f"type must be a str or None, not {type.__class__.__name__}")
    return type.upper().encode("ascii", "replace")


def _take_text(text: "ctypes._Pointer[ctypes.c_ubyte]", length: int) -> bytes:
    """Copies the library's buffer into bytes and frees it."""
    lib = library()
    try:
        return ctypes.string_at(text, length) if length else b""
    finally:
        lib.handle.scv_free(text)


# The flag of the library's _ex entries that asks for every story (SCV_ALL_TEXT).
ALL_TEXT = 1


def _flags_of(all_text: bool) -> int:
    """The flags of the _ex entries for the keywords."""
    if not isinstance(all_text, bool):
        raise TypeError(f"all_text must be a bool, not {type(all_text).__name__}")
    return ALL_TEXT if all_text else 0


def has_all_text() -> bool:
    """Whether the loaded library offers the all-text mode (scv_convert_file_ex)."""
    return library().convert_file_ex is not None


def convert(path: PathArg, type: Optional[str] = None, codepage: int = 65001,
            special: int = 0, *, all_text: bool = False) -> bytes:
    """Converts the file at path and returns the bytes scvcmd would write for it.

    type: "DOC", "DOCX", "PPT", "PPTX", "XLS", "XLSX", "PDF", "HTM", "HTML", "RTF", "HLP" in
        any case, or None to take it from the file name's extension.
    codepage: 65001 UTF-8 with a byte-order mark (the default), 1200 UTF-16LE with a
        byte-order mark, a Windows code page, or 0 for the locale's.
    special: PDF layout (0 reading order, 1 physical, 2 raw content order); DOC 1 keeps raw
        characters; ignored by the other types.
    all_text: every story of an Office Open XML package (scvcmd --all-text): a DOCX's
        footnotes, headers and footers, comments, endnotes and text boxes after its body, a
        PPTX's slides in the presentation's order each followed by its notes, an XLSX's sheets
        in the workbook's order under their names; the other types ignore it. A library
        without the mode raises ArgumentError.

    The bytes include the byte-order mark and the zero byte or unit that ends some outputs
    (see :func:`text` for a decoded string). Raises a :class:`ConversionError` subclass.
    """
    name = os.fsencode(path)
    flags = _flags_of(all_text)
    lib = library()
    text = ctypes.POINTER(ctypes.c_ubyte)()
    length = ctypes.c_size_t(0)
    if flags:
        if lib.convert_file_ex is None:
            raise ArgumentError(E_ARGUMENT)
        code = lib.convert_file_ex(name, _type_argument(type), _check_int32("codepage", codepage),
                                   _check_int32("special", special), flags, ctypes.byref(text),
                                   ctypes.byref(length))
    else:
        code = lib.handle.scv_convert_file(name, _type_argument(type),
                                           _check_int32("codepage", codepage),
                                           _check_int32("special", special), ctypes.byref(text),
                                           ctypes.byref(length))
    if code != OK:
        raise error_for(code, os.fsdecode(name))
    return _take_text(text, length.value)


def has_memory_conversion() -> bool:
    """Whether the loaded library converts documents in memory itself (scv_convert_memory).

    Without it, :func:`convert_bytes` passes the document through a temporary file.
    """
    return library().convert_memory is not None


def convert_bytes(data: Union[bytes, bytearray, memoryview], type: str, codepage: int = 65001,
                  special: int = 0, *, all_text: bool = False) -> bytes:
    """Converts a document held in memory; the same bytes and errors as a file of that content.

    type is required (there is no file name to take it from); the other arguments are those
    of :func:`convert`.
    """
    if type is None:
        raise TypeNotSupportedError(E_TYPE_NOT_SUPPORTED)
    document = data if isinstance(data, bytes) else bytes(data)
    type_text = _type_argument(type)
    codepage = _check_int32("codepage", codepage)
    special = _check_int32("special", special)
    flags = _flags_of(all_text)
    lib = library()
    if lib.convert_memory is None or (flags and lib.convert_memory_ex is None):
        return _convert_through_file(document, type, codepage, special, all_text)
    text = ctypes.POINTER(ctypes.c_ubyte)()
    length = ctypes.c_size_t(0)
    if flags:
        code = lib.convert_memory_ex(document, len(document), type_text, codepage, special, flags,
                                     ctypes.byref(text), ctypes.byref(length))
    else:
        code = lib.convert_memory(document, len(document), type_text, codepage, special,
                                  ctypes.byref(text), ctypes.byref(length))
    if code != OK:
        raise error_for(code)
    return _take_text(text, length.value)


def _convert_through_file(document: bytes, type: str, codepage: int, special: int,
                          all_text: bool = False) -> bytes:
    """convert_bytes for libraries without the memory entry: a private temporary file."""
    handle, name = tempfile.mkstemp(prefix="scv-", suffix=".bin")
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(document)
        try:
            return convert(name, type, codepage, special, all_text=all_text)
        except ConversionError as error:
            raise error_for(error.code) from None  # the temporary name means nothing to callers
    finally:
        os.unlink(name)


# Code pages whose Python codec is not named cpNNN.
_CODECS: Dict[int, str] = {
    65001: "utf-8", 1200: "utf-16-le", 1201: "utf-16-be", 12000: "utf-32-le",
    12001: "utf-32-be", 65000: "utf-7", 20127: "ascii", 20866: "koi8-r", 21866: "koi8-u",
    54936: "gb18030", 51932: "euc-jp", 51949: "euc-kr", 50220: "iso2022-jp",
    50221: "iso2022-jp", 50222: "iso2022-jp", 52936: "hz", 10000: "mac-roman",
    10006: "mac-greek", 10007: "mac-cyrillic", 10029: "mac-latin2", 10079: "mac-iceland",
    10081: "mac-turkish", 936: "gbk", 28591: "latin-1",
}
_CODECS.update({28590 + n: f"iso8859-{n}" for n in (2, 3, 4, 5, 6, 7, 8, 9, 13, 15)})


def codec_of(codepage: int) -> str:
    """The name of Python's codec for a code page; ValueError when Python has none."""
    name = _CODECS.get(codepage)
    candidates = [name] if name else [f"cp{codepage}", f"cp{codepage:03d}"]
    for candidate in candidates:
        try:
            return codecs.lookup(candidate).name
        except LookupError:
            continue
    raise ValueError(f"no Python codec for code page {codepage}; use convert() for the bytes")


def decode(data: bytes, codepage: int = 65001, errors: str = "strict") -> str:
    """The text of converted bytes: decoded, without byte-order mark and trailing zeros.

    codepage is the one the bytes were converted in (0, the locale's, is not accepted: the
    library chooses it). errors is as for bytes.decode.
    """
    if codepage == 0:
        raise ValueError("decode needs the code page the text was converted in, not 0")
    codec = codec_of(codepage)
    if codec.startswith("utf-16") and len(data) % 2 == 1 and data.endswith(b"\0"):
        data = data[:-1]  # a terminator byte after the last unit
    result = data.decode(codec, errors)
    if result.startswith("\ufeff") and codec.startswith("utf"):
        result = result[1:]
    return result.rstrip("\0")


def text(path: PathArg, type: Optional[str] = None, codepage: int = 65001, special: int = 0,
         errors: str = "strict", *, all_text: bool = False) -> str:
    """Converts the file at path like :func:`convert` and returns the decoded text.

    The byte-order mark and the trailing zero characters are removed. codepage must be one
    Python has a codec for (65001, 1200, 1252, 932, ...), not 0.
    """
    if codepage == 0:
        raise ValueError("text needs an explicit code page, not 0")
    codec_of(codepage)  # an unknown code page fails before the conversion
    return decode(convert(path, type, codepage, special, all_text=all_text), codepage, errors)


def type_of(path: PathArg) -> str:
    """The type the library derives from a file name: its upper-cased extension ("" if none)."""
    name = os.fsencode(path)
    lib = library()
    size = lib.handle.scv_type_of(name, None, 0)
    buffer = ctypes.create_string_buffer(size + 1)
    lib.handle.scv_type_of(name, buffer, size + 1)
    return buffer.value.decode("ascii", "surrogateescape")


def types() -> Tuple[str, ...]:
    """The types the library converts, in the order of the command line's usage text."""
    return tuple(library().handle.scv_types().decode("ascii").split())


def is_supported(path: PathArg) -> bool:
    """Whether the file name's extension names a type the library converts ("HTML" included)."""
    kind = type_of(path)
    return kind == "HTML" or kind in types()


def version() -> str:
    """The version of the loaded library, "3.0.0"."""
    return str(library().handle.scv_version().decode("ascii"))
