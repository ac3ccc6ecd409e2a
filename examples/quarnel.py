#!/usr/bin/env python3
"""Quarnel from Python: converts height maps (24-bit TGA) into normal maps.

Loads the module with ctypes and calls its one export, CreateBumpMaps, with an
array of 1028-byte job records, one per (source, destination) pair:

    import quarnel
    quarnel.create_bump_maps([("rock.tga", "rock_n.tga"), ("sand.tga", "sand_n.tga")],
                             texel_size=1.0)

As a command, converting the pairs in one call:

    python3 quarnel.py [--library PATH] [--texel-size S] SRC DST [SRC DST ...]

Without --library the module is looked for beside this file, in ../lib from it
(an unpacked package), then wherever the system's loader finds it. Failed jobs
are shown by the module itself (a message box on Windows, a line on standard
error elsewhere); the command's status is 1 when a destination was not written.
"""
import argparse
import ctypes
import os
import sys

PATH_BYTES = 511  # each path field is 512 bytes, NUL included

if sys.platform == "win32":
    MODULE_NAME = "Quarnel.dll"
    # The names Microsoft's compiler gives void __cdecl CreateBumpMaps(SCreateBumpMap*, int).
    EXPORT_NAME = ("?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z" if ctypes.sizeof(ctypes.c_void_p) == 8
                   else "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z")
else:
    MODULE_NAME = "libQuarnel.so"
    EXPORT_NAME = "_Z14CreateBumpMapsP14SCreateBumpMapi"


class SCreateBumpMap(ctypes.Structure):
    _fields_ = [("srcpath", ctypes.c_char * 512),
                ("dstpath", ctypes.c_char * 512),
                ("texelsize", ctypes.c_float)]


assert ctypes.sizeof(SCreateBumpMap) == 1028


def encode_path(path):
    """The path as the module's file functions take it: the platform's 8-bit
    characters (the ANSI code page on Windows), at most 511 bytes, no NUL."""
    path = os.fspath(path)
    if isinstance(path, str):
        # On Windows fopen takes the ANSI code page; 'mbcs' refuses what it cannot map.
        path = path.encode("mbcs") if sys.platform == "win32" else os.fsencode(path)
    if b"\0" in path:
        raise ValueError(f"path {path!r} contains a NUL byte")
    if len(path) > PATH_BYTES:
        raise ValueError(f"path is {len(path)} bytes, more than the {PATH_BYTES} a job record holds: "
                         f"{path.decode(errors='replace')}")
    return path


def load(library=None):
    """The module's CreateBumpMaps, from `library` or the usual places."""
    if library is not None:
        candidates = [library]
    else:
        here = os.path.dirname(os.path.abspath(__file__))
        candidates = [os.path.join(here, MODULE_NAME), os.path.join(here, "..", "lib", MODULE_NAME), MODULE_NAME]
    for candidate in candidates:
        if candidate != MODULE_NAME and not os.path.exists(candidate):
            continue
        try:
            module = ctypes.CDLL(candidate)
        except OSError as error:
            if library is not None:
                raise OSError(f"cannot load {library}: {error}") from None
            continue
        try:
            create = module[EXPORT_NAME]
        except AttributeError:
            raise OSError(f"{candidate} has no export {EXPORT_NAME}") from None
        create.argtypes = [ctypes.POINTER(SCreateBumpMap), ctypes.c_int]
        create.restype = None
        return create
    raise OSError(f"cannot find {MODULE_NAME}; give its path with --library")


def create_bump_maps(pairs, texel_size=1.0, library=None):
    """Converts every (source, destination) pair in one call, in order. Every
    path is checked before anything is converted. Returns nothing: the module
    reports failed jobs to the user itself."""
    pairs = list(pairs)
    jobs = (SCreateBumpMap * len(pairs))()
    for job, (src, dst) in zip(jobs, pairs):
        job.srcpath = encode_path(src)
        job.dstpath = encode_path(dst)
        job.texelsize = texel_size
    if pairs:
        load(library)(jobs, len(pairs))


def _stamp(path):
    try:
        st = os.stat(path)
        return (st.st_mtime_ns, st.st_size)
    except OSError:
        return None


def main(argv=None):
    parser = argparse.ArgumentParser(description="Converts height maps (24-bit TGA) into normal maps.")
    parser.add_argument("--library", help=f"path of {MODULE_NAME}")
    parser.add_argument("--texel-size", type=float, default=1.0,
                        help="distance between neighbouring samples (default 1)")
    parser.add_argument("paths", nargs="+", metavar="SRC DST", help="source and destination, pair by pair")
    args = parser.parse_args(argv)
    if len(args.paths) % 2:
        parser.error("paths come in SRC DST pairs")
    pairs = list(zip(args.paths[0::2], args.paths[1::2]))
    before = {dst: _stamp(dst) for _, dst in pairs}
    try:
        create_bump_maps(pairs, args.texel_size, args.library)
    except (ValueError, OSError) as error:
        parser.exit(2, f"{parser.prog}: error: {error}\n")
    # A destination the call wrote exists with a new time or size; an older
    # file the call did not touch keeps both. Starting Python takes longer
    # than a clock tick of the usual file systems, so a file written by an earlier
    # run always has an earlier time.
    unwritten = [dst for dst, old in before.items() if _stamp(dst) is None or _stamp(dst) == old]
    for dst in unwritten:
        print(f"{parser.prog}: {dst} was not written", file=sys.stderr)
    return 1 if unwritten else 0


if __name__ == "__main__":
    sys.exit(main())
