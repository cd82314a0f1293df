"""Loading libscv and declaring its C functions for ctypes.

The library is looked up once per process, on first use:

1. ``SCV_LIBRARY`` in the environment: the path of ``libscv.so`` or of the folder that
   holds it (a build's ``bin/`` folder, where the converter libraries lie beside it);
2. ``libscv.so.3`` through the system's library search (the installed package).

Functions that only newer libraries export (``scv_convert_memory``,
``scv_result_message``, ``scv_convert_file_ex``, ``scv_convert_memory_ex``) are bound when
present; :class:`Library` says which are.
"""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import Any, Optional

# The shared library's file name with its interface version: a library of another major
# version has another interface and is not taken.
SONAME = "libscv.so.3"
ENVIRONMENT_VARIABLE = "SCV_LIBRARY"


class LibraryNotFoundError(OSError):
    """libscv itself cannot be loaded (not installed, or SCV_LIBRARY is wrong)."""


class Library:
    """The C functions of one loaded libscv, with their argument and result types."""

    def __init__(self, path: str) -> None:
        """Loads the library at path (a file name or a name for the system's search)."""
        try:
            # CDLL, not PyDLL: ctypes releases the GIL for the length of every call.
            self.handle = ctypes.CDLL(path)
        except OSError as error:
            raise LibraryNotFoundError(f"cannot load {path}: {error}") from error
        self.path = path
        h = self.handle
        out_text = ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))
        out_length = ctypes.POINTER(ctypes.c_size_t)

        h.scv_initialize.argtypes = []
        h.scv_initialize.restype = ctypes.c_int32
        h.scv_finalize.argtypes = []
        h.scv_finalize.restype = None
        h.scv_convert_file.argtypes = [
            ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, out_text, out_length,
        ]
        h.scv_convert_file.restype = ctypes.c_int32
        h.scv_free.argtypes = [ctypes.c_void_p]
        h.scv_free.restype = None
        h.scv_type_of.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
        h.scv_type_of.restype = ctypes.c_size_t
        h.scv_types.argtypes = []
        h.scv_types.restype = ctypes.c_char_p
        h.scv_version.argtypes = []
        h.scv_version.restype = ctypes.c_char_p

        # c_char_p takes a bytes object without copying it; the size says where it ends.
        self.convert_memory = _optional_entry(h, "scv_convert_memory", [
            ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32,
            out_text, out_length,
        ])
        # The entries with flags (SCV_ALL_TEXT): the same arguments with the flags before the
        # outputs.
        self.convert_file_ex = _optional_entry(h, "scv_convert_file_ex", [
            ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_uint32,
            out_text, out_length,
        ])
        self.convert_memory_ex = _optional_entry(h, "scv_convert_memory_ex", [
            ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32,
            ctypes.c_uint32, out_text, out_length,
        ])
        self.result_message = _optional(h, "scv_result_message")
        if self.result_message is not None:
            self.result_message.argtypes = [ctypes.c_int32]
            self.result_message.restype = ctypes.c_char_p


def _optional_entry(handle: ctypes.CDLL, name: str, argtypes: list) -> Optional[Any]:
    """A conversion entry of the library (arguments as given, an int32 result), or None when
    this library does not export it."""
    entry = _optional(handle, name)
    if entry is not None:
        entry.argtypes = argtypes
        entry.restype = ctypes.c_int32
    return entry


def _optional(handle: ctypes.CDLL, name: str) -> Optional[Any]:
    """The function name of the library, or None when this library does not export it."""
    try:
        return getattr(handle, name)
    except AttributeError:
        return None


def locate() -> str:
    """The path or name the library is loaded from (see the module's description)."""
    configured = os.environ.get(ENVIRONMENT_VARIABLE, "")
    if configured:
        path = Path(configured)
        if path.is_dir():
            for name in ("libscv.so", SONAME):
                if (path / name).is_file():
                    return str((path / name).absolute())
            raise LibraryNotFoundError(f"{ENVIRONMENT_VARIABLE}={configured}: no libscv.so in it")
        # Absolute, so that a relative setting means the same in every worker process.
        return str(path.absolute()) if path.is_file() else configured
    return SONAME


_lock = threading.Lock()
_loaded: Optional[Library] = None


def library() -> Library:
    """The process's libscv, loaded on the first call."""
    global _loaded
    with _lock:
        if _loaded is None:
            _loaded = Library(locate())
        return _loaded
