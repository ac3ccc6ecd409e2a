"""Quarnel from Python: height maps (24-bit TGA) into normal maps, through the
batch engine quarnel-convert runs on (include/QuarnelBatch.h), with ctypes.

    import quarnel
    summary = quarnel.convert_tree("textures", "normals", jobs=4, update=True)
    summary.converted, summary.skipped   # counts
    summary.failed                       # the failed sources
    summary.results                      # a JobResult a job: source, destination, outcome, messages
    quarnel.convert_pairs([("rock.tga", "rock_n.tga")], texel_size=0.5)
    quarnel.create_bump_maps([("a.tga", "b.tga"), ("b.tga", "c.tga")])  # in order

`python -m quarnel` is the command line, with quarnel-convert's options.

The engine (libQuarnelBatch.so, QuarnelBatch.dll) is looked for in this
package's folder, then where a build or an install puts it from there; it
loads the Quarnel module from its own folder (or `module=`). The engine
decides every rule of a batch; this binding only translates. Failures are
printed on standard error as they happen, as quarnel-convert prints them.
A usage error raises ValueError, a module that does not load OSError. On an
interrupt (KeyboardInterrupt, or any exception while the batch runs) no new
job starts and the running ones finish before it goes on.
"""
import collections
import ctypes
import os
import signal
import sys
import threading

__all__ = ["convert_tree", "convert_pairs", "create_bump_maps", "JobResult", "Summary", "engine"]

ENGINE_NAME = "QuarnelBatch.dll" if sys.platform == "win32" else "libQuarnelBatch.so"
# From the package's folder: itself (a wheel), a build folder's python/quarnel,
# an install's lib/python3/dist-packages/quarnel, a Windows install's
# python/quarnel, the source tree's python/quarnel beside the default build.
_PLACES = (".", "../..", "../../..", "../../bin", "../../build")

# Statuses, outcomes, console modes and values, as QuarnelBatch.h numbers them.
DONE, FAILED, REFUSED, UNREPORTED, CANCELLED, NO_MODULE = range(6)
_OUTCOMES = ("converted", "skipped", "failed")
_CONSOLE = {"none": 0, "quiet": 1, "lines": 2, "terminal": 3, "auto": 4}
_VALUES = {1: "--jobs", 2: "--texel-size", 3: "--memory"}

JobResult = collections.namedtuple("JobResult", "source destination outcome messages")
JobResult.__doc__ = "One job: its paths, 'converted', 'skipped' or 'failed', and its messages."
Summary = collections.namedtuple("Summary", "converted skipped failed results status")
Summary.__doc__ = "A batch: its counts, the failed sources, a JobResult a job in plan order, its status."


class _JobReport(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("job", ctypes.c_int32), ("outcome", ctypes.c_int32),
                ("messageCount", ctypes.c_int32), ("srcpath", ctypes.c_char_p), ("dstpath", ctypes.c_char_p),
                ("messages", ctypes.POINTER(ctypes.c_char_p))]


class _Counts(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("jobs", ctypes.c_int32), ("started", ctypes.c_int32),
                ("running", ctypes.c_int32), ("converted", ctypes.c_int32), ("skipped", ctypes.c_int32),
                ("failed", ctypes.c_int32), ("unwritten", ctypes.c_int32), ("seconds", ctypes.c_double)]


_JobFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_JobReport))
_ProgressFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_Counts))


class _Options(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("workers", ctypes.c_int32), ("texelsize", ctypes.c_double),
                ("memory", ctypes.c_uint64), ("update", ctypes.c_int32), ("console", ctypes.c_int32),
                ("outDir", ctypes.c_char_p), ("module", ctypes.c_char_p), ("program", ctypes.c_char_p),
                ("onJob", _JobFn), ("onProgress", _ProgressFn), ("context", ctypes.c_void_p)]


_engine = None
_engine_lock = threading.Lock()


def engine():
    """The engine, loaded once. RTLD_GLOBAL, so the module finds the engine's
    MessageBoxA and gives it each message as a call."""
    global _engine
    with _engine_lock:
        if _engine is None:
            here = os.path.dirname(os.path.abspath(__file__))
            found = [p for p in (os.path.normpath(os.path.join(here, place, ENGINE_NAME)) for place in _PLACES)
                     if os.path.exists(p)]
            if not found:
                raise OSError(f"cannot find {ENGINE_NAME} from {here}: in {', '.join(_PLACES)}")
            lib = ctypes.CDLL(found[0], mode=ctypes.RTLD_GLOBAL)
            batch, status, text = ctypes.c_void_p, ctypes.c_int32, ctypes.c_char_p
            for name, result, args in (
                    ("InitOptions", None, [ctypes.POINTER(_Options)]),
                    ("ReadValue", status, [ctypes.POINTER(_Options), status, text, ctypes.c_char_p, ctypes.c_uint32]),
                    ("Create", batch, [ctypes.POINTER(_Options)]), ("Add", status, [batch, text]),
                    ("AddList", status, [batch, text]), ("Run", status, [batch, ctypes.POINTER(_Counts)]),
                    ("Cancel", None, [batch]), ("Why", text, [batch]), ("Destroy", None, [batch]),
                    ("Version", text, [])):
                function = getattr(lib, "QuarnelBatch" + name)
                function.restype, function.argtypes = result, args
            _engine = lib
        return _engine


def _encode(path):
    """The path as the module's file functions take it: the platform's 8-bit
    characters (the ANSI code page on Windows)."""
    path = os.fspath(path)
    if isinstance(path, str):
        # On Windows fopen takes the ANSI code page; 'mbcs' refuses what it cannot map.
        path = path.encode("mbcs") if sys.platform == "win32" else os.fsencode(path)
    if b"\0" in path:
        raise ValueError(f"path {path!r} holds a NUL byte")
    return path


def _decode(data):
    return os.fsdecode(data) if sys.platform != "win32" else data.decode("mbcs", "replace")


def _run(lib, batch, counts):
    """Runs the batch on a thread of its own, so that this one takes the
    interrupt and cancels it; where no thread can be had, here."""
    status, done = [], threading.Event()

    def call():
        try:
            status.append(lib.QuarnelBatchRun(batch, ctypes.byref(counts)))
        finally:
            done.set()

    # Not a daemon: the interpreter waits for it before it shuts down, so no
    # thread is stopped inside the engine. Started with the interrupt held, so
    # that it inherits the mask (the interrupt comes here, where the batch can
    # be cancelled) and that none comes before it runs.
    runner = threading.Thread(target=call, name="quarnel-batch")
    hold = getattr(signal, "pthread_sigmask", None)
    held = hold(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM}) if hold else None
    try:
        try:
            runner.start()
        except RuntimeError:  # no more threads (ulimit -u)
            call()
            return status[0]
        finally:
            if hold:
                hold(signal.SIG_SETMASK, held)
        # Windows waits without taking an interrupt; elsewhere the wait takes it.
        while not done.wait(0.25 if sys.platform == "win32" else None):
            pass
    except BaseException:
        lib.QuarnelBatchCancel(batch)
        while runner.ident is not None and not done.is_set():
            try:
                done.wait()
            except BaseException:  # a second interrupt: still no job left half-made
                pass
        raise
    return status[0]


def _batch(paths=(), lists=(), out_dir=None, texel_size=None, jobs=None, update=False, memory=None, module=None,
           console="quiet", program="quarnel"):
    """(status, Summary, why) of one batch. A value the engine refuses raises
    ValueError naming its option; nothing else raises but an interrupt."""
    lib = engine()
    options = _Options()
    lib.QuarnelBatchInitOptions(ctypes.byref(options))
    why = ctypes.create_string_buffer(256)
    for value, given in ((1, jobs), (2, texel_size), (3, memory)):
        if given is not None and lib.QuarnelBatchReadValue(ctypes.byref(options), value, str(given).encode(), why,
                                                           len(why)) != DONE:
            raise ValueError(f"{_VALUES[value]}: {why.value.decode(errors='replace')}")
    options.update = bool(update)
    options.console = _CONSOLE[console]
    options.outDir = None if out_dir is None else _encode(out_dir)
    options.module = None if module is None else _encode(module)
    options.program = program.encode()
    results = {}

    def on_job(context, report):
        r = report.contents
        results[r.job] = JobResult(_decode(r.srcpath), _decode(r.dstpath), _OUTCOMES[r.outcome],
                                   [_decode(r.messages[i]) for i in range(r.messageCount)])

    options.onJob = _JobFn(on_job)
    inputs = [(lib.QuarnelBatchAdd, _encode(p)) for p in paths] + [(lib.QuarnelBatchAddList, _encode(p)) for p in lists]
    counts = _Counts()
    counts.size = ctypes.sizeof(counts)
    batch = lib.QuarnelBatchCreate(ctypes.byref(options))
    if not batch:
        raise MemoryError("no batch")
    try:
        status = DONE
        for add, path in inputs:
            status = add(batch, path)
            if status != DONE:
                break
        if status == DONE:
            status = _run(lib, batch, counts)
        reason = _decode(lib.QuarnelBatchWhy(batch))
    finally:
        lib.QuarnelBatchDestroy(batch)
    done = [results[j] for j in sorted(results)]
    failed = [r.source for r in done if r.outcome == "failed"]
    return status, Summary(counts.converted, counts.skipped, failed, done, status), reason


def _convert(**batch):
    status, summary, why = _batch(**batch)
    if status == REFUSED:
        raise ValueError(why)
    if status == NO_MODULE:
        raise OSError(why)
    return summary


def convert_tree(src_dir, out_dir, jobs=None, update=False, texel_size=1.0, module=None, memory=None):
    """Converts every .tga under src_dir into out_dir/<relative path>/<name>_n.tga
    on `jobs` workers (default: one per processor this process may use), as
    quarnel-convert --out-dir does; with update, only what is not up to date.
    memory: bytes the running jobs may take (default: half of memory)."""
    return _convert(paths=[src_dir], out_dir=out_dir, texel_size=texel_size, jobs=jobs, update=update,
                    memory=memory, module=module)


def convert_pairs(pairs, texel_size=1.0, jobs=None, update=False, module=None, memory=None):
    """Converts each (source, destination) pair, as quarnel-convert SRC DST ...
    does: at once on `jobs` workers, or in order where the pairs depend on
    each other."""
    return _convert(paths=[p for pair in pairs for p in pair], texel_size=texel_size, jobs=jobs, update=update,
                    memory=memory, module=module)


def create_bump_maps(pairs, texel_size=1.0, module=None):
    """Converts the pairs one after another, in order, as one call of the
    module's CreateBumpMaps with every record would."""
    return convert_pairs(pairs, texel_size=texel_size, jobs=1, module=module)
