#!/usr/bin/env python3
"""Quarnel from Python: converts height maps (24-bit TGA) into normal maps.

Loads the module with ctypes and calls its one export, CreateBumpMaps, with
1028-byte job records:

    import quarnel
    quarnel.create_bump_maps([("rock.tga", "rock_n.tga"), ("sand.tga", "sand_n.tga")],
                             texel_size=1.0)        # one call, in order
    summary = quarnel.convert_tree("textures", "normals", jobs=4, update=True)
    # summary.converted, summary.skipped, summary.failed (the failed sources)

As a command, with the options, destinations, summary line and exit status
of quarnel-convert:

    python3 quarnel.py [--library PATH] [--texel-size S] [--jobs N] [--update] --out-dir OUT SRC...
    python3 quarnel.py [--library PATH] [--texel-size S] [--jobs N] [--update] SRC DST [SRC DST ...]

Without --library the module is looked for beside this file, in ../lib from it
(an unpacked package), then wherever the system's loader finds it. Each record
gets a call of its own on one of N threads: ctypes lets go of the interpreter
lock during the call, so they convert in parallel. Where the module reports on
standard error (not Windows, where it shows message boxes) its messages are
taken and shown as "quarnel.py: <text>".
"""
import argparse
import collections
import ctypes
import os
import sys
import threading
import time

PATH_BYTES = 511  # each path field is 512 bytes, NUL included
PROG = "quarnel.py"

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

Summary = collections.namedtuple("Summary", "converted skipped failed")


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


def _record(src, dst, texel_size):
    job = SCreateBumpMap()
    job.srcpath = encode_path(src)
    job.dstpath = encode_path(dst)
    job.texelsize = texel_size
    return job


def create_bump_maps(pairs, texel_size=1.0, library=None):
    """Converts every (source, destination) pair in one call, in order. Every
    path is checked before anything is converted. Returns nothing: the module
    reports failed jobs to the user itself."""
    pairs = list(pairs)
    jobs = (SCreateBumpMap * len(pairs))()
    for i, (src, dst) in enumerate(pairs):
        jobs[i] = _record(src, dst, texel_size)
    if pairs:
        load(library)(jobs, len(pairs))


# Whether a call wrote its destination, told from outside (the module returns
# no status): the file is there with the size the source's header calls for,
# and its time or size is new. Before the call, a destination written within
# a tick of its file system (50 ms; 2 s where times are whole seconds) is
# waited past, so that a new write shows.
MARGIN_NS, WHOLE_SECOND_MARGIN_NS = 50_000_000, 2_000_000_000


def _stat(path):
    try:
        return os.stat(path)
    except (OSError, ValueError):
        return None


def _expected_size(src):
    st = _stat(src)
    if st is None or not os.path.isfile(src):
        return -1  # a FIFO would block; the module refuses anything but a file
    try:
        with open(src, "rb") as f:
            h = f.read(18)
    except OSError:
        return -1
    if len(h) < 18:
        return -1
    u16 = lambda at: h[at] | h[at + 1] << 8  # noqa: E731
    cmap = u16(5) * ((h[7] + 7) // 8) if h[1] == 1 else 0
    return 18 + h[0] + cmap + 3 * u16(12) * u16(14)


def _wait_before_call(before, now_ns):
    if before is None:
        return 0
    margin = WHOLE_SECOND_MARGIN_NS if before.st_mtime_ns % 1_000_000_000 == 0 else MARGIN_NS
    return min(max(before.st_mtime_ns + margin - now_ns, 0), margin)


def _written(before, after, expected):
    changed = before is None or (after is not None and (after.st_mtime_ns, after.st_size) !=
                                 (before.st_mtime_ns, before.st_size))
    return after is not None and changed and expected >= 0 and after.st_size == expected


def _up_to_date(src, dst):
    """As make judges, from the stats: the destination is there and not older
    than the source."""
    return src is not None and dst is not None and dst.st_mtime_ns >= src.st_mtime_ns


def _key(path):
    return os.path.normcase(os.fsdecode(path))


def _identity(path):
    st = _stat(path)
    return None if st is None else (st.st_dev, st.st_ino)


def _walk(folder, out, visited, found, unreadable):
    try:
        entries = sorted(os.scandir(folder), key=lambda e: os.fsencode(e.name))
    except OSError:
        print(f"{PROG}: cannot read the folder {folder}", file=sys.stderr)
        unreadable.append(folder)
        return
    for entry in entries:
        name = entry.name.lower()
        if entry.is_dir():
            ident = _identity(entry.path)
            if ident is not None and ident not in visited:
                visited.add(ident)
                _walk(entry.path, os.path.join(out, entry.name), visited, found, unreadable)
        elif name.endswith(".tga") and not name.endswith("_n.tga"):
            found.append((entry.path, os.path.join(out, entry.name[:-4] + "_n.tga")))


def out_dir_jobs(out_dir, sources, unreadable=None):
    """(source, destination) pairs as quarnel-convert --out-dir makes them: a
    file writes OUT/<name>_n.tga; every .tga under a folder (the extension in
    any case, links followed, each folder once) OUT/<relative path>/<name>_n.tga,
    but *_n.tga files, taken for earlier output. Folders that cannot be read
    are said and appended to unreadable. Raises ValueError where two sources
    would write one file, or one writes another's source."""
    pairs, visited = [], set()
    unreadable = [] if unreadable is None else unreadable
    for src in sources:
        if os.path.isdir(src):
            ident = _identity(src)
            if ident not in visited:
                visited.add(ident)
                _walk(src, out_dir, visited, pairs, unreadable)
        else:
            pairs.append((src, os.path.join(out_dir, os.path.splitext(os.path.basename(src))[0] + "_n.tga")))
    why = _dependence(pairs)
    if why:
        raise ValueError(why)
    return pairs


def _dependence(pairs):
    """Why the pairs cannot run at once in any order (a destination named
    twice, or another's source, by name or by identity), or None."""
    readers = collections.defaultdict(set)
    for i, (src, _) in enumerate(pairs):
        readers[_key(src)].add(i)
        readers[_identity(src)].add(i)
    writers = {}
    for i, (src, dst) in enumerate(pairs):
        for key in [_key(dst), _identity(dst)]:
            if key is None:
                continue
            other = writers.setdefault(key, i)
            if other != i:
                return f"{os.fsdecode(pairs[other][0])} and {os.fsdecode(src)} would both write {os.fsdecode(dst)}"
            if readers.get(key, set()) - {i}:
                return f"{os.fsdecode(src)} would write {os.fsdecode(dst)}, which another job reads"
    return None


class _Console:
    """What a batch prints, one whole line per write: "[k/N] SRC" as jobs
    start, or on a terminal one line in place with files done, files per second
    and time left (other lines are written below it and it is drawn again);
    nothing in quiet mode but errors. Callers hold the batch's lock."""

    def __init__(self, mode, total, err_fd):
        self.mode, self.total, self.err_fd = mode, total, err_fd
        self.done, self.shown, self.start, self.drawn = 0, 0, time.monotonic(), 0.0
        sys.stdout.flush()
        if mode == "terminal" and total:
            self._draw()

    def _write(self, fd, data):
        # Output nobody reads any more (a closed pipe) must not stop the batch.
        try:
            while data:
                data = data[os.write(fd, data):]
        except OSError:
            pass

    def _clear(self):
        if self.shown:
            self._write(1, b"\r" + b" " * self.shown + b"\r")
        self.shown = 0

    def _draw(self):
        line = f"[{self.done}/{self.total}]"
        elapsed = time.monotonic() - self.start
        if self.done and elapsed > 0:
            rate = self.done / elapsed
            left = int((self.total - self.done) / rate + 0.5)
            clock = f"{left // 3600}:{left // 60 % 60:02}:{left % 60:02}" if left >= 3600 else \
                f"{left // 60}:{left % 60:02}"
            line += f" {rate:.1f} files/s, {clock} left"
        self._write(1, b"\r" + line.ljust(self.shown).encode())
        self.shown, self.drawn = len(line), time.monotonic()

    def started(self, k, src):
        if self.mode == "lines":
            self._write(1, b"[%d/%d] %s\n" % (k, self.total, src))

    def finished(self):
        self.done += 1
        if self.mode == "terminal" and (self.done == self.total or time.monotonic() - self.drawn >= 0.1):
            self._draw()

    def line(self, data, err=True):
        redraw = self.shown > 0
        self._clear()
        self._write(self.err_fd if err else 1, data + b"\n")
        if redraw:
            self._draw()

    def summary(self, converted, skipped, failed):
        self._clear()
        if self.mode != "quiet":
            self._write(1, b"%d converted, %d skipped, %d failed\n" % (converted, skipped, failed))


class _MessageRoute:
    """The module's messages during a batch, to deliver(job, text, message);
    finish(job) once every message of the job's call is in. On POSIX its
    standard error becomes a pipe that a thread reads: a line "!!! Error !!!:
    <text>" belongs to the running job whose quoted path it names. After its
    call a worker writes a fence naming its job and goes on; the pipe keeps
    order, so once the reader meets the fence every message of that call has
    been delivered, and it finishes the job."""
    FENCE, CAPTION = b"\x1equarnel-fence ", b"!!! Error !!!: "

    def __init__(self, deliver, finish):
        self.deliver, self.finish, self.running, self.lock = deliver, finish, {}, threading.Lock()
        self.active, self.err_fd = os.name == "posix", 2
        if self.active:
            sys.stderr.flush()
            self.err_fd = os.dup(2)
            read_end, write_end = os.pipe()
            os.dup2(write_end, 2)
            os.close(write_end)
            self.read_end = read_end
            self.reader = threading.Thread(target=self._read, daemon=True)
            self.reader.start()

    def enter(self, job, src, dst):
        with self.lock:
            self.running[job] = [b"'" + src + b"'", b"'" + dst + b"'", 0]

    def leave(self, job):
        fence = self.FENCE + b"%d\n" % job
        if not (self.active and os.write(2, fence) == len(fence)):
            self._finish(job)

    def _finish(self, job):
        with self.lock:
            del self.running[job]
        self.finish(job)

    def close(self):
        if self.active:
            sys.stderr.flush()
            os.dup2(self.err_fd, 2)  # the pipe's last write end closes: the reader ends
            self.reader.join()
            os.close(self.read_end)
            os.close(self.err_fd)

    def _read(self):
        pending = b""
        while True:
            data = os.read(self.read_end, 4096)
            if not data:
                break
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                at = line.find(self.FENCE)
                if at < 0:
                    self._line(line)
                    continue
                if at > 0:  # text left without its newline by someone else
                    self._line(line[:at])
                self._finish(int(line[at + len(self.FENCE):]))
        if pending:
            self._line(pending)

    def _line(self, line):
        if not line.startswith(self.CAPTION):
            self.deliver(-1, line, False)
            return
        owner = None
        with self.lock:
            for job, running in self.running.items():
                if (running[0] in line or running[1] in line) and (owner is None or
                                                                   (self.running[owner][2] and not running[2])):
                    owner = job
            if owner is not None:
                self.running[owner][2] += 1
        self.deliver(-1 if owner is None else owner, line[len(self.CAPTION):], True)


def available_processors():
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


def convert_pairs(pairs, texel_size=1.0, jobs=None, update=False, library=None, make_folders=False,
              progress="quiet", failed_before=()):
    """Converts each pair in a call of its own on `jobs` threads and prints
    the summary line (but in quiet mode). A job failed when the module gave a
    message during its call or its destination was not written. Returns a
    Summary; its `failed` lists the failed sources (failed_before first)."""
    records = [_record(src, dst, texel_size) for src, dst in pairs]
    create = load(library)
    todo = [i for i, (src, dst) in enumerate(pairs) if not (update and _up_to_date(_stat(src), _stat(dst)))]
    lock = threading.Lock()
    state = {"next": 0, "converted": 0}
    messages, written = [0] * len(records), [False] * len(records)
    failed = []

    def deliver(job, text, message):
        with lock:
            if job >= 0:
                messages[job] += 1
            console.line(PROG.encode() + b": " + text if message else text)

    def finish(j):
        with lock:
            if not written[j] and not messages[j]:
                console.line(b"%s: %s was not written" % (PROG.encode(), records[j].dstpath))
            if written[j] and not messages[j]:
                state["converted"] += 1
            else:
                failed.append(pairs[j][0])
            console.finished()

    def convert(j):
        record = records[j]
        if make_folders:
            try:
                os.makedirs(os.path.dirname(record.dstpath) or b".", exist_ok=True)
            except OSError:
                deliver(j, b"cannot make the folder of " + record.dstpath, True)
                return finish(j)
        before = _stat(record.dstpath)
        wait = _wait_before_call(before, time.time_ns())
        if wait:
            time.sleep(wait / 1e9)
        expected = _expected_size(record.srcpath)
        route.enter(j, record.srcpath, record.dstpath)
        create(ctypes.byref(record), 1)
        written[j] = _written(before, _stat(record.dstpath), expected)
        route.leave(j)

    def work():
        while True:
            with lock:
                if state["next"] == len(todo):
                    return
                j = todo[state["next"]]
                state["next"] += 1
                console.started(state["next"], records[j].srcpath)
            convert(j)

    console = _Console(progress, len(todo), 2)
    route = _MessageRoute(deliver, finish)
    console.err_fd = route.err_fd
    threads = [threading.Thread(target=work) for _ in range(min(jobs or available_processors(), len(todo)) - 1)]
    try:
        for thread in threads:
            thread.start()
        work()
    except BaseException:  # an interrupt: the other threads take no more jobs
        with lock:
            state["next"] = len(todo)
        raise
    finally:
        for thread in threads:
            thread.join()
        route.close()
        console.err_fd = 2
    failed = list(failed_before) + failed
    console.summary(state["converted"], len(pairs) - len(todo), len(failed))
    return Summary(state["converted"], len(pairs) - len(todo), failed)


def convert_tree(src_dir, out_dir, jobs=None, update=False, texel_size=1.0, library=None):
    """Converts every .tga under src_dir into out_dir/<relative path>/<name>_n.tga
    on `jobs` threads (default: one per processor this process may use); with
    update, only those whose normal map is missing or older. Returns a Summary."""
    unreadable = []
    pairs = out_dir_jobs(out_dir, [src_dir], unreadable)
    return convert_pairs(pairs, texel_size, jobs, update, library, make_folders=True, failed_before=unreadable)


def main(argv=None):
    parser = argparse.ArgumentParser(prog=PROG, description="Converts height maps (24-bit TGA) into normal maps.")
    parser.add_argument("--library", help=f"path of {MODULE_NAME}")
    parser.add_argument("--texel-size", type=float, default=1.0,
                        help="distance between neighbouring samples (default 1)")
    parser.add_argument("-j", "--jobs", type=int, help="threads (default: one per processor)")
    parser.add_argument("--update", action="store_true", help="skip sources whose normal map is not older")
    parser.add_argument("--out-dir", help="write OUT/<name>_n.tga for each SRC file, mirror SRC folders")
    parser.add_argument("-q", "--quiet", action="store_true", help="print errors only")
    parser.add_argument("paths", nargs="+", metavar="SRC [DST]")
    args = parser.parse_args(argv)
    if args.jobs is not None and args.jobs < 1:
        parser.error("--jobs needs a number of at least 1")
    progress = "quiet" if args.quiet else "terminal" if sys.stdout.isatty() else "lines"
    try:
        if args.out_dir is not None:
            unreadable = []
            pairs = out_dir_jobs(args.out_dir, args.paths, unreadable)
            try:
                os.makedirs(args.out_dir, exist_ok=True)
            except OSError:
                print(f"{PROG}: cannot make the folder {args.out_dir}", file=sys.stderr)
                return 1
            summary = convert_pairs(pairs, args.texel_size, args.jobs, args.update, args.library, True, progress,
                                unreadable)
        else:
            if len(args.paths) % 2:
                parser.error("paths come in SRC DST pairs (or give --out-dir)")
            pairs = list(zip(args.paths[0::2], args.paths[1::2]))
            # One call after another in the order given, as a single call would.
            jobs = 1 if _dependence(pairs) else args.jobs
            summary = convert_pairs(pairs, args.texel_size, jobs, args.update, args.library, False, progress)
    except (ValueError, OSError) as error:
        parser.exit(2, f"{PROG}: error: {error}\n")
    return 1 if summary.failed else 0


if __name__ == "__main__":
    sys.exit(main())
