"""Quarnel from Python: height maps (24-bit TGA) into normal maps, through the
batch engine quarnel-convert runs on (QuarnelBatch.h), with ctypes.

    import quarnel
    summary = quarnel.convert_tree("textures", "normals", update=True)
    print(summary.converted, summary.skipped, summary.failed)
    for result in summary.failures:
        print(result.source, result.messages)

    quarnel.convert_pairs([("rock.tga", "rock_n.tga")], texel_size=0.5)
    quarnel.create_bump_maps([("a.tga", "b.tga"), ("b.tga", "c.tga")])  # in order

    with concurrent.futures.ProcessPoolExecutor() as pool:   # or a Dask client's
        quarnel.convert_tree("/shared/textures", "/shared/normals", executor=pool)

`python -m quarnel` is the command line, with quarnel-convert's options.

The engine (libQuarnelBatch.so, QuarnelBatch.dll) and the module it loads
lie beside this file in a wheel; a build's or an install's copy of the
package finds them where those put them. The engine decides every rule of
a batch; this package only translates. A usage error raises ValueError, a
module that does not load or an OUT that cannot be made OSError. Each
failed job's messages also go to the 'quarnel' logger, silent until the
application sets up logging. On an interrupt (KeyboardInterrupt, or any
exception from the progress callback) no new job starts and the running
ones finish before it goes on.
"""
from __future__ import annotations

import concurrent.futures
import os
from typing import Iterable, Tuple

from . import _batch, _scale
from ._batch import ProgressCallback, Settings
from ._engine import PathLike, encode
from ._results import JobResult, Outcome, Progress, Summary

__all__ = ["convert_tree", "convert_pairs", "create_bump_maps", "JobResult", "Outcome", "Progress", "Summary"]


def _settings(out_dir: PathLike | None, texel_size: float, jobs: int | None, update: bool, memory: int | str | None,
              module: PathLike | None) -> Settings:
    return Settings(None if out_dir is None else encode(out_dir), texel_size, jobs, memory, update,
                    None if module is None else encode(module))


def _absolute(path: PathLike) -> PathLike:
    name = os.fspath(path)
    return os.path.abspath(name) if isinstance(name, str) else os.path.abspath(name)


def _convert(settings: Settings, inputs: list[bytes], progress: ProgressCallback | None) -> Summary:
    ran = _batch.run(settings, _batch.adds(inputs), progress)
    _batch.raise_refusal(ran)
    c = ran.counts
    return Summary(tuple(ran.results[j] for j in sorted(ran.results)), c.converted, c.skipped, c.failed, c.seconds)


def convert_tree(src_dir: PathLike, out_dir: PathLike, *, texel_size: float = 1.0, jobs: int | None = None,
                 update: bool = False, memory: int | str | None = None, module: PathLike | None = None,
                 progress: ProgressCallback | None = None, executor: concurrent.futures.Executor | None = None,
                 shard_size: int = 64) -> Summary:
    """Converts every .tga under src_dir (but *_n.tga) into
    out_dir/<its path there>/<name>_n.tga, as quarnel-convert --out-dir does.

    texel_size: the distance between neighbouring samples (finite, not 0).
    jobs: worker threads, 1 to 4096 (default: one per processor).
    update: skip each map of the size its source implies that is not older.
    memory: bytes the running jobs may take, or text such as '2G' (default:
    half of physical memory). module: the Quarnel module to load (default:
    the one beside the engine). progress: called with a Progress on this
    thread as jobs end.

    executor: a concurrent.futures.Executor (a ProcessPoolExecutor, a Dask
    client's get_executor()) whose workers run the batch. It is planned
    here, and each worker process gets whole shards of shard_size jobs,
    with jobs, memory and module applying there. Every worker must see the
    files at the same paths, so relative ones are made absolute here;
    results then name them so.
    """
    if executor is not None:
        src_dir, out_dir = _absolute(src_dir), _absolute(out_dir)
    settings = _settings(out_dir, texel_size, jobs, update, memory, module)
    if executor is None:
        return _convert(settings, [encode(src_dir)], progress)
    return _scale.convert_on(executor, settings, encode(src_dir), shard_size, progress)


def convert_pairs(pairs: Iterable[Tuple[PathLike, PathLike]], *, texel_size: float = 1.0, jobs: int | None = None,
                  update: bool = False, memory: int | str | None = None, module: PathLike | None = None,
                  progress: ProgressCallback | None = None) -> Summary:
    """Converts each (source, destination) pair, as quarnel-convert SRC DST ...
    does: at once on `jobs` workers, or one after another in the order given
    where the pairs depend on each other (a destination named twice or
    read by another pair). The options are convert_tree's."""
    paths = []
    for pair in pairs:
        # A lone pair's strings, or a longer tuple, would be read as more pairs.
        if not isinstance(pair, (tuple, list)) or len(pair) != 2:
            raise ValueError(f"pairs: {pair!r} is not a (source, destination) pair")
        paths += [encode(pair[0]), encode(pair[1])]
    return _convert(_settings(None, texel_size, jobs, update, memory, module), paths, progress)


def create_bump_maps(pairs: Iterable[Tuple[PathLike, PathLike]], *, texel_size: float = 1.0,
                     module: PathLike | None = None, progress: ProgressCallback | None = None) -> Summary:
    """Converts the pairs one after another, in order, as one call of the
    module's CreateBumpMaps with every record would."""
    return convert_pairs(pairs, texel_size=texel_size, jobs=1, module=module, progress=progress)
