"""convert_tree on an executor against a local run of the same tree: the
same maps (a link where a map goes replaced, OUT reached through a link),
counts and results, the plan made once here and run in worker processes.
    executors.py process|dask SAMPLE
"""
import concurrent.futures
import multiprocessing
import os
import shutil
import sys
import tempfile

import quarnel
from quarnel import _engine


def tree(root, sample):
    for name in ("a.tga", "b.tga", "c.TGA", "sub/d.v2.tga", "sub/e.tga", "sub/deeper/f.tga", "g.tga", "h.tga"):
        os.makedirs(os.path.dirname(os.path.join(root, "tree", name)), exist_ok=True)
        shutil.copyfile(sample, os.path.join(root, "tree", name))
    with open(sample, "rb") as f, open(os.path.join(root, "tree", "bad.tga"), "wb") as bad:
        bad.write(f.read(100))
    with open(os.path.join(root, "victim"), "w") as f:
        f.write("not a map")
    os.makedirs(os.path.join(root, "out-real"))
    os.symlink(os.path.join(root, "out-real"), os.path.join(root, "out-link"))
    for out in ("out-local", "out-real"):
        os.makedirs(os.path.join(root, out), exist_ok=True)
        os.symlink(os.path.join(root, "victim"), os.path.join(root, out, "a_n.tga"))


def maps(out):
    found = {}
    for folder, _, names in os.walk(out):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, out)] = (os.path.islink(path), f.read())
    return found


def seen(summary, out):
    return ((summary.converted, summary.skipped, summary.failed),
            [(r.source, os.path.relpath(r.destination, out), r.outcome, r.messages) for r in summary.results])


def check(root, executor, dask_client=None):
    src, local_out, out = (os.path.join(root, p) for p in ("tree", "out-local", "out-link"))
    local = quarnel.convert_tree(src, local_out, texel_size=0.0625)
    calls = _engine._load.cache_info()
    progress = []
    # Relative paths, made absolute for workers that may run elsewhere.
    os.chdir(root)
    spread = quarnel.convert_tree("tree", "out-link", texel_size=0.0625, executor=executor, shard_size=2,
                                  progress=progress.append)
    assert seen(spread, out) == seen(local, local_out), (seen(spread, out), seen(local, local_out))
    assert (local.converted, local.failed) == (8, 1), local
    assert maps(os.path.join(root, "out-real")) == maps(local_out), "the maps differ"
    assert not any(link for link, _ in maps(local_out).values()), "a link was left where a map goes"
    with open(os.path.join(root, "victim")) as f:
        assert f.read() == "not a map", "written through a link"
    assert [p.done for p in progress] == sorted({p.done for p in progress}) and progress[-1].done == 9, progress
    # Planned here, converted there: this process loaded nothing more.
    after = _engine._load.cache_info()
    assert after.hits + after.misses == calls.hits + calls.misses + 1, (calls, after)
    if dask_client:
        loads = dask_client.run(lambda: _engine._load.cache_info()).values()
        assert sum(c.hits + c.misses for c in loads) == 5 and all(c.misses <= 1 for c in loads), loads
    for bad, why in (({"texel_size": 0}, "is not a texel size"), ({"shard_size": 0}, "shard_size")):
        try:
            quarnel.convert_tree(src, out, executor=executor, **bad)
            raise AssertionError(f"{bad} was taken")
        except ValueError as error:
            assert why in str(error), error


def main(kind, sample):
    with tempfile.TemporaryDirectory() as root:
        tree(root, sample)
        if kind == "process":
            with concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
                check(root, pool)
            return 0
        try:
            from dask.distributed import Client, LocalCluster
        except ImportError as error:
            print(f"skipped: {error}")
            return 77
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            check(root, client.get_executor(), client)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
