"""A sweep's runs as tasks: one run in whichever process runs it, made into a
record of plain values, and the tasks streamed on a cluster with a bounded number
in flight."""

from __future__ import annotations

import math
import time
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import TYPE_CHECKING, Any

import pandas as pd

from .._core import __version__, decide_steps, replicate_seed
from ..controls import STATISTICS_COLUMNS
from ..measures import MeasureError, step_measured
from ..simulation import Simulation
from .points import RESERVED_COLUMNS, RunPlan, _recorded_values

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["run_one", "stream_runs"]


def run_one(
    run_id: int,
    point: dict[str, Any],
    replicate: int,
    plan: RunPlan,
    names: list[str],
    coordinates: Sequence[float] = (),
) -> dict[str, Any]:
    """One run of a sweep, in whichever process runs it: its record (plain values
    that JSON keeps exactly), from which ``run_frame`` makes its rows.

    A value that the model refuses (a text that does not convert, a value a control
    cannot hold, a batch too large for memory), or a measure or stop condition that
    raises, does not fail the task: the steps completed before it are kept and the
    record carries the error. The task depends on its arguments alone, so the
    scheduler may run it again anywhere.

    Parameters
    ----------
    run_id : int
        The run's number in the sweep.
    point : dict
        Its controls.
    replicate : int
        Its replicate index.
    plan : RunPlan
        What every run does.
    names : list of str
        The swept controls.
    coordinates : sequence of float, default ()
        Its design coordinates.

    Returns
    -------
    dict
        The run's record.

    Examples
    --------
    >>> record = run_one(0, {"Edit_size": 10}, 0, RunPlan(2), ["Edit_size"])
    >>> record["statistics"]["step"], record["error"]
    ([1, 2], '')
    """
    seed = replicate_seed(replicate)
    error, sim, in_effect, measured, stopped = "", None, None, {}, False
    try:
        # Every worker runs one task at a time on its own core, so each run keeps to one thread.
        sim = Simulation(seed=seed, threads=1, **point)
        in_effect = sim.controls()
        # The model's one rule for the steps a run takes, as the runner's and Simulation.run's.
        steps, _ = decide_steps(plan.steps, sim.step_count, sim.stop_time)
        measured, stopped = step_measured(
            sim,
            steps,
            measures=plan.measures,
            every=plan.every,
            stop_when=plan.stop_when,
            reserved=RESERVED_COLUMNS | set(names),
        )
    except (ValueError, MemoryError, MeasureError) as e:
        # A ConversionError's message names its control.
        error = str(e)
    values, changes = _recorded_values(point, names, in_effect)
    statistics = sim.statistics if sim is not None else pd.DataFrame(columns=STATISTICS_COLUMNS)
    if plan.keep == "final":
        statistics = statistics.tail(1)
    elif isinstance(plan.keep, list):
        last = statistics["step"].iloc[-1:].tolist()
        statistics = statistics[statistics["step"].isin(plan.keep + last)]
    kept_steps = set(statistics["step"].tolist())
    return {
        "run": run_id,
        "values": values,
        "coordinates": list(coordinates),
        "replicate": replicate,
        "seed": seed,
        "version": __version__,
        "draws": sim.draws if sim is not None else 0,
        "statistics": {name: statistics[name].tolist() for name in STATISTICS_COLUMNS},
        "measures": [[step, measured[step]] for step in sorted(measured) if step in kept_steps],
        "stopped": stopped,
        "error": error,
        "changes": changes,
    }


def _failed_record(run_id, point, replicate, names, error, coordinates=()):
    """The record of a run that left no result of its own (its task failed)."""
    values, _ = _recorded_values(point, names, None)
    return {
        "run": run_id,
        "values": values,
        "coordinates": list(coordinates),
        "replicate": replicate,
        "seed": replicate_seed(replicate),
        "version": __version__,
        "draws": 0,
        "statistics": {name: [] for name in STATISTICS_COLUMNS},
        "measures": [],
        "stopped": False,
        "error": error,
        "changes": [],
    }


def stream_runs(
    client: Client,
    tasks: Iterable[tuple],
    *,
    task: Callable[..., Any] = run_one,
    window: int | None = None,
) -> Iterator[tuple[tuple, Any, BaseException | None]]:
    """Runs task(*arguments) for each argument tuple of ``tasks`` on the cluster and
    yields each result as it finishes, with at most ``window`` runs in flight (by
    default as many as the cluster has threads, looked at again as workers come and
    go), taking the next arguments as one finishes. No run waits at a worker behind
    another, so a run that ends its worker takes no other run with it. A task that failed, e.g. one
    that ended its worker once per allowed retry, yields ``(arguments, exception)``
    in place of a result; its neighbours go on.

    Parameters
    ----------
    client : distributed.Client
        The cluster's client.
    tasks : iterable of tuple
        Each task's arguments.
    task : callable, default run_one
        The function run.
    window : int, optional
        The most runs in flight.

    Yields
    ------
    tuple
        (arguments, result or None, exception or None).
    """
    from distributed import as_completed

    tasks = iter(tasks)
    in_flight = {}
    pending = as_completed()
    sized_at = -math.inf

    def size():
        nonlocal window_now, sized_at
        if window is not None:
            return window
        if time.monotonic() - sized_at > 2:
            window_now, sized_at = max(1, sum(client.nthreads().values())), time.monotonic()
        return window_now

    window_now = 1

    def fill():
        while len(in_flight) < size():
            arguments = next(tasks, None)
            if arguments is None:
                return
            future = client.submit(task, *arguments, pure=True)
            in_flight[future.key] = (future, arguments)
            pending.add(future)

    try:
        fill()
        for future in pending:
            _, arguments = in_flight.pop(future.key)
            try:
                outcome = (arguments, future.result(), None)
            except Exception as e:  # the task itself failed, or its worker died too often
                outcome = (arguments, None, e)
            future.release()
            fill()
            yield outcome
    finally:
        if in_flight:
            client.cancel([future for future, _ in in_flight.values()])


def _task_failure(exception):
    from distributed import KilledWorker

    if isinstance(exception, KilledWorker):
        return "the run ended its worker each time it was tried (out of memory, or a crash)"
    return f"the task failed: {type(exception).__name__}: {exception}"
