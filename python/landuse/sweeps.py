"""Parameter sweeps: every (point, replicate) one run, each a task on Dask distributed."""

import itertools
import os
import sys

import pandas as pd

from . import Simulation, control_text, replicate_seed

RESULT_STATISTICS = ["step", "agents", "successful", "avg_travel", "max_mark", "migrated", "returning"]
TABLE_COLUMNS = ["run", "replicate", "seed", *RESULT_STATISTICS, "error"]


def sweep_points(parameters):
    """The sweep's points, each a dict of control values.

    ``parameters`` is a dict of value lists, whose full grid (in the dict's order,
    the last name varying fastest) is the sweep, or a list of dicts, one per
    point. In a dict, a value that is not a list is one value for every point.
    """
    if isinstance(parameters, dict):
        names = list(parameters)
        values = [v if isinstance(v, (list, tuple)) else [v] for v in parameters.values()]
        points = [dict(zip(names, combination)) for combination in itertools.product(*values)]
    else:
        points = [dict(point) for point in parameters]
    if not points:
        raise ValueError("a sweep needs at least one point")
    # The table's own columns cannot be parameters; any other name is left to the
    # model, which refuses an unknown control in the run's error.
    taken = sorted({name for point in points for name in point} & set(TABLE_COLUMNS))
    if taken:
        raise ValueError(f"{', '.join(taken)}: a column of the result, not a control")
    # A value of no type a control takes is a mistake in the sweep, found before any run.
    for point in points:
        for value in point.values():
            control_text(value)
    return points


def run_one(run_id, point, replicate, seed, steps):
    """One run of a sweep, in whichever process runs it: its rows of the tidy table.

    A value that the model refuses (a text that does not convert, a value a control
    cannot hold, a batch too large for memory) does not fail the task: the steps
    completed before it are kept and one more row carries the error. The task
    depends on its arguments alone, so the scheduler may run it again anywhere.
    """
    statistics = pd.DataFrame(columns=RESULT_STATISTICS)
    error = ""
    sim = None
    try:
        # Every worker process runs one task at a time on its own core, so each run
        # keeps to one thread.
        sim = Simulation(seed=seed, threads=1, **point)
        if steps is None:
            sim.run()
        else:
            sim.step(steps)
    except (ValueError, MemoryError) as e:
        control = getattr(e, "control", "")
        error = f"{control}: {e}" if control else str(e)
    if sim is not None:
        statistics = sim.statistics
    statistics = statistics.astype({name: "Int64" for name in RESULT_STATISTICS if name != "max_mark"})
    statistics = statistics.astype({"max_mark": "float64"})
    statistics["error"] = ""
    if error:
        failure = pd.DataFrame({"error": [error]})
        statistics = pd.concat([statistics, failure], ignore_index=True)
    front = {"run": run_id, **point, "replicate": replicate, "seed": seed}
    for position, (name, value) in enumerate(front.items()):
        statistics.insert(position, name, [value] * len(statistics))
    return statistics


def default_workers():
    """One worker per CPU this process may use."""
    return len(os.sched_getaffinity(0))


def _local_client(workers):
    from distributed import Client, LocalCluster

    # Processes with one thread each: a run holds its own state and the model
    # releases the interpreter's lock only inside its steps.
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    return Client(cluster), cluster


class _Progress:
    """A progress line on stderr: runs done of all, and the runs that failed."""

    def __init__(self, total, enabled):
        self.total = total
        self.done = 0
        self.failed = 0
        self.enabled = enabled

    def update(self, frame):
        self.done += 1
        self.failed += bool((frame["error"] != "").any())
        if self.enabled:
            end = "\n" if self.done == self.total else ""
            failed = f", {self.failed} failed" if self.failed else ""
            print(f"\rlanduse sweep: {self.done}/{self.total} runs done{failed}", end=end, file=sys.stderr, flush=True)


def sweep(parameters, replicates=1, steps=None, client=None, progress=True):
    """Runs every point of ``parameters`` ``replicates`` times and returns one tidy
    DataFrame: run, the parameters, replicate, seed, then the statistics of every
    step (the headless runner's columns) and ``error`` ("" for a run that went well).

    ``parameters``: a dict of value lists (the full grid) or a list of dicts (see
    ``sweep_points``); values as for ``Simulation``. Replicate k of every point
    starts from ``replicate_seed(k)``; replicate 0 is the default start.
    ``steps``: steps per run; None runs each to its stop time (E_stop).
    ``client``: None starts a local cluster with one single-threaded worker process
    per usable CPU and closes it afterwards; a scheduler address ("tcp://host:8786")
    connects to that cluster; a ``distributed.Client`` is used as it is.
    ``progress``: a progress line on stderr while the runs complete.

    Each run is a pure task: if a worker dies, the scheduler runs its tasks again
    on another worker and nothing is lost. The model must be importable on every
    worker (the landuse package on its PYTHONPATH).
    """
    from distributed import Client, as_completed

    if not isinstance(replicates, int) or replicates < 1:
        raise ValueError(f"replicates takes a whole number of 1 or more, not {replicates!r}")
    if steps is not None and (not isinstance(steps, int) or steps < 0):
        raise ValueError(f"steps takes a whole number of 0 or more, not {steps!r}")
    points = sweep_points(parameters)
    runs = [(point, replicate) for point in points for replicate in range(replicates)]

    cluster = None
    own_client = not isinstance(client, Client)
    if client is None:
        client, cluster = _local_client(default_workers())
    elif isinstance(client, str):
        client = Client(client)
    try:
        futures = client.map(
            run_one,
            range(len(runs)),
            [point for point, _ in runs],
            [replicate for _, replicate in runs],
            [replicate_seed(replicate) for _, replicate in runs],
            [steps] * len(runs),
            pure=True,
        )
        bar = _Progress(len(futures), progress)
        frames = []
        for _, frame in as_completed(futures, with_results=True):
            frames.append(frame)
            bar.update(frame)
    finally:
        if own_client:
            client.close()
        if cluster is not None:
            cluster.close()
    table = pd.concat(frames, ignore_index=True)
    names = list(dict.fromkeys(name for point in points for name in point))
    table = table[["run", *names, "replicate", "seed", *RESULT_STATISTICS, "error"]]
    return table.sort_values(["run", "step"], kind="stable", na_position="last", ignore_index=True)
