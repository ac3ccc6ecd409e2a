"""The batch engine's C interface (QuarnelBatch.h) in ctypes: its records,
where the engine is found, and its functions with Python types."""
from __future__ import annotations

import ctypes
import functools
import os
import sys
import threading
from typing import Any, Union

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

NAME = "QuarnelBatch.dll" if sys.platform == "win32" else "libQuarnelBatch.so"
# From the package's folder: itself (a wheel), a build folder's python/quarnel,
# an install's lib/python3/dist-packages/quarnel, a Windows install's
# python/quarnel, the source tree's python/quarnel beside the default build.
_PLACES = (".", "../..", "../../..", "../../bin", "../../build")

# Statuses and console modes, as QuarnelBatch.h numbers them.
DONE, FAILED, REFUSED, UNREPORTED, CANCELLED, NO_MODULE = range(6)
CONSOLE = {"none": 0, "quiet": 1, "lines": 2, "terminal": 3, "auto": 4}

_c = ctypes
_text, _status, _batch = _c.c_char_p, _c.c_int32, _c.c_void_p


class JobReport(_c.Structure):
    _fields_ = [("size", _c.c_uint32), ("job", _c.c_int32), ("outcome", _c.c_int32), ("messageCount", _c.c_int32),
                ("srcpath", _text), ("dstpath", _text), ("messages", _c.POINTER(_text))]


class Counts(_c.Structure):
    _fields_ = [("size", _c.c_uint32), ("jobs", _c.c_int32), ("started", _c.c_int32), ("running", _c.c_int32),
                ("converted", _c.c_int32), ("skipped", _c.c_int32), ("failed", _c.c_int32),
                ("unwritten", _c.c_int32), ("seconds", _c.c_double)]


class PlannedJob(_c.Structure):
    _fields_ = [("size", _c.c_uint32), ("job", _c.c_int32), ("srcpath", _text), ("dstpath", _text),
                ("failure", _text)]


JobFn = _c.CFUNCTYPE(None, _c.c_void_p, _c.POINTER(JobReport))
ProgressFn = _c.CFUNCTYPE(None, _c.c_void_p, _c.POINTER(Counts))
PlannedFn = _c.CFUNCTYPE(None, _c.c_void_p, _c.POINTER(PlannedJob))


class Options(_c.Structure):
    _fields_ = [("size", _c.c_uint32), ("workers", _c.c_int32), ("texelsize", _c.c_double),
                ("memory", _c.c_uint64), ("update", _c.c_int32), ("console", _c.c_int32), ("outDir", _text),
                ("module", _text), ("program", _text), ("onJob", JobFn), ("onProgress", ProgressFn),
                ("context", _c.c_void_p)]


class Engine:
    """The loaded engine: each function of QuarnelBatch.h with Python types."""

    def __init__(self, path: str) -> None:
        self.path = path
        # RTLD_GLOBAL, so that the module finds the engine's MessageBoxA.
        self._lib = lib = _c.CDLL(path, mode=_c.RTLD_GLOBAL)
        for name, result, args in (
                ("InitOptions", None, [_c.POINTER(Options)]),
                ("ReadValue", _status, [_c.POINTER(Options), _status, _text, _c.c_char_p, _c.c_uint32]),
                ("Create", _batch, [_c.POINTER(Options)]), ("Add", _status, [_batch, _text]),
                ("AddList", _status, [_batch, _text]), ("AddJob", _status, [_batch, _c.POINTER(PlannedJob)]),
                ("Plan", _status, [_batch, PlannedFn, _c.c_void_p]), ("Run", _status, [_batch, _c.POINTER(Counts)]),
                ("Cancel", None, [_batch]), ("Why", _text, [_batch]), ("Destroy", None, [_batch]),
                ("Printable", _c.c_uint32, [_text, _c.c_char_p, _c.c_uint32]), ("Version", _text, [])):
            function = getattr(lib, "QuarnelBatch" + name)
            function.restype, function.argtypes = result, args

    def _call(self, name: str, *args: Any) -> Any:
        return getattr(self._lib, "QuarnelBatch" + name)(*args)

    def printable(self, text: str) -> str:
        """text as the engine prints names: control characters and bytes
        outside UTF-8 as \\xHH."""
        data = encode(text)
        shown = _c.create_string_buffer(int(self._call("Printable", data, None, 0)) + 1)
        self._call("Printable", data, shown, len(shown))
        return decode(shown.value)

    def version(self) -> str:
        return decode(self._call("Version"))

    def options(self) -> Options:
        options = Options()
        self._call("InitOptions", _c.byref(options))
        return options

    def read_value(self, options: Options, value: int, text: str) -> str:
        """'' where the engine takes text for the value, else why not."""
        data = os.fsencode(text)
        if b"\0" in data:
            shown = self.printable(text.replace("\0", "\\x00"))
            return f"'{shown}' holds a NUL byte"
        why = _c.create_string_buffer(256)
        status = self._call("ReadValue", _c.byref(options), value, data, why, len(why))
        return "" if status == DONE else decode(why.value)

    def create(self, options: Options) -> int:
        batch = self._call("Create", _c.byref(options))
        if not batch:
            raise MemoryError("the engine has no memory for a batch")
        return int(batch)

    def add(self, batch: int, path: bytes, listed: bool = False) -> int:
        return int(self._call("AddList" if listed else "Add", batch, path))

    def add_job(self, batch: int, job: PlannedJob) -> int:
        return int(self._call("AddJob", batch, _c.byref(job)))

    def plan(self, batch: int, on_planned: Any) -> int:
        return int(self._call("Plan", batch, on_planned, None))

    def run(self, batch: int, counts: Counts) -> int:
        return int(self._call("Run", batch, _c.byref(counts)))

    def cancel(self, batch: int) -> None:
        self._call("Cancel", batch)

    def why(self, batch: int) -> str:
        return decode(self._call("Why", batch))

    def destroy(self, batch: int) -> None:
        self._call("Destroy", batch)


@functools.lru_cache(maxsize=None)
def _load() -> Engine:
    here = os.path.dirname(os.path.abspath(__file__))
    for place in _PLACES:
        path = os.path.normpath(os.path.join(here, place, NAME))
        if os.path.exists(path):
            return Engine(path)
    raise OSError(f"cannot find {NAME} from {here!r}: in {', '.join(_PLACES)}")


_lock = threading.Lock()


def engine() -> Engine:
    """The engine, loaded once a process (it loads the module, which then
    stays loaded too)."""
    with _lock:
        return _load()


def encode(path: PathLike) -> bytes:
    """The path as the module's file functions take it: the platform's 8-bit
    characters (the ANSI code page on Windows)."""
    name = os.fspath(path)
    if isinstance(name, str):
        # On Windows fopen takes the ANSI code page; 'mbcs' refuses what it cannot map.
        name = name.encode("mbcs") if sys.platform == "win32" else os.fsencode(name)
    if b"\0" in name:
        raise ValueError(f"path {name!r} holds a NUL byte")
    return name


def decode(data: bytes | None) -> str:
    data = data or b""
    return data.decode("mbcs", "replace") if sys.platform == "win32" else os.fsdecode(data)
