"""What a batch gives back: a result a job, the counts, progress."""
from __future__ import annotations

import dataclasses
import logging
from typing import Literal, Tuple

Outcome = Literal["converted", "skipped", "failed"]
# As the engine numbers them.
OUTCOMES: Tuple[Outcome, ...] = ("converted", "skipped", "failed")

# Each failed job's messages, as they come, for an application that sets up
# logging; a library prints nothing of its own (the results hold them too).
log = logging.getLogger("quarnel")
log.addHandler(logging.NullHandler())


@dataclasses.dataclass(frozen=True)
class JobResult:
    """One job: its source, its map, what became of it, and the messages of
    a failed one (the module's, or the engine's where it did not get as far)."""
    source: str
    destination: str  # "" for a folder that could not be walked
    outcome: Outcome
    messages: tuple[str, ...] = ()


@dataclasses.dataclass(frozen=True)
class Summary:
    """A batch: each job's result in plan order, and the counts."""
    results: tuple[JobResult, ...]
    converted: int
    skipped: int
    failed: int
    seconds: float

    @property
    def failures(self) -> tuple[JobResult, ...]:
        return tuple(r for r in self.results if r.outcome == "failed")


@dataclasses.dataclass(frozen=True)
class Progress:
    """The batch so far, given to a progress callback as jobs end."""
    jobs: int  # in the plan
    converted: int
    skipped: int
    failed: int
    seconds: float

    @property
    def done(self) -> int:
        return self.converted + self.skipped + self.failed
