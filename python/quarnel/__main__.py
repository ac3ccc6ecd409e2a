"""python -m quarnel: the batch engine's command line from Python, with
quarnel-convert's options, lines, summary and exit statuses (but no bundled
sample: SRC is needed).

    python -m quarnel [OPTIONS] --out-dir DIR SRC ...
    python -m quarnel [OPTIONS] SRC DST [SRC DST ...]
"""
from __future__ import annotations

import argparse
import signal
import sys
from types import FrameType
from typing import Any, Callable, NoReturn, Sequence

from ._batch import Settings, adds, run
from ._engine import CANCELLED, DONE, FAILED, NO_MODULE, REFUSED, UNREPORTED, encode, engine

_EXIT = {DONE: 0, FAILED: 1, REFUSED: 2, UNREPORTED: 3, NO_MODULE: 1}


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


class _Say(argparse.Action):
    """--help and --version: their text said, then the exit."""

    def __init__(self, option_strings: Sequence[str], dest: str, text: Callable[[argparse.ArgumentParser], str],
                 **kwargs: Any) -> None:
        super().__init__(option_strings, dest, nargs=0, **kwargs)
        self.text = text

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> NoReturn:
        parser.exit(_say(self.text(parser)))


def _values_joined(parser: argparse.ArgumentParser, argv: Sequence[str]) -> list[str]:
    """argv with each option that takes a value joined to it (--out-dir=-x):
    argparse takes a next argument that begins with '-' for an option, where
    a value is a value, whatever it begins with, as quarnel-convert takes it
    (but "--", which argparse drops from any value)."""
    valued = {name for action in parser._actions if action.nargs is None for name in action.option_strings}
    joined: list[str] = []
    at = 0
    while at < len(argv):
        if argv[at] == "--":
            return joined + list(argv[at:])
        taken = 2 if argv[at] in valued and argv[at + 1:at + 2] not in ([], ["--"]) else 1
        joined.append("=".join(argv[at:at + taken]))
        at += taken
    return joined


class _Parser(argparse.ArgumentParser):
    """argparse's, but that an argument named in a usage error is printed as
    the engine prints names."""

    def error(self, message: str) -> NoReturn:
        super().error(engine().printable(message))


def _parser() -> argparse.ArgumentParser:
    p = _Parser(prog="quarnel", allow_abbrev=False, add_help=False,
                                description="Converts height maps (24-bit TGA) into normal maps.",
                                epilog="exit status: 0 all converted or skipped, 1 a job failed, 2 a usage error, "
                                       "3 the report could not be written, 130 or 143 interrupted")
    p.add_argument("-h", "--help", action=_Say, text=lambda parser: parser.format_help(),
                   help="show this help message and exit")
    p.add_argument("--out-dir", metavar="DIR",
                   help="DIR/<name>_n.tga for each SRC file, DIR/<path>/<name>_n.tga below a folder")
    p.add_argument("--texel-size", metavar="S",
                   help="distance between neighbouring samples: finite, not 0 (default 1)")
    p.add_argument("-j", "--jobs", metavar="N", help="worker threads, 1 to 4096 (default: one per processor)")
    p.add_argument("--update", action="store_true",
                   help="skip a map of the size its source implies that is not older than it")
    p.add_argument("--memory", metavar="SIZE",
                   help="bytes the running jobs may take, or K, M, G, T (default: half of memory)")
    p.add_argument("--files-from", metavar="FILE", action="append", default=[],
                   help="more paths, one a line ('-': standard input)")
    p.add_argument("--module", metavar="PATH", help="the Quarnel module (default: beside the engine)")
    p.add_argument("-q", "--quiet", action="store_true", help="failures only")
    p.add_argument("--version", action=_Say, text=lambda parser: f"quarnel {engine().version()}\n",
                   help="the version")
    p.add_argument("paths", nargs="*", metavar="SRC [DST]")
    return p


def _terminate(signum: int, frame: FrameType | None) -> NoReturn:
    # Raised where the main thread waits for the batch, which then cancels it.
    raise SystemExit(128 + signum)


def main(argv: Sequence[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(_values_joined(parser, sys.argv[1:] if argv is None else argv))
    if not args.paths and not args.files_from:
        parser.error("no SRC given")
    signal.signal(signal.SIGTERM, _terminate)
    if sys.platform == "win32":  # Ctrl-Break, as quarnel-convert takes it: 143
        signal.signal(signal.SIGBREAK, lambda signum, frame: _terminate(signal.SIGTERM, frame))
    try:
        fill = adds([encode(p) for p in args.paths], [encode(p) for p in args.files_from])
        settings = Settings(None if args.out_dir is None else encode(args.out_dir), args.texel_size, args.jobs,
                            args.memory, args.update, None if args.module is None else encode(args.module),
                            "quiet" if args.quiet else "auto")
        status = run(settings, fill).status
    except ValueError as error:
        parser.error(str(error))
    except OSError as error:
        print(f"quarnel: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 128 + signal.SIGINT
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_DFL)
    return 128 + signal.SIGINT if status == CANCELLED else _EXIT[status]


if __name__ == "__main__":
    sys.exit(main())
