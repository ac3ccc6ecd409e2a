"""convert_tree on an executor against a local run of the same tree: the
same maps (a link at a map's name replaced, OUT reached through a link),
counts and results, planned once here and converted in worker processes.
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


def tree(sample):
    for name in ("a.tga", "b.tga", "c.TGA", "sub/d.v2.tga", "sub/e.tga", "sub/deeper/f.tga", "g.tga", "h.tga"):
        os.makedirs(os.path.dirname("tree/" + name), exist_ok=True)
        shutil.copyfile(sample, "tree/" + name)
    with open(sample, "rb") as f, open("tree/bad.tga", "wb") as bad, open("victim", "w") as victim:
        bad.write(f.read(100))
        victim.write("not a map")
    os.symlink("out-real", "out-link")
    for out in ("out-local", "out-real"):
        os.makedirs(out)
        os.symlink(os.path.abspath("victim"), out + "/a_n.tga")


def maps(out):
    found = {}
    for folder, _, names in os.walk(out):
        for path in (os.path.join(folder, name) for name in names):
            with open(path, "rb") as f:
                found[os.path.relpath(path, out)] = (os.path.islink(path), f.read())
    return found


def seen(summary, out):
    return ((summary.converted, summary.skipped, summary.failed),
            [(r.source, os.path.relpath(r.destination, out), r.outcome, r.messages) for r in summary.results])


def check(executor, client=None):
    local = quarnel.convert_tree(os.path.abspath("tree"), os.path.abspath("out-local"), texel_size=0.0625)
    calls, progress = _engine._load.cache_info(), []
    # Relative paths, made absolute for workers that may run elsewhere.
    spread = quarnel.convert_tree("tree", "out-link", texel_size=0.0625, executor=executor, shard_size=2,
                                  progress=progress.append)
    assert seen(spread, "out-link") == seen(local, "out-local"), (seen(spread, "out-link"), seen(local, "out-local"))
    assert (local.converted, local.failed) == (8, 1), local
    assert maps("out-real") == maps("out-local") and not any(link for link, _ in maps("out-local").values())
    with open("victim") as f:
        assert f.read() == "not a map", "written through a link"
    assert [p.done for p in progress] == sorted({p.done for p in progress}) and progress[-1].done == 9, progress
    # Planned here, converted there: one more call of this process's engine.
    after = _engine._load.cache_info()
    assert after.hits + after.misses == calls.hits + calls.misses + 1, (calls, after)
    if client:  # each worker loaded its engine once, and the five shards ran on them
        loads = client.run(lambda: _engine._load.cache_info()).values()
        assert sum(c.hits + c.misses for c in loads) == 5 and all(c.misses <= 1 for c in loads), loads
    # Again with --update: the shards' skips counted; an empty tree still makes OUT.
    again = quarnel.convert_tree("tree", "out-link", update=True, executor=executor, shard_size=2)
    assert (again.converted, again.skipped, again.failed) == (0, 8, 1), again
    os.makedirs("empty")
    assert quarnel.convert_tree("empty", "out-empty", executor=executor).results == () and os.path.isdir("out-empty")
    # Refused here, or (an OUT that cannot be made) on the workers.
    for bad, kind, why in (({"texel_size": 0}, ValueError, "is not a texel size"),
                           ({"shard_size": 0}, ValueError, "shard_size"),
                           ({"out_dir": "tree/a.tga/out"}, OSError, "cannot make the folder")):
        try:
            quarnel.convert_tree("tree", **{"out_dir": "out-link", "executor": executor, **bad})
            raise AssertionError(f"{bad} was taken")
        except (ValueError, OSError) as error:
            assert type(error) is kind and why in str(error), error


def main(kind, sample):
    sample = os.path.abspath(sample)
    with tempfile.TemporaryDirectory() as root:
        os.chdir(root)
        tree(sample)
        if kind == "process":
            with concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
                check(pool)
            return 0
        from dask.distributed import Client, LocalCluster
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            check(client.get_executor(), client)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
