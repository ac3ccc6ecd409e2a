"""A tree's batch spread over an executor's workers: planned once here
through the engine, sent out in whole shards of the plan, each run by the
engine of the worker's process (loaded there once) as a batch of its own
with the same OUT, and gathered back in plan order."""
from __future__ import annotations

import concurrent.futures
import ctypes
import dataclasses
import time
from typing import Any, Tuple

from ._batch import ProgressCallback, Settings, raise_refusal, run
from ._engine import DONE, Engine, PlannedFn, PlannedJob
from ._results import JobResult, Progress, Summary, log

# A planned job as a shard carries it: its place, source, map and the
# engine's own message for one that fails without a call.
Planned = Tuple[int, bytes, bytes, bytes]


@dataclasses.dataclass(frozen=True)
class Shard:
    settings: Settings
    jobs: tuple[Planned, ...]


@dataclasses.dataclass(frozen=True)
class ShardDone:
    results: tuple[tuple[int, JobResult], ...]
    converted: int
    skipped: int
    failed: int


def plan(settings: Settings, src_dir: bytes) -> list[Planned]:
    """The out-dir batch of src_dir as the engine plans it; nothing written."""
    jobs: list[Planned] = []

    def on_planned(context: Any, job: Any) -> None:
        j: PlannedJob = job.contents
        jobs.append((j.job, j.srcpath, j.dstpath, j.failure))

    def fill(lib: Engine, batch: int) -> int:
        status = lib.add(batch, src_dir)
        return lib.plan(batch, PlannedFn(on_planned)) if status == DONE else status

    ran = run(settings, fill, go=False)
    raise_refusal(ran)
    return jobs


def run_shard(shard: Shard) -> ShardDone:
    """Runs one shard in this process (a worker's): its jobs keep their
    places in the plan, in their reports and in what they leave."""
    def fill(lib: Engine, batch: int) -> int:
        for place, src, dst, failure in shard.jobs:
            status = lib.add_job(batch, PlannedJob(ctypes.sizeof(PlannedJob), place, src, dst, failure))
            if status != DONE:
                return status
        return DONE

    ran = run(shard.settings, fill)
    raise_refusal(ran)
    c = ran.counts
    return ShardDone(tuple(sorted(ran.results.items(), key=lambda r: r[0])), c.converted, c.skipped, c.failed)


def convert_on(executor: concurrent.futures.Executor, settings: Settings, src_dir: bytes, shard_size: int,
               progress: ProgressCallback | None) -> Summary:
    """Plans here, runs the shards on the executor, gathers the results."""
    if shard_size < 1:
        raise ValueError(f"shard_size: {shard_size} is not a whole number above 0")
    start = time.monotonic()
    planned = plan(settings, src_dir)
    # The failures are logged here, as the shards come back.
    quiet = dataclasses.replace(settings, console="none")
    # An empty plan still sends a shard: a worker makes OUT, as a local run does.
    futures = [executor.submit(run_shard, Shard(quiet, tuple(planned[i:i + shard_size])))
               for i in range(0, max(len(planned), 1), shard_size)]
    results: dict[int, JobResult] = {}
    converted = skipped = failed = 0
    try:
        for future in concurrent.futures.as_completed(futures):
            done = future.result()
            results.update(done.results)
            for result in (r for _, r in done.results if r.outcome == "failed"):
                for message in result.messages:
                    log.error("%s", message)
            converted, skipped, failed = converted + done.converted, skipped + done.skipped, failed + done.failed
            if progress:
                progress(Progress(len(planned), converted, skipped, failed, time.monotonic() - start))
    except BaseException:
        # No shard starts that has not; those running finish on their workers.
        for future in futures:
            future.cancel()
        concurrent.futures.wait(futures)
        raise
    return Summary(tuple(results[place] for place in sorted(results)), converted, skipped, failed,
                   time.monotonic() - start)
