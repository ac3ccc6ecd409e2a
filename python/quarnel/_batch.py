"""One batch through the engine in this process: its options, its inputs,
its results, and the thread it runs on so that this one takes interrupts
and calls the progress callback."""
from __future__ import annotations

import ctypes
import dataclasses
import queue
import signal
import sys
import threading
from typing import Any, Callable, Optional, Sequence, Union

from ._engine import (CONSOLE, DONE, FAILED, NO_MODULE, REFUSED, Counts, Engine, JobFn, JobReport, Options,
                      ProgressFn, decode, engine)
from ._results import OUTCOMES, JobResult, Progress, log

ProgressCallback = Callable[[Progress], None]
Value = Union[int, float, str, None]


@dataclasses.dataclass(frozen=True)
class Settings:
    """What a batch runs with; plain data, so that a shard carries it to a
    worker process. Values are as a command line gives them."""
    out_dir: Optional[bytes] = None
    texel_size: Value = None
    jobs: Value = None
    memory: Value = None
    update: bool = False
    module: Optional[bytes] = None
    # What the engine prints (CONSOLE), or 'log': nothing, and each failure's
    # messages go to the 'quarnel' logger.
    console: str = "log"
    program: str = "quarnel"


@dataclasses.dataclass
class Ran:
    """What a batch gave: its status, its counts, a result a job by its
    place in the plan, and why it was refused or could not run."""
    status: int
    counts: Counts
    results: dict[int, JobResult]
    why: str


# The values the engine reads from text: field, its number, the option.
VALUES = (("jobs", 1, "--jobs"), ("texel_size", 2, "--texel-size"), ("memory", 3, "--memory"))


def _options(lib: Engine, settings: Settings) -> Options:
    """The engine's options; a value it refuses raises ValueError naming the
    option as the command line spells it."""
    options = lib.options()
    for field, value, flag in VALUES:
        given = getattr(settings, field)
        why = "" if given is None else lib.read_value(options, value, str(given))
        if why:
            raise ValueError(f"{flag}: {why}")
    options.update = bool(settings.update)
    options.console = CONSOLE.get(settings.console, CONSOLE["none"])
    options.outDir = settings.out_dir
    options.module = settings.module
    options.program = settings.program.encode()
    return options


def run(settings: Settings, fill: Callable[[Engine, int], int], progress: ProgressCallback | None = None,
        go: bool = True) -> Ran:
    """Runs a batch that fill gives its inputs (returning DONE or a refusal);
    with go False, only fills it. Nothing raises but a value refused, an
    interrupt, or what progress raised."""
    lib = engine()
    options = _options(lib, settings)
    results: dict[int, JobResult] = {}
    updates: queue.SimpleQueue[object] = queue.SimpleQueue()
    last = [(-1, -1, -1)]

    def on_job(context: Any, report: Any) -> None:
        r: JobReport = report.contents
        result = JobResult(decode(r.srcpath), decode(r.dstpath), OUTCOMES[r.outcome],
                           tuple(decode(r.messages[i]) for i in range(r.messageCount)))
        results[r.job] = result
        if result.outcome == "failed" and settings.console == "log":
            for message in result.messages:
                log.error("%s", lib.printable(message))

    def on_progress(context: Any, counts: Any) -> None:
        c: Counts = counts.contents
        # Called as jobs start too: only a change in the jobs done is news.
        if (c.converted, c.skipped, c.failed) != last[0]:
            last[0] = (c.converted, c.skipped, c.failed)
            updates.put(Progress(c.jobs, c.converted, c.skipped, c.failed, c.seconds))

    # The options keep the callbacks alive while the engine may call them.
    options.onJob = JobFn(on_job)
    if progress:
        options.onProgress = ProgressFn(on_progress)
    counts = Counts()
    counts.size = ctypes.sizeof(counts)
    batch = lib.create(options)
    try:
        status = fill(lib, batch)
        if status == DONE and go:
            status = _run(lib, batch, counts, updates, progress)
        why = lib.why(batch)
    finally:
        lib.destroy(batch)
    return Ran(status, counts, results, why)


def adds(paths: Sequence[bytes], lists: Sequence[bytes] = ()) -> Callable[[Engine, int], int]:
    """A fill that adds the paths, then the list files, as a command line
    gives them."""
    def fill(lib: Engine, batch: int) -> int:
        for path, listed in [(p, False) for p in paths] + [(p, True) for p in lists]:
            status = lib.add(batch, path, listed)
            if status != DONE:
                return status
        return DONE
    return fill


def raise_refusal(ran: Ran) -> None:
    """A usage error as ValueError; a module, or an OUT, that cannot be had
    as OSError."""
    if ran.status == REFUSED:
        raise ValueError(ran.why)
    if ran.status == NO_MODULE or (ran.status == FAILED and ran.why):
        raise OSError(ran.why)


_END = object()


def _run(lib: Engine, batch: int, counts: Counts, updates: queue.SimpleQueue[object],
         progress: ProgressCallback | None) -> int:
    """Runs the batch on a thread of its own, so that this one takes the
    interrupt (and cancels the batch) and calls progress; where no thread
    can be had, here, with the progress given at the end."""
    status: list[int] = []

    def call() -> None:
        try:
            status.append(lib.run(batch, counts))
        finally:
            updates.put(_END)

    # Not a daemon: the interpreter waits for it before it shuts down, so no
    # thread is stopped inside the engine. Started with the interrupt held, so
    # that it inherits the mask (the interrupt comes here, where the batch can
    # be cancelled) and that none comes before it runs.
    runner = threading.Thread(target=call, name="quarnel-batch")
    restore = _hold_interrupts()
    try:
        try:
            runner.start()
        except RuntimeError:  # no more threads (ulimit -u)
            call()
        finally:
            restore()
        _deliver(updates, progress)
    except BaseException:
        lib.cancel(batch)
        while runner.ident is not None and runner.is_alive():
            try:
                runner.join()
            except BaseException:  # a second interrupt: still no job left half-made
                pass
        raise
    if runner.ident is not None:
        runner.join()
    return status[0]


def _hold_interrupts() -> Callable[[], object]:
    """Holds SIGINT, SIGTERM and SIGHUP on this thread (not on Windows, whose console
    events come on a thread of their own); returns what restores the mask."""
    if sys.platform == "win32":
        return lambda: None
    held = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})
    return lambda: signal.pthread_sigmask(signal.SIG_SETMASK, held)


def _deliver(updates: queue.SimpleQueue[object], progress: ProgressCallback | None) -> None:
    """Gives progress the latest counts whenever it is free, until the end."""
    pending: Progress | None = None
    while True:
        try:
            # Windows waits without taking an interrupt; elsewhere the wait takes it.
            item = updates.get(timeout=0.25) if sys.platform == "win32" else updates.get()
        except queue.Empty:
            continue
        if item is _END:
            break
        assert isinstance(item, Progress)
        pending = item
        if progress and updates.empty():
            progress(pending)
            pending = None
    if progress and pending:
        progress(pending)
