"""python -m quarnel: the batch engine's command line from Python, with
quarnel-convert's options, lines, summary and exit statuses (but no bundled
sample: SRC is needed).

    python -m quarnel [OPTIONS] --out-dir DIR SRC ...
    python -m quarnel [OPTIONS] SRC DST [SRC DST ...]
"""
from __future__ import annotations

import signal
import sys
from types import FrameType
from typing import Any, Callable, NoReturn, Sequence

from ._batch import VALUES, Settings, adds, run
from ._engine import CANCELLED, DONE, FAILED, NO_MODULE, REFUSED, UNREPORTED, Engine, encode, engine

_EXIT = {DONE: 0, FAILED: 1, REFUSED: 2, UNREPORTED: 3, NO_MODULE: 1}

_USAGE = """usage: python -m quarnel [OPTIONS] --out-dir DIR SRC ...   (SRC: files and folders)
       python -m quarnel [OPTIONS] SRC DST [SRC DST ...]
options:
  --out-dir DIR      DIR/<name>_n.tga for each SRC file, DIR/<path>/<name>_n.tga below a folder
  --texel-size S     distance between neighbouring samples: finite, not 0 (default 1)
  -j, --jobs N       worker threads, 1 to 4096 (default: one per processor)
  --update           skip a map of the size its source implies that is not older than it
  --memory SIZE      bytes the running jobs may take, or K, M, G, T (default: half of memory)
  --files-from FILE  more paths, one a line ('-': standard input)
  --module PATH      the Quarnel module (default: beside the engine)
  -q, --quiet        failures only
  -h, --help         this text
  --version          the version
exit status: 0 all converted or skipped, 1 a job failed, 2 a usage error,
             3 the report could not be written, 129, 130 or 143 interrupted
"""

# Each option: the field it fills, and what its value is (None: a switch).
_FLAGS = {"--out-dir": ("out_dir", "DIR"), "--texel-size": ("texel_size", "S"), "--jobs": ("jobs", "N"),
          "-j": ("jobs", "N"), "--memory": ("memory", "SIZE"), "--update": ("update", None),
          "--files-from": ("files_from", "FILE"), "--module": ("module", "PATH"), "--quiet": ("quiet", None),
          "-q": ("quiet", None), "--help": ("help", None), "-h": ("help", None), "--version": ("version", None)}

# What ends a run as SIGTERM does: the exit status is 128 and its number.
if sys.platform == "win32":
    _ENDING: tuple[signal.Signals, ...] = (signal.SIGTERM,)
else:
    _ENDING = (signal.SIGTERM, signal.SIGHUP)


class _Exit(Exception):
    """The command line is done with: its exit status."""

    def __init__(self, status: int) -> None:
        super().__init__(status)
        self.status = status


def _say(text: str) -> int:
    """Text on standard output: 0, or the status that says the report could
    not be written (a closed or full output)."""
    try:
        if sys.stdout is None:
            return _EXIT[UNREPORTED]
        sys.stdout.write(text)
        sys.stdout.flush()
        return 0
    except OSError:
        return _EXIT[UNREPORTED]


def _usage_error(what: str) -> NoReturn:
    """What is wrong, an argument as given in it printed as the engine prints names."""
    if sys.stderr is not None:
        sys.stderr.write(f"quarnel: {engine().printable(what)}\nTry 'python -m quarnel --help' for more.\n")
    raise _Exit(_EXIT[REFUSED])


def _apply(got: dict[str, Any], name: str, value: str) -> None:
    """One option and its value; a number the engine refuses is a usage error."""
    field = _FLAGS[name][0]
    if field == "help":
        raise _Exit(_say(_USAGE))
    if field == "version":
        raise _Exit(_say(f"quarnel {engine().version()}\n"))
    number = [v for f, v, _ in VALUES if f == field]
    if number:
        why = engine().read_value(engine().options(), number[0], value)
        if why:
            _usage_error(f"{name}: {why}")
    if field == "files_from":
        got[field].append(value)
    else:
        got[field] = value if _FLAGS[name][1] else True


def _parse(argv: Sequence[str]) -> dict[str, Any]:
    """The options in the order given, as quarnel-convert reads them: a
    value inline (--jobs=2, -j2, -j=2, -qj2) or the next argument, whatever
    it begins with; -- ends the options."""
    got: dict[str, Any] = {"paths": [], "files_from": []}
    at, options_end = 0, False

    def option(name: str, given: str | None) -> None:
        nonlocal at
        if _FLAGS[name][1] is None:
            if given is not None:
                _usage_error(f"{name} takes no value")
            _apply(got, name, "")
        elif given is not None:
            _apply(got, name, given)
        elif at == len(argv):
            _usage_error(f"{name} needs a value: {name} {_FLAGS[name][1]}")
        else:
            at += 1
            _apply(got, name, argv[at - 1])

    while at < len(argv):
        arg = argv[at]
        at += 1
        if options_end or len(arg) < 2 or arg[0] != "-":
            got["paths"].append(arg)
        elif arg == "--":
            options_end = True
        elif arg[1] == "-":
            name, equals, value = arg.partition("=")
            if name not in _FLAGS:
                _usage_error(f"unknown option '{arg}'")
            option(name, value if equals else None)
        else:
            for i in range(1, len(arg)):
                name = "-" + arg[i]
                if name not in _FLAGS:
                    _usage_error(f"unknown option '{name}'" + (f" in '{arg}'" if len(arg) > 2 else ""))
                if _FLAGS[name][1] is not None and i + 1 < len(arg):
                    _apply(got, name, arg[i + 2:] if arg[i + 1] == "=" else arg[i + 1:])
                    break
                option(name, None)
    if not got["paths"] and not got["files_from"]:
        _usage_error("--out-dir needs a SRC: a file or a folder" if "out_dir" in got else "no SRC given")
    return got


def _terminate(signum: int, frame: FrameType | None) -> NoReturn:
    # Raised where the main thread waits for the batch, which then cancels it.
    raise SystemExit(128 + signum)


def _dying(fill: Callable[[Engine, int], int]) -> Callable[[Engine, int], int]:
    """fill with the interrupts' default actions: planning writes nothing,
    and a list read from a terminal or a pipe ends at once, as the tool's."""
    def planned(lib: Engine, batch: int) -> int:
        kept = {s: signal.signal(s, signal.SIG_DFL) for s in (signal.SIGINT,) + _ENDING}
        try:
            return fill(lib, batch)
        finally:
            for s, handler in kept.items():
                signal.signal(s, handler)
    return planned


def _main(argv: Sequence[str]) -> int:
    args = _parse(argv)
    for s in _ENDING:
        signal.signal(s, _terminate)
    if sys.platform == "win32":  # Ctrl-Break, as quarnel-convert takes it: 143
        signal.signal(signal.SIGBREAK, lambda signum, frame: _terminate(signal.SIGTERM, frame))
    try:
        fill = _dying(adds([encode(p) for p in args["paths"]], [encode(p) for p in args["files_from"]]))
        out_dir, module = args.get("out_dir"), args.get("module")
        settings = Settings(None if out_dir is None else encode(out_dir), args.get("texel_size"), args.get("jobs"),
                            args.get("memory"), bool(args.get("update")), None if module is None else encode(module),
                            "quiet" if args.get("quiet") else "auto")
        status = run(settings, fill).status
    except ValueError as error:
        _usage_error(str(error))
    except KeyboardInterrupt:
        return 128 + signal.SIGINT
    finally:
        for s in _ENDING:
            signal.signal(s, signal.SIG_DFL)
    return 128 + signal.SIGINT if status == CANCELLED else _EXIT[status]


def main(argv: Sequence[str] | None = None) -> int:
    try:
        return _main(sys.argv[1:] if argv is None else argv)
    except _Exit as done:
        return done.status
    except OSError as error:
        if sys.stderr is not None:
            print(f"quarnel: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
