"""Running a sweep: every (point, replicate) one run, each a task on Dask distributed.

The runs are a stream: a bounded number is in flight, each finished run's rows
are appended to a journal (when there is one) as it finishes, and the table is
made from the runs' records in run order, so a sweep resumed from its journal
gives the same table as one that was never interrupted.
"""

from __future__ import annotations

import json
import os
from collections.abc import Callable, Iterable, Mapping
from typing import TYPE_CHECKING, Any
import sys

import pandas as pd

from ..simulation import Simulation
from .clusters import check_scheduler_address, connect
from .journal import Journal, RecordShape, journal_header, journal_records, read_journal
from .points import RunPlan, SweepPoints, check_replicates, check_run_count
from .summary import SweepSummary
from .tables import TableLayout, make_table
from .tasks import _failed_record, _task_failure, run_one, stream_runs

if TYPE_CHECKING:
    import xarray
    from distributed import Client

__all__ = ["check_journal", "record_shape", "run_into_journal", "run_sweep"]


class _Progress:
    """A progress line on stderr: runs done of all, and the runs that failed."""

    def __init__(self, total, enabled):
        self.total = total
        self.done = 0
        self.failed = 0
        self.enabled = enabled

    def update(self, record, show=True):
        self.done += 1
        self.failed += bool(record["error"])
        if self.enabled and show:
            end = "\n" if self.done == self.total else ""
            failed = f", {self.failed} failed" if self.failed else ""
            print(f"\rlanduse sweep: {self.done}/{self.total} runs done{failed}", end=end, file=sys.stderr, flush=True)


def run_sweep(
    parameters: Mapping[str, Any] | Iterable[Mapping[str, Any]],
    replicates: int = 1,
    *,
    steps: int | RunPlan | None = None,
    client: Client | str | None = None,
    progress: bool = True,
    journal: str | os.PathLike[str] | None = None,
    measures: Callable[[Simulation], dict] | None = None,
    every: int = 1,
    stop_when: Callable[[Simulation], bool] | str | None = None,
    keep: str | list[int] = "every",
    store: str | os.PathLike[str] | None = None,
) -> pd.DataFrame | xarray.Dataset:
    """Runs every point of ``parameters`` ``replicates`` times and returns one tidy
    DataFrame: run, the swept controls, replicate, seed, version (of landuse),
    draws (the random numbers the run drew), then the statistics of every step
    (the headless runner's columns) and ``error`` ("" for a run that went well).
    This is ``landuse.sweep(...)``.

    Each swept control's column holds the value in effect after set-up: where the
    model changed a value (a grid size over its largest), what ran, with a
    ``ControlChangedWarning``; for a point that leaves the control out, its
    default. Replicate k of every point starts from ``replicate_seed(k)``;
    replicate 0 is the default start. Runs of different points with the same
    replicate share their random numbers on purpose (common random numbers); a
    ``StreamOverlapWarning`` names replicates whose streams overlap. A design
    (``landuse.designs``) adds a column ``point`` (its index in the design) and
    its coordinates in the unit cube (``u_NAME``); one with ``first_replicates``
    (one per point, as a seeded Saltelli design has) runs replicates first ..
    first + replicates - 1 of each point.

    A worker that dies is replaced and its runs run again; a run that ended its
    worker each time it was tried becomes an error row. The model must be
    importable on every worker (the landuse package on its PYTHONPATH). Called
    from a script's top level outside ``if __name__ == "__main__":``, the local
    cluster's workers are threads of this process (worker processes would run the
    script again).

    Parameters
    ----------
    parameters : dict or list of dict
        A dict of value lists (the full grid; a list, tuple, range, numpy array or
        pandas Series each, a single value for every point) or a list of dicts,
        one per point (see ``SweepPoints``); values as for ``Simulation``.
    replicates : int, default 1
        Runs per point.
    steps : int, optional
        Steps per run; None runs each to its stop time (E_stop).
    client : distributed.Client or str, optional
        None starts a local cluster (see ``local_client``) and closes it
        afterwards; a scheduler address ("tcp://host:8786") connects to that
        cluster; a client is used as it is.
    progress : bool, default True
        A progress line on stderr while the runs complete.
    journal : str or os.PathLike, optional
        A file that keeps each finished run as it finishes; if it exists, its runs
        are taken from it and only the others run, giving the same table.
    measures : callable, optional
        ``f(sim) -> dict`` whose values become columns of their own, evaluated
        every ``every`` steps (by the run's step count) and at the last step;
        other rows leave them empty. It travels to the workers as Dask sends
        tasks (cloudpickle).
    every : int, default 1
        How often measures and the stop condition are evaluated.
    stop_when : callable or str, optional
        ``g(sim) -> bool`` or a condition's text (see ``landuse.measures``) that
        ends a run early; its last row has ``stopped`` true.
    keep : {"every", "final"} or list of int, default "every"
        A row for every step; one per run, its last; or the rows of the steps
        listed and the last.
    store : str or os.PathLike, optional
        A Zarr store (a folder, e.g. "results.zarr") that takes the runs in
        batches as they finish and keeps them as a journal does: if it exists,
        only the runs it lacks are run. The sweep then returns the store as an
        ``xarray.Dataset`` (``landuse.open_results``; ``landuse.to_table`` makes
        the table of it).

    Returns
    -------
    pandas.DataFrame
        The tidy table, in run order and step order.

    Raises
    ------
    LanduseValueError
        Before any run: steps past ``landuse.LARGEST_STEP``, more than
        ``LARGEST_SWEEP`` runs, a malformed scheduler address, an unknown control
        (with the nearest names), a journal of another sweep or with a damaged
        line (named by its number).
    LanduseTypeError
        Parameters of no shape a sweep takes, or functions that are not callable.
    ClusterError
        The local cluster could not be started.

    Warns
    -----
    ControlChangedWarning
        The model changed swept values at set-up.
    StreamOverlapWarning
        Replicates whose random streams overlap.

    Examples
    --------
    >>> table = landuse.sweep({"E_CProbab": [0.05, 0.2], "Edit_size": 10}, replicates=2, steps=3,
    ...                       progress=False)  # doctest: +SKIP
    >>> table.groupby(["E_CProbab", "replicate"])["residential"].last()  # doctest: +SKIP
    """
    replicates = check_replicates(replicates)
    plan = (
        steps
        if isinstance(steps, RunPlan)
        else RunPlan(steps, measures=measures, every=every, stop_when=stop_when, keep=keep)
    )
    points = SweepPoints(parameters)
    check_run_count(points, replicates)
    if isinstance(client, str):
        check_scheduler_address(client)
    if store is not None:
        from .results import open_results
        from .store import run_into_store

        run_into_store(points, replicates, plan, client, progress, store)
        return open_results(store)
    if journal is None:
        records = []
        _run_missing(
            points, replicates, plan, client, progress, SweepSummary(points.count * replicates), keep=records.append
        )
        return make_table(records, TableLayout.of(points))
    run_into_journal(points, replicates, plan, client=client, progress=progress, path=journal)
    return make_table([record for records in journal_records(journal) for record in records], TableLayout.of(points))


def run_into_journal(
    points: SweepPoints,
    replicates: int,
    plan: RunPlan,
    *,
    client: Client | str | None,
    progress: bool,
    path: str | os.PathLike[str],
) -> SweepSummary:
    """Runs the sweep's runs that the journal at path lacks, appending each to it;
    its summary, with the journal's runs. The journal is made if it is missing.

    Parameters
    ----------
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.
    plan : RunPlan
        What every run does.
    client : distributed.Client, str or None
        As for ``run_sweep``.
    progress : bool
        A progress line on stderr.
    path : str or os.PathLike
        The journal.

    Returns
    -------
    SweepSummary
        The runs' summary, the journal's included.

    Raises
    ------
    LanduseValueError
        Too many runs, a journal of another sweep or with a damaged line.
    """
    if not isinstance(plan, RunPlan):
        plan = RunPlan(plan)
    replicates = check_run_count(points, replicates)
    summary = SweepSummary(points.count * replicates)
    journal = Journal(
        path, points.fingerprint(replicates, plan.description()), summary, check=record_shape(points, replicates)
    )
    try:
        return _run_missing(points, replicates, plan, client, progress, summary, keep=journal.append_line, as_json=True)
    finally:
        journal.close()


def record_shape(points: SweepPoints, replicates: int) -> RecordShape:
    """What each journal line of this sweep holds (see ``RecordShape``).

    Parameters
    ----------
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.

    Returns
    -------
    RecordShape
        The check.
    """
    return RecordShape(
        points.count * replicates, replicates, len(points.names), len(points.coordinate_names), points.first_replicates
    )


def check_journal(path: str | os.PathLike[str], points: SweepPoints, replicates: int, plan: RunPlan) -> None:
    """Reads the journal at path as a resumed sweep would, changing nothing: ValueError
    for a journal of another sweep or a damaged line, before any run.

    Parameters
    ----------
    path : str or os.PathLike
        The journal.
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.
    plan : RunPlan
        What every run does.

    Raises
    ------
    LanduseValueError
        A journal of another sweep or a damaged line.
    OSError
        The journal cannot be read.
    """
    if not isinstance(plan, RunPlan):
        plan = RunPlan(plan)
    replicates = check_run_count(points, replicates)
    header = journal_header(points.fingerprint(replicates, plan.description()))
    read_journal(path, header, SweepSummary(points.count * replicates), record_shape(points, replicates))


def _run_missing(points, replicates, plan, client, progress, summary, keep, as_json=False):
    """Runs every run the summary has not seen, passing each record (or its JSON
    line) to keep as it finishes; then warns of overlaps and changed values."""
    names = points.names
    bar = _Progress(summary.runs, progress)
    bar.done, bar.failed = summary.done, summary.failed
    tasks = (
        (
            run_id,
            point,
            points.replicate_of(run_id // replicates, replicate),
            plan,
            names,
            points.coordinates_of(run_id // replicates),
        )
        for run_id, (point, replicate) in enumerate(
            (point, replicate) for point in points for replicate in range(replicates)
        )
        if not summary.finished[run_id]
    )

    client, cluster, own_client = connect(client)
    try:
        for (run_id, point, replicate, _, _, coordinates), result, failure in stream_runs(client, tasks, task=run_one):
            if failure is not None:
                result = _failed_record(run_id, point, replicate, names, _task_failure(failure), coordinates)
            result["point"] = run_id // replicates
            # The table takes every record as JSON reads it back, whether from the journal or not.
            line = json.dumps(result)
            record = json.loads(line)
            keep(line if as_json else record)
            summary.add(record)
            bar.update(record)
    finally:
        if own_client:
            client.close()
        if cluster is not None:
            cluster.close()
    summary.warn()
    return summary
