"""Parameter sweeps: every (point, replicate) one run, each a task on Dask distributed.

The runs are a stream: a bounded number is in flight, each finished run's rows
are appended to a journal (when there is one) as it finishes, and the table is
made from the runs' records in run order, so a sweep resumed from its journal
gives the same table as one that was never interrupted.
"""

import bisect
import functools
import hashlib
import itertools
import json
import math
import numbers
import re
import sys
import time
import warnings

import numpy as np
import pandas as pd

from . import (LARGEST_STEP, STATISTICS_COLUMNS, Simulation, __version__, check_controls, control_table,
               control_text, draws_between, replicate_seed)
from .local_cluster import default_workers, local_client
from .measures import (MeasureError, StopCondition, check_every, check_functions, function_name, measure_table,
                       step_measured)
from .sweep_journal import Journal, RecordShape, journal_header, journal_records, read_journal

STATISTICS_INTEGERS = [name for name in STATISTICS_COLUMNS if name != "max_mark"]
# Around the swept controls' columns: before them "run", after them these, then the statistics and "error".
RUN_COLUMNS = ["replicate", "seed", "version", "draws"]
RESERVED_COLUMNS = {"run", "point", *RUN_COLUMNS, *STATISTICS_COLUMNS, "stopped", "error"}
KEEP_CHOICES = ("every", "final")
# Seconds to wait for a scheduler that does not answer.
CONNECT_TIMEOUT = 10
# The most runs (points times replicates) one sweep takes: the client keeps a byte
# per run, and a journal some kilobytes, so more is a mistake rather than a plan.
LARGEST_SWEEP = 10**8


class ControlChangedWarning(UserWarning):
    """A swept value that the model changed at set-up (e.g. a grid size over its largest)."""


class StreamOverlapWarning(UserWarning):
    """Two replicates of a sweep drew some of the same random numbers."""


def _value_list(name, value):
    """A swept control's values: a list, tuple, range, 1-D numpy array or pandas
    Series/Index; anything else is one value for every point."""
    if isinstance(value, (list, tuple, range, pd.Series, pd.Index)):
        return list(value)
    if isinstance(value, np.ndarray):
        if value.ndim != 1:
            raise TypeError(f"{name}: a list of values is one-dimensional, not an array of shape {value.shape}")
        return list(value)
    return [value]


class SweepPoints:
    """The points of a sweep: the names of the controls it sets, how many points,
    and the points one by one (a grid's are made as they are taken, so a grid of a
    million points costs no memory).

    ``parameters`` is a dict of value lists, whose full grid (in the dict's order,
    the last name varying fastest) is the sweep, or a list of dicts, one per point.
    In a dict, a value that is not a list is one value for every point.

    Every name must be a control of the model and every value one the control can
    hold, checked here before any run; a text that does not convert is found only
    in the run, which then records the error.
    """

    def __init__(self, parameters):
        # A design's points carry their coordinates in the unit cube, one column each.
        self.coordinate_names = list(getattr(parameters, "coordinate_names", []))
        self.coordinates = [list(map(float, row)) for row in getattr(parameters, "coordinates", [])]
        # A design may give each point replicates of its own: point i runs replicates first[i] .. first[i] + R - 1.
        self.first_replicates = [int(k) for k in getattr(parameters, "first_replicates", [])]
        if isinstance(parameters, dict):
            self.names = list(parameters)
            self._lists = [_value_list(name, values) for name, values in parameters.items()]
            self._points = None
            self.count = math.prod(len(values) for values in self._lists)
            checks = [{name: value} for name, values in zip(self.names, self._lists) for value in values]
        elif not isinstance(parameters, (str, bytes)) and hasattr(parameters, "__iter__"):
            self._points = list(parameters)
            if not all(isinstance(point, dict) for point in self._points):
                raise TypeError("parameters takes a dict of value lists or a list of dicts, one per point")
            self._points = [dict(point) for point in self._points]
            self.names = list(dict.fromkeys(name for point in self._points for name in point))
            self.count = len(self._points)
            checks = self._points
        else:
            raise TypeError("parameters takes a dict of value lists or a list of dicts, one per point")
        if self.count == 0:
            raise ValueError("a sweep needs at least one point")
        taken = sorted(set(self.names) & RESERVED_COLUMNS)
        if taken:
            raise ValueError(f"{', '.join(taken)}: a column of the result, not a control")
        known = set(control_table().index)
        unknown = [name for name in self.names if name not in known]
        if unknown:
            raise ValueError(f"{', '.join(map(str, unknown))}: no control of that name (see landuse.control_table())")
        for point in checks:
            try:
                check_controls(point)
            except (TypeError, ValueError) as e:
                raise type(e)(f"{', '.join(point)}: {e}") from None

    def __len__(self):
        return self.count

    def __iter__(self):
        if self._points is not None:
            yield from self._points
            return
        # Nested loops rather than itertools.product, which would hold every combination's index.
        def grid(level):
            if level == len(self._lists):
                yield {}
                return
            for value in self._lists[level]:
                for rest in grid(level + 1):
                    yield {self.names[level]: value, **rest}
        yield from grid(0)

    def coordinates_of(self, index):
        """The design coordinates of point `index` ([] for a sweep that is no design)."""
        return self.coordinates[index] if self.coordinates else []

    def replicate_of(self, index, replicate):
        """The replicate index the ``replicate``-th run of point ``index`` takes."""
        return (self.first_replicates[index] if self.first_replicates else 0) + replicate

    def fingerprint(self, replicates, steps):
        """A digest of everything that decides the sweep's runs, to tell whether a journal is this sweep's."""
        if self._points is None:
            values = [[control_text(value) for value in values] for values in self._lists]
        else:
            values = [[control_text(point[name]) if name in point else None for name in self.names]
                      for point in self._points]
        description = [__version__, replicates, steps, self._points is None, self.names, values,
                       self.coordinate_names, self.coordinates]
        if self.first_replicates:  # only then, so that the journals of earlier sweeps still match
            description.append(self.first_replicates)
        return hashlib.sha256(json.dumps(description).encode()).hexdigest()


def check_replicates(replicates):
    """The replicates as an int, or ValueError."""
    if isinstance(replicates, bool) or not isinstance(replicates, numbers.Integral) or replicates < 1:
        raise ValueError(f"replicates takes a whole number of 1 or more, not {replicates!r}")
    return int(replicates)


def check_run_count(points, replicates):
    """Raises ValueError for a sweep of more than LARGEST_SWEEP runs, before anything is made for them."""
    replicates = check_replicates(replicates)
    runs = points.count * replicates  # not len(), which a grid of more than 2**63 points would overflow
    if runs > LARGEST_SWEEP:
        raise ValueError(f"a sweep of {points.count} point(s) x {replicates} replicate(s) is {runs} runs, more than "
                         f"the {LARGEST_SWEEP} a sweep takes (landuse.sweeps.LARGEST_SWEEP)")
    return replicates


def sweep_points(parameters):
    """The sweep's points as a list of dicts (see ``SweepPoints``)."""
    return list(SweepPoints(parameters))


def _plain(value):
    """A value as the plain Python type JSON writes and reads back unchanged."""
    return value.item() if isinstance(value, np.generic) else value


def value_in_effect(text):
    """A control's text as the number it reads as (a decimal comma read as a point), or the text."""
    if re.fullmatch(r"[+-]?\d+", text.strip()):
        return int(text)
    try:
        return float(text.replace(",", "."))
    except ValueError:
        return text


@functools.lru_cache(maxsize=1)
def _defaults():
    return dict(control_table()["default"])


def _recorded_values(point, names, in_effect):
    """Each swept control's value for the table: as given where the model holds it as
    given, else the value in effect (and the change); the default in effect for a
    control this point leaves out. ``in_effect`` None (the run never got through its
    set-up): as given, and the table's default for a control left out."""
    values, changes = [], []
    for name in names:
        given = control_text(point[name]) if name in point else None
        if in_effect is not None:
            text = in_effect[name]
        else:
            text = given if given is not None else _defaults()[name]
        if given is not None and text == given:
            values.append(_plain(point[name]))
        else:
            values.append(value_in_effect(text))
            if given is not None:
                changes.append([name, given, text])
    return values, changes


class RunPlan:
    """What every run of a sweep does besides its point: how many steps, the
    measures and the stop condition with how often they are evaluated, and which
    rows it keeps ("every" step, or only the "final" one)."""

    def __init__(self, steps=None, measures=None, every=1, stop_when=None, keep="every"):
        if steps is not None and (isinstance(steps, bool) or not isinstance(steps, numbers.Integral)
                                  or not 0 <= steps <= LARGEST_STEP):
            raise ValueError(f"steps takes a whole number 0..{LARGEST_STEP} (the step count ends there), "
                             f"not {steps!r}")
        if isinstance(keep, (list, tuple)):
            # Only these steps' rows (and the last): a sensitivity analysis needs one step of every run, not all.
            if not all(isinstance(k, numbers.Integral) and not isinstance(k, bool) and k >= 0 for k in keep):
                raise ValueError(f"keep takes 'every', 'final' or a list of steps, not {keep!r}")
            keep = sorted({int(k) for k in keep})
        elif keep not in KEEP_CHOICES:
            raise ValueError(f"keep takes 'every', 'final' or a list of steps, not {keep!r}")
        self.steps = None if steps is None else int(steps)
        self.measures, self.stop_when = check_functions(measures, stop_when)
        self.every = check_every(every)
        self.keep = keep

    def description(self):
        """What decides the runs' rows, for the journal's fingerprint."""
        # A stop condition whole (its repr), not cut as an error shows it: two long ones may begin alike.
        named = [None if f is None else repr(f) if isinstance(f, StopCondition) else function_name(f)
                 for f in (self.measures, self.stop_when)]
        return [self.steps, *named, self.every, self.keep]


def run_one(run_id, point, replicate, plan, names, coordinates=()):
    """One run of a sweep, in whichever process runs it: its record (plain values
    that JSON keeps exactly), from which ``run_frame`` makes its rows.

    A value that the model refuses (a text that does not convert, a value a control
    cannot hold, a batch too large for memory), or a measure or stop condition that
    raises, does not fail the task: the steps completed before it are kept and the
    record carries the error. The task depends on its arguments alone, so the
    scheduler may run it again anywhere.
    """
    seed = replicate_seed(replicate)
    error, sim, in_effect, measured, stopped = "", None, None, {}, False
    try:
        # Every worker runs one task at a time on its own core, so each run keeps to one thread.
        sim = Simulation(seed=seed, threads=1, **point)
        in_effect = sim.controls()
        steps = plan.steps
        if steps is None:
            if sim.stop_time <= 0:
                raise ValueError(f"the stop time {sim.stop_time} never stops the run: give steps")
            steps = max(0, sim.stop_time - sim.step_count)
        measured, stopped = step_measured(sim, steps, plan.measures, plan.every, plan.stop_when,
                                          reserved=RESERVED_COLUMNS | set(names))
    except (ValueError, MemoryError, MeasureError) as e:
        control = getattr(e, "control", "")
        error = f"{control}: {e}" if control else str(e)
    values, changes = _recorded_values(point, names, in_effect)
    statistics = sim.statistics if sim is not None else pd.DataFrame(columns=STATISTICS_COLUMNS)
    if plan.keep == "final":
        statistics = statistics.tail(1)
    elif isinstance(plan.keep, list):
        last = statistics["step"].iloc[-1:].tolist()
        statistics = statistics[statistics["step"].isin(plan.keep + last)]
    kept_steps = set(statistics["step"].tolist())
    return {
        "run": run_id, "values": values, "coordinates": list(coordinates), "replicate": replicate, "seed": seed,
        "version": __version__, "draws": sim.draws if sim is not None else 0,
        "statistics": {name: statistics[name].tolist() for name in STATISTICS_COLUMNS},
        "measures": [[step, measured[step]] for step in sorted(measured) if step in kept_steps],
        "stopped": stopped, "error": error, "changes": changes,
    }


def _failed_record(run_id, point, replicate, names, error, coordinates=()):
    """The record of a run that left no result of its own (its task failed)."""
    values, _ = _recorded_values(point, names, None)
    return {
        "run": run_id, "values": values, "coordinates": list(coordinates), "replicate": replicate,
        "seed": replicate_seed(replicate), "version": __version__, "draws": 0,
        "statistics": {name: [] for name in STATISTICS_COLUMNS}, "measures": [], "stopped": False,
        "error": error, "changes": [],
    }


class TableLayout:
    """The columns of a sweep's table: run, the design's point and coordinates (for
    a design), the swept controls, the run's own columns, the statistics, the
    measures (in the order they first appear, by run), stopped and error."""

    def __init__(self, names, coordinate_names=(), measure_names=()):
        self.names = list(names)
        self.coordinate_names = list(coordinate_names)
        self.measure_names = list(measure_names)
        self._known = set(self.measure_names)

    @classmethod
    def of(cls, points, records=()):
        layout = cls(points.names, points.coordinate_names)
        for record in records:
            layout.take_measures(record)
        return layout

    def take_measures(self, record):
        known = self._known
        for _, values in record.get("measures", []):
            for name in values:
                if name not in known:
                    self.measure_names.append(name)
                    known.add(name)

    def columns(self):
        design = ["point", *self.coordinate_names] if self.coordinate_names else []
        return ["run", *design, *self.names, *RUN_COLUMNS, *STATISTICS_COLUMNS, *self.measure_names, "stopped",
                "error"]


def table_columns(names):
    return TableLayout(names).columns()


def _statistics_frame(record, layout):
    """A run's rows of the tidy table but the measures' columns, as a dict of
    columns, and the rows' count: one per kept step, and one more carrying the
    error of a run that failed."""
    statistics = record["statistics"]
    steps = len(statistics["step"])
    rows = steps + (1 if record["error"] else 0)
    frame = {"run": pd.Series([record["run"]] * rows, dtype="int64")}
    if layout.coordinate_names:
        frame["point"] = pd.Series([record.get("point", -1)] * rows, dtype="int64")
        for name, value in zip(layout.coordinate_names, record.get("coordinates", [])):
            frame[name] = pd.Series([value] * rows, dtype="float64")
    for name, value in zip(layout.names, record["values"]):
        # Kept as objects, each written as it is: a batch of runs writes the same text as the whole table.
        # make_table gives them numeric types where every value is of one.
        frame[name] = pd.Series([value] * rows, dtype="object")
    frame["replicate"] = pd.Series([record["replicate"]] * rows, dtype="int64")
    frame["seed"] = pd.Series([record["seed"]] * rows, dtype="int64")
    frame["version"] = [record["version"]] * rows
    frame["draws"] = pd.Series([record["draws"]] * rows, dtype="int64")
    padding = [None] * (rows - steps)
    for name in STATISTICS_COLUMNS:
        frame[name] = pd.Series(statistics[name] + padding, dtype="float64" if name == "max_mark" else "Int64")
    stopped = record.get("stopped", False)
    frame["stopped"] = [stopped and i == steps - 1 for i in range(steps)] + [False] * (rows - steps)
    frame["error"] = [""] * steps + [record["error"]] * (rows - steps)
    return frame, rows


def _measure_rows(record, rows):
    """Each of a run's rows' measures, {name: value} ({} on a row not measured)."""
    measured = {step: values for step, values in record.get("measures", [])}
    steps = record["statistics"]["step"]
    return [measured.get(step, {}) for step in steps] + [{}] * (rows - len(steps))


def run_frame(record, layout):
    """A run's rows of the tidy table: one per kept step, and one more carrying the
    error of a run that failed; its measures as objects, each as the run gave it."""
    if not isinstance(layout, TableLayout):
        layout = TableLayout(layout)
    frame, rows = _statistics_frame(record, layout)
    measure_rows = _measure_rows(record, rows)
    measures = pd.DataFrame({name: pd.Series([row.get(name) for row in measure_rows], dtype="object")
                             for name in layout.measure_names}, columns=layout.measure_names)
    return pd.concat([pd.DataFrame(frame), measures], axis=1)[layout.columns()]


def make_table(records, layout):
    """The sweep's table from its runs' records, in run order and step order; a
    measure's column as numbers where every value is one. Built a whole column at
    a time: inserting or converting columns one by one costs pandas time in
    proportion to the columns already there, which a measure of many makes quadratic."""
    records = sorted(records, key=lambda record: record["run"])
    if not isinstance(layout, TableLayout):
        layout = TableLayout(layout)
    for record in records:
        layout.take_measures(record)
    if not records:
        return pd.DataFrame(columns=layout.columns())
    frames, measure_rows = [], []
    for record in records:
        frame, rows = _statistics_frame(record, layout)
        frames.append(pd.DataFrame(frame))
        measure_rows.extend(_measure_rows(record, rows))
    table = pd.concat(frames, ignore_index=True)
    for name in layout.names:
        table[name] = _typed(table[name])
    measures = measure_table(measure_rows, layout.measure_names, table.index)
    return pd.concat([table, measures], axis=1)[layout.columns()]


def _typed(column):
    """A swept control's column as int64 where every value is an int, float64 where
    every value is a float (so that ``table.corr()`` takes it), else as objects.
    Only one Python type at a time: each value is still written as it was given,
    whether a batch of runs or the whole table is written."""
    kinds = set(map(type, column))
    if kinds == {int} and all(-2**63 <= value < 2**63 for value in column):
        return column.astype("int64")
    if kinds == {float}:
        return column.astype("float64")
    return column


# The generator's cycle: every stream is a stretch of these states.
CYCLE = 2**32


def _streams_reaching(draws_by_replicate):
    """The replicates' streams in the order they start on the cycle, as (replicate,
    how many of the next streams in that order start within its own stretch).
    Sorted starts and a binary search each: n log n, where comparing every pair
    would cost n^2 for a sweep of many replicates."""
    # A run that starts at s draws s + 1 .. s + n: another stream starting less than n after s shares a state.
    # Runs of no draws share nothing; a stream of a whole cycle or more shares with every other.
    streams = sorted((draws_between(0, replicate_seed(k)), k, min(draws, CYCLE))
                     for k, draws in draws_by_replicate.items() if draws > 0)
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


def overlapping_replicates(draws_by_replicate):
    """The pairs of replicate indices whose streams share a number, given the most
    numbers any run of each index drew. Runs of one index share their stream on
    purpose (common random numbers), so only different indices are compared."""
    return sorted(_overlap_pairs(_streams_reaching(draws_by_replicate)))


def warn_of_overlaps(draws_by_replicate, shown=20):
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
        warnings.warn(f"the random streams of replicates {names}{more} overlap ({count} of the "
                      f"{len(draws_by_replicate)} replicates drew numbers another drew): their runs are not "
                      "independent (fewer replicates or shorter runs avoid it)", StreamOverlapWarning, stacklevel=5)


def warn_of_changes(changes):
    if changes:
        shown = ", ".join(f"{name} {given} ran as {effect}" for name, given, effect in sorted(changes))
        warnings.warn(f"the model changed swept values at set-up, and the table records what ran: {shown}",
                      ControlChangedWarning, stacklevel=5)


class SweepSummary:
    """What a sweep tells at its end, gathered run by run without keeping the runs:
    which runs finished, how many failed, the most numbers any run of each
    replicate drew, and the values the model changed."""

    def __init__(self, runs):
        self.runs = runs
        self.finished = bytearray(runs)
        self.done = 0
        self.failed = 0
        self.draws_by_replicate = {}
        self.changes = set()

    def add(self, record):
        self.finished[record["run"]] = 1
        self.done += 1
        self.failed += bool(record["error"])
        replicate = record["replicate"]
        self.draws_by_replicate[replicate] = max(self.draws_by_replicate.get(replicate, 0), record["draws"])
        self.changes.update(tuple(change) for change in record["changes"])

    def warn(self):
        warn_of_overlaps(self.draws_by_replicate)
        warn_of_changes(self.changes)


def write_journal_table(path, layout, out, keep_table=None):
    """Writes the table of a journal's runs as CSV to the open file ``out``, a batch
    of runs at a time: the same text as ``make_table`` of all of them would give
    (the measures' columns are gathered from every run first). ``keep_table``, when
    given, is handed each batch's table too (for plots)."""
    if not isinstance(layout, TableLayout):
        layout = TableLayout(layout)
    for records in journal_records(path):
        for record in records:
            layout.take_measures(record)
    header = True
    for records in journal_records(path):
        table = make_table(records, layout)
        table.to_csv(out, index=False, header=header)
        if keep_table is not None:
            keep_table(table)
        header = False
    if header:
        make_table([], layout).to_csv(out, index=False)


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


def stream_runs(client, tasks, task=run_one, window=None):
    """Runs task(*arguments) for each argument tuple of ``tasks`` on the cluster and
    yields each result as it finishes, with at most ``window`` runs in flight (by
    default as many as the cluster has threads, looked at again as workers come and
    go), taking the next arguments as one finishes. No run waits at a worker behind
    another, so a run that ends its worker takes no other run with it. A task that failed, e.g. one
    that ended its worker once per allowed retry, yields ``(arguments, exception)``
    in place of a result; its neighbours go on."""
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


def quiet_local_client(workers):
    """``local_client(workers)`` without Dask's statistical profiler, which samples
    the event loop of this process (where the local scheduler runs) every 10 ms and
    keeps the last 1000 one-second profiles: some hundreds of bytes more per run of a
    sweep for its first quarter of an hour, for a dashboard the local cluster never serves."""
    import dask
    import distributed  # noqa: F401  (its defaults in the configuration first, or leaving the block would drop them)

    with dask.config.set({"distributed.worker.profile.enabled": False}):
        return local_client(workers)


def check_scheduler_address(address):
    """Raises ValueError, in one line, unless address reads as a scheduler's
    ("tcp://host:8786", the scheme tcp unless given): found before any cluster is
    started or run made, rather than as Dask's traceback when connecting."""
    from distributed.comm import registry
    from distributed.comm.addressing import parse_address, parse_host_port

    shown = repr(address[:80] + ("\u2026" if len(address) > 80 else ""))
    try:
        scheme, location = parse_address(address)
        if scheme not in set(registry.backends) - {"inproc"}:
            raise ValueError(f"no scheme {scheme!r}")
        host, port = parse_host_port(location)
        if not host or re.search(r"[\s\x00-\x1f\x7f]", host) or not 1 <= port <= 65535:
            raise ValueError("a host and a port 1..65535 are needed")
    except ValueError as e:
        raise ValueError(f"{shown} is no scheduler address like tcp://host:8786 ({e})") from None


def _connect(client):
    """(client, cluster to close or None, whether the client is ours to close)."""
    from distributed import Client

    if client is None:
        client, cluster = quiet_local_client(default_workers())
        return client, cluster, True
    if isinstance(client, str):
        check_scheduler_address(client)
        return Client(client, timeout=CONNECT_TIMEOUT), None, True
    return client, None, False


def sweep(parameters, replicates=1, steps=None, client=None, progress=True, journal=None, measures=None, every=1,
          stop_when=None, keep="every", store=None):
    """Runs every point of ``parameters`` ``replicates`` times and returns one tidy
    DataFrame: run, the swept controls, replicate, seed, version (of landuse),
    draws (the random numbers the run drew), then the statistics of every step
    (the headless runner's columns) and ``error`` ("" for a run that went well).

    ``parameters``: a dict of value lists (the full grid) or a list of dicts (see
    ``SweepPoints``); values as for ``Simulation``; a value list may be a list,
    tuple, range, numpy array or pandas Series. Each swept control's column holds
    the value in effect after set-up: where the model changed a value (a grid size
    over its largest), what ran, with a ``ControlChangedWarning``; for a point that
    leaves the control out, its default.
    Replicate k of every point starts from ``replicate_seed(k)``; replicate 0 is the
    default start. Runs of different points with the same replicate share their
    random numbers on purpose (common random numbers); a ``StreamOverlapWarning``
    names replicates whose streams overlap.
    ``steps``: steps per run; None runs each to its stop time (E_stop).
    ``client``: None starts a local cluster (see ``local_client``) and closes it
    afterwards; a scheduler address ("tcp://host:8786") connects to that cluster;
    a ``distributed.Client`` is used as it is.
    ``progress``: a progress line on stderr while the runs complete.
    ``journal``: a file that keeps each finished run as it finishes; if it exists,
    its runs are taken from it and only the others run, giving the same table.
    ``measures``: a function ``f(sim) -> dict`` whose values become columns of their
    own, evaluated every ``every`` steps (by the run's step count) and at the last
    step; other rows leave them empty. ``stop_when``: a function ``g(sim) -> bool``
    (or a condition's text, see ``landuse.measures``), evaluated at the same steps,
    that ends a run early; its last row has ``stopped`` true. A measure or stop
    condition that raises makes that run's error row, naming the function. The
    functions travel to the workers as Dask sends tasks (cloudpickle).
    ``keep``: "every" keeps a row for every step; "final" one row per run, its last;
    a list of steps the rows of those steps and the last.
    A design with ``first_replicates`` (one per point, as a seeded Saltelli
    design has) runs replicates first .. first + replicates - 1 of each point.
    A design (``landuse.designs``) adds a column ``point`` (its index in the design)
    and its coordinates in the unit cube (``u_NAME``).

    ``store``: a Zarr store (a folder, e.g. "results.zarr") that takes the runs in
    batches as they finish, and keeps them as a journal does: if it exists, only
    the runs it lacks are run. The sweep then returns the store as an
    ``xarray.Dataset`` (``landuse.open_results``; ``landuse.to_table`` makes this table).

    Mistakes raise ValueError before any run: steps past ``landuse.LARGEST_STEP``,
    more than ``LARGEST_SWEEP`` runs, a malformed scheduler address, a journal
    with a damaged line (named by its number).

    A worker that dies is replaced and its runs run again; a run that ended its
    worker each time it was tried becomes an error row. The model must be
    importable on every worker (the landuse package on its PYTHONPATH).
    """
    replicates = check_replicates(replicates)
    plan = steps if isinstance(steps, RunPlan) else RunPlan(steps, measures, every, stop_when, keep)
    points = SweepPoints(parameters)
    check_run_count(points, replicates)
    if isinstance(client, str):
        check_scheduler_address(client)
    if store is not None:  # the results store's hook
        from .results_store import open_results, run_into_store

        run_into_store(points, replicates, plan, client, progress, store)
        return open_results(store)
    if journal is None:
        records = []
        _run_sweep(points, replicates, plan, client, progress, SweepSummary(points.count * replicates),
                   keep=records.append)
        return make_table(records, TableLayout.of(points))
    run_into_journal(points, replicates, plan, client, progress, journal)
    return make_table([record for records in journal_records(journal) for record in records], TableLayout.of(points))


def run_into_journal(points, replicates, plan, client, progress, path):
    """Runs the sweep's runs that the journal at path lacks, appending each to it;
    its summary, with the journal's runs. The journal is made if it is missing."""
    if not isinstance(plan, RunPlan):
        plan = RunPlan(plan)
    replicates = check_run_count(points, replicates)
    summary = SweepSummary(points.count * replicates)
    journal = Journal(path, points.fingerprint(replicates, plan.description()), summary,
                      check=record_shape(points, replicates))
    try:
        return _run_sweep(points, replicates, plan, client, progress, summary, keep=journal.append_line,
                          as_json=True)
    finally:
        journal.close()


def record_shape(points, replicates):
    """What each journal line of this sweep holds (see ``RecordShape``)."""
    return RecordShape(points.count * replicates, replicates, len(points.names), len(points.coordinate_names),
                       points.first_replicates)


def check_journal(path, points, replicates, plan):
    """Reads the journal at path as a resumed sweep would, changing nothing: ValueError
    for a journal of another sweep or a damaged line, before any run."""
    if not isinstance(plan, RunPlan):
        plan = RunPlan(plan)
    replicates = check_run_count(points, replicates)
    header = journal_header(points.fingerprint(replicates, plan.description()))
    read_journal(path, header, SweepSummary(points.count * replicates), record_shape(points, replicates))


def _run_sweep(points, replicates, plan, client, progress, summary, keep, as_json=False):
    """Runs every run the summary has not seen, passing each record (or its JSON
    line) to keep as it finishes; then warns of overlaps and changed values."""
    names = points.names
    bar = _Progress(summary.runs, progress)
    bar.done, bar.failed = summary.done, summary.failed
    tasks = ((run_id, point, points.replicate_of(run_id // replicates, replicate), plan, names,
              points.coordinates_of(run_id // replicates))
             for run_id, (point, replicate) in enumerate((point, replicate) for point in points
                                                         for replicate in range(replicates))
             if not summary.finished[run_id])

    client, cluster, own_client = _connect(client)
    try:
        for (run_id, point, replicate, _, _, coordinates), result, failure in stream_runs(client, tasks,
                                                                                          task=run_one):
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


def _task_failure(exception):
    from distributed import KilledWorker

    if isinstance(exception, KilledWorker):
        return "the run ended its worker each time it was tried (out of memory, or a crash)"
    return f"the task failed: {type(exception).__name__}: {exception}"
