"""What a sweep tells at its end: the replicates whose random streams overlap
and the swept values the model changed, gathered run by run."""

from __future__ import annotations

import bisect
import itertools
import warnings
from collections.abc import Iterable, Mapping

from .._core import draws_between, replicate_seed
from ..errors import ControlChangedWarning, StreamOverlapWarning

__all__ = ["CYCLE", "SweepSummary", "overlapping_replicates", "warn_of_changes", "warn_of_overlaps"]

# The generator's cycle: every stream is a stretch of these states.
CYCLE = 2**32


def _streams_reaching(draws_by_replicate):
    """The replicates' streams in the order they start on the cycle, as (replicate,
    how many of the next streams in that order start within its own stretch).
    Sorted starts and a binary search each: n log n, where comparing every pair
    would cost n^2 for a sweep of many replicates."""
    # A run that starts at s draws s + 1 .. s + n: another stream starting less than n after s shares a state.
    # Runs of no draws share nothing; a stream of a whole cycle or more shares with every other.
    streams = sorted(
        (draws_between(0, replicate_seed(k)), k, min(draws, CYCLE))
        for k, draws in draws_by_replicate.items()
        if draws > 0
    )
    starts = [start for start, _, _ in streams]
    reaching = []
    for i, (start, replicate, draws) in enumerate(streams):
        end = start + draws  # the first start not reached
        reached = bisect.bisect_left(starts, end) - (i + 1)
        if end > CYCLE:
            reached = len(streams) - (i + 1) + bisect.bisect_left(starts, end - CYCLE, hi=i)
        reaching.append((replicate, reached))
    return reaching


def _overlap_pairs(reaching, limit=None):
    """The pairs (a < b) the reaching streams make, each once, the first ``limit`` of them."""
    pairs = set()
    for i, (a, reached) in enumerate(reaching):
        for j in range(1, reached + 1):
            b = reaching[(i + j) % len(reaching)][0]
            pairs.add((min(a, b), max(a, b)))
            if limit is not None and len(pairs) >= limit:
                return pairs
    return pairs


def overlapping_replicates(draws_by_replicate: Mapping[int, int]) -> list[tuple[int, int]]:
    """The pairs of replicate indices whose streams share a number, given the most
    numbers any run of each index drew. Runs of one index share their stream on
    purpose (common random numbers), so only different indices are compared.

    Parameters
    ----------
    draws_by_replicate : mapping of int to int
        The most numbers any run of each replicate index drew.

    Returns
    -------
    list of (int, int)
        The pairs, sorted.

    Examples
    --------
    >>> overlapping_replicates({0: 2**31 + 1, 1: 5, 3: 5})
    [(0, 1)]
    """
    return sorted(_overlap_pairs(_streams_reaching(draws_by_replicate)))


def warn_of_overlaps(draws_by_replicate: Mapping[int, int], shown: int = 20) -> None:
    """Warns of replicates whose random streams overlap, naming some pairs and counting the replicates involved.

    Parameters
    ----------
    draws_by_replicate : mapping of int to int
        The most numbers any run of each replicate index drew.
    shown : int, default 20
        The most pairs named.

    Warns
    -----
    StreamOverlapWarning
        When some streams overlap.
    """
    reaching = _streams_reaching(draws_by_replicate)
    pairs = sorted(_overlap_pairs(reaching, limit=shown + 1))
    if pairs:
        # Which replicates share numbers, without listing what may be n^2 pairs.
        involved = [0] * (len(reaching) + 1)
        for i, (_, reached) in enumerate(reaching):
            if reached:
                for first, last in ((i, min(i + reached, len(reaching) - 1)), (0, i + reached - len(reaching))):
                    if last >= first:
                        involved[first] += 1
                        involved[last + 1] -= 1
        count = sum(1 for total in itertools.accumulate(involved[:-1]) if total)
        names = ", ".join(f"{a} and {b}" for a, b in pairs[:shown])
        more = " and others" if len(pairs) > shown else ""
        warnings.warn(
            f"the random streams of replicates {names}{more} overlap ({count} of the "
            f"{len(draws_by_replicate)} replicates drew numbers another drew): their runs are not "
            "independent (fewer replicates or shorter runs avoid it)",
            StreamOverlapWarning,
            stacklevel=5,
        )


def warn_of_changes(changes: Iterable[tuple[str, str, str]]) -> None:
    """Warns of the swept values the model changed at set-up.

    Parameters
    ----------
    changes : iterable of (str, str, str)
        (name, given, in effect) of each change.

    Warns
    -----
    ControlChangedWarning
        When there is a change.
    """
    if changes:
        shown = ", ".join(f"{name} {given} ran as {effect}" for name, given, effect in sorted(changes))
        warnings.warn(
            f"the model changed swept values at set-up, and the table records what ran: {shown}",
            ControlChangedWarning,
            stacklevel=5,
        )


class SweepSummary:
    """What a sweep tells at its end, gathered run by run without keeping the runs:
    which runs finished, how many failed, the most numbers any run of each
    replicate drew, and the values the model changed.

    Parameters
    ----------
    runs : int
        The sweep's runs.

    Examples
    --------
    >>> summary = SweepSummary(2)
    >>> summary.add({"run": 1, "error": "", "replicate": 0, "draws": 9, "changes": []})
    >>> summary.done, summary.draws_by_replicate
    (1, {0: 9})
    """

    def __init__(self, runs: int) -> None:
        """Nothing seen yet."""
        self.runs = runs
        self.finished = bytearray(runs)
        self.done = 0
        self.failed = 0
        self.draws_by_replicate = {}
        self.changes = set()

    def add(self, record: dict) -> None:
        """Takes a finished run.

        Parameters
        ----------
        record : dict
            A run's record.
        """
        self.finished[record["run"]] = 1
        self.done += 1
        self.failed += bool(record["error"])
        replicate = record["replicate"]
        self.draws_by_replicate[replicate] = max(self.draws_by_replicate.get(replicate, 0), record["draws"])
        self.changes.update(tuple(change) for change in record["changes"])

    def warn(self) -> None:
        """Warns of what the runs seen showed.

        Warns
        -----
        StreamOverlapWarning, ControlChangedWarning
            As ``warn_of_overlaps`` and ``warn_of_changes``.
        """
        warn_of_overlaps(self.draws_by_replicate)
        warn_of_changes(self.changes)
