"""A sweep's results in a Zarr store that grows run by run (``results`` reads it back).

Layout (zarr v2, xarray's conventions: every array names its dimensions in
``_ARRAY_DIMENSIONS``, the sweep's description is the group's attributes):

- dimensions ``run`` (every run of the sweep, allocated whole when the store is
  made: chunks never written cost nothing) and ``step`` (the k-th kept step of a
  run: with keep="every" position k is step k + 1; grown when a run keeps more);
- ``run``: the run's index, the dimension's coordinate;
- over (run, step): each statistics column (``step_number`` holds the column
  ``step``: a variable over two dimensions cannot take a dimension's name) and
  each measure, filled where a run kept no such step;
- over run: each swept control's value, ``point``, the design's ``u_*``
  coordinates, ``replicate``, ``seed``, ``draws``, ``stopped``, ``error`` and
  ``complete``.

``complete`` is set for a batch of runs only after all of their data is written,
so the store is its own journal: a resumed sweep runs the runs not complete,
and writes them just as an uninterrupted sweep would have.

Chunks span all of a run's kept steps, and as many runs as make about a
megabyte of one variable (at most 16384): a batch of finished runs touches one
chunk per variable, and reading one variable across all runs reads few, large
chunks. Blosc with zstd and byte shuffling: statistics change little from step
to step and from run to run, so they compress several times.
"""

from __future__ import annotations

import json
import os
import time
from typing import TYPE_CHECKING

import numpy as np

from .._core import __version__
from ..controls import STATISTICS_COLUMNS, control_text
from ..errors import LanduseValueError
from .points import RunPlan, _defaults, check_run_count, value_in_effect
from .summary import SweepSummary

if TYPE_CHECKING:
    from distributed import Client

    from .points import SweepPoints

__all__ = [
    "FLUSH_SECONDS",
    "FLUSH_VALUES",
    "INT_FILL",
    "LARGEST_RUN_CHUNK",
    "RUN_ARRAYS",
    "STEP_VARIABLE",
    "STORE_FORMAT",
    "ResultsStore",
    "StoreError",
    "check_store",
    "run_into_store",
]

STORE_FORMAT = "landuse sweep store 1"
INT_FILL = np.iinfo(np.int64).min
# The statistics column "step" as the store names it.
STEP_VARIABLE = "step_number"
# Per-run arrays the store keeps besides the controls and the design's coordinates.
RUN_ARRAYS = {
    "point": "i8",
    "replicate": "i8",
    "seed": "i8",
    "draws": "i8",
    "stopped": "bool",
    "error": "str",
    "complete": "bool",
}
LARGEST_RUN_CHUNK = 16384
# Finished runs are written at least this often (seconds), and in batches of at most this many values.
FLUSH_SECONDS = 2.0
FLUSH_VALUES = 2**20


class StoreError(LanduseValueError):
    """A store that is not this sweep's, or a value the store cannot hold."""


def _stat_name(name):
    return STEP_VARIABLE if name == "step" else name


def _compressor():
    from numcodecs import Blosc

    return Blosc(cname="zstd", clevel=3, shuffle=Blosc.SHUFFLE)


def _plain_type(value):
    return type(value.item() if isinstance(value, np.generic) else value)


def _control_kinds(points):
    """Each swept control's kind in the store: "i8" where every value given is an
    int, "f8" where every one is a float, else "json" (each value kept as its JSON
    text, so that the table gives back the very value)."""
    kinds = {name: set() for name in points.names}
    if points._points is None:
        for name, values in zip(points.names, points._lists):
            kinds[name].update(map(_plain_type, values))
    else:
        for point in points._points:
            for name in points.names:
                value = point[name] if name in point else value_in_effect(_defaults()[name])
                kinds[name].add(_plain_type(value))
    return {name: "i8" if found == {int} else "f8" if found == {float} else "json" for name, found in kinds.items()}


def _expected_rows(plan):
    """How many steps each run keeps, as far as the plan tells (at least 1)."""
    if plan.steps is None:
        return 1
    if plan.keep == "every":
        return max(1, plan.steps)
    if plan.keep == "final":
        return 1
    return len({k for k in plan.keep if 1 <= k <= plan.steps} | {plan.steps})


def _describe(points, replicates, plan, fingerprint):
    """The sweep's description, the store's attributes: a store of another sweep differs in some of them."""
    steps, measures, stop_when, every, keep = plan.description()
    grid = None
    if points._points is None:
        grid = {name: [control_text(v) for v in values] for name, values in zip(points.names, points._lists)}
    return {
        "format": STORE_FORMAT,
        "version": __version__,
        "sweep": fingerprint,
        "runs": points.count * replicates,
        "replicates": replicates,
        "parameters": list(points.names),
        "grid": grid,
        "design": list(points.coordinate_names),
        "steps": steps,
        "keep": keep,
        "every": every,
        "measures": measures,
        "stop_when": stop_when,
    }


def _run_chunk(runs, rows):
    """Runs per chunk: about 2**17 values of a variable (a megabyte of numbers)."""
    chunk = 1 << max(6, min(14, (2**17 // max(1, rows)).bit_length() - 1))
    return max(1, min(runs, chunk, LARGEST_RUN_CHUNK))


class ResultsStore:
    """A sweep's store, made or opened to go on: ``add`` takes each finished run's
    record, written in batches; ``close`` writes what is left. Opening a store of
    another sweep raises StoreError naming what differs.

    Parameters
    ----------
    path : str or os.PathLike
        The store (a folder).
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.
    plan : RunPlan
        The runs' plan.
    fingerprint : str
        The sweep's fingerprint, as its journal would hold it.
    summary : SweepSummary, optional
        Told of the runs the store already holds.

    Raises
    ------
    StoreError
        A store of another sweep.

    Examples
    --------
    >>> store = ResultsStore("results.zarr", points, 2, plan, "sweep")  # doctest: +SKIP
    """

    def __init__(
        self,
        path: str | os.PathLike[str],
        points: SweepPoints,
        replicates: int,
        plan: RunPlan,
        fingerprint: str,
        summary: SweepSummary | None = None,
    ) -> None:
        import zarr

        self.path = os.fspath(path)
        self.points, self.replicates = points, replicates
        self.description = _describe(points, replicates, plan, fingerprint)
        self.runs = self.description["runs"]
        if os.path.exists(self.path):
            self.group = zarr.open_group(self.path, mode="r+")
            self._check(dict(self.group.attrs))
            if summary is not None:
                self._read_summary(summary)
        else:
            self.group = zarr.open_group(self.path, mode="w-")
            self._make(plan)
        self.kinds = dict(self.group.attrs["control_kinds"])
        self.rows = self.group["agents"].shape[1]
        self.buffer, self.buffered_values, self.flushed_at = [], 0, time.monotonic()

    # The store's shape.

    def _array(self, name, dimensions, kind, rows=None):
        import numcodecs

        shape = (self.runs,) if len(dimensions) == 1 else (self.runs, rows)
        chunks = (self.chunk,) if len(dimensions) == 1 else (self.chunk, rows)
        if kind in ("str", "json"):
            array = self.group.create(
                name,
                shape=shape,
                chunks=chunks,
                dtype=object,
                object_codec=numcodecs.VLenUTF8(),
                fill_value=None,
                compressor=_compressor(),
            )
        else:
            fill = INT_FILL if kind == "i8" else np.nan if kind == "f8" else False
            array = self.group.create(
                name, shape=shape, chunks=chunks, dtype=kind, fill_value=fill, compressor=_compressor()
            )
        array.attrs["_ARRAY_DIMENSIONS"] = list(dimensions)
        if kind == "json":
            array.attrs["values"] = "json"
        return array

    def _make(self, plan):
        rows = _expected_rows(plan)
        self.chunk = _run_chunk(self.runs, rows)
        kinds = _control_kinds(self.points)
        self.group.attrs.update({**self.description, "control_kinds": kinds, "measure_order": {}})
        run = self.group.create(
            "run",
            shape=(self.runs,),
            chunks=(max(self.chunk, 2**16),),
            dtype="i8",
            fill_value=None,
            compressor=_compressor(),
        )
        run.attrs["_ARRAY_DIMENSIONS"] = ["run"]
        for first in range(0, self.runs, 2**20):
            run[first : first + 2**20] = np.arange(first, min(self.runs, first + 2**20), dtype=np.int64)
        for name in STATISTICS_COLUMNS:
            self._array(_stat_name(name), ("run", "step"), "f8" if name == "max_mark" else "i8", rows)
        for name, kind in kinds.items():
            self._array(name, ("run",), kind)
        for name in self.points.coordinate_names:
            self._array(name, ("run",), "f8")
        for name, kind in RUN_ARRAYS.items():
            self._array(name, ("run",), kind)

    def _check(self, stored):
        if stored.get("format") != STORE_FORMAT:
            raise StoreError(f"{self.path} is no sweep store of this landuse: remove it to start again")
        differ = [key for key, value in self.description.items() if key != "sweep" and stored.get(key) != value]
        if not differ and stored.get("sweep") != self.description["sweep"]:
            differ = ["points"]
        if differ:
            shown = (
                "; ".join(
                    f"{key} {_short(stored.get(key))} there, {_short(self.description.get(key))} here"
                    for key in differ
                    if key != "points"
                )
                or "its points differ"
            )
            raise StoreError(f"the store {self.path} is of another sweep ({shown}): remove it to start again")
        self.chunk = self.group["complete"].chunks[0]

    def _read_summary(self, summary):
        """Puts the store's complete runs into the sweep's summary, a chunk at a time."""
        group = self.group
        for first in range(0, self.runs, self.chunk * 16):
            last = min(self.runs, first + self.chunk * 16)
            complete = group["complete"][first:last]
            if not complete.any():
                continue
            replicate, draws, error = (group[name][first:last] for name in ("replicate", "draws", "error"))
            for i in np.flatnonzero(complete):
                summary.add(
                    {
                        "run": first + int(i),
                        "error": error[i] or "",
                        "replicate": int(replicate[i]),
                        "draws": int(draws[i]),
                        "changes": [],
                    }
                )

    # Writing.

    def add(self, record: dict) -> None:
        self.buffer.append(record)
        self.buffered_values += len(record["statistics"]["step"]) * (len(STATISTICS_COLUMNS) + 1) + 16
        if (
            self.buffered_values >= FLUSH_VALUES
            or len(self.buffer) >= self.chunk
            or time.monotonic() - self.flushed_at >= FLUSH_SECONDS
        ):
            self.flush()

    def _grow(self, rows):
        for name, array in self.group.arrays():
            if len(array.shape) == 2 and array.shape[1] < rows:
                array.resize(self.runs, rows)
        self.rows = rows

    def _measure_array(self, name, value):
        if name in self.group:
            if (
                name in STATISTICS_COLUMNS
                or name in RUN_ARRAYS
                or name in self.kinds
                or name == STEP_VARIABLE
                or len(self.group[name].shape) != 2
            ):
                raise StoreError(f"a measure {name!r} has the name of the store's own variable")
            return self.group[name]
        kind = "f8" if _plain_type(value) in (int, float) else "json"
        array = self._array(name, ("run", "step"), kind, self.rows)
        array.attrs["whole"] = True
        return array

    def flush(self) -> None:
        """Writes the buffered runs, then marks them complete."""
        records, self.buffer, self.buffered_values = sorted(self.buffer, key=lambda r: r["run"]), [], 0
        self.flushed_at = time.monotonic()
        if not records:
            return
        group = self.group
        runs = np.array([r["run"] for r in records], dtype=np.int64)
        rows = max(1, max(len(r["statistics"]["step"]) for r in records))
        if rows > self.rows:
            self._grow(rows)
        for name in STATISTICS_COLUMNS:
            kind = "f8" if name == "max_mark" else "i8"
            block = np.full((len(records), self.rows), np.nan if kind == "f8" else INT_FILL, dtype=kind)
            for i, r in enumerate(records):
                values = r["statistics"][name]
                block[i, : len(values)] = values
            group[_stat_name(name)].oindex[runs, :] = block
        for j, name in enumerate(self.points.names):
            values = [r["values"][j] for r in records]
            kind = self.kinds[name]
            if kind == "json":
                block = np.array([json.dumps(v) for v in values] + [None], dtype=object)[:-1]
            else:
                wanted = int if kind == "i8" else float
                if any(type(v) is not wanted for v in values):
                    raise StoreError(
                        f"{name}: the model changed a value to {values}, which the store cannot "
                        "hold as it holds the others: write this sweep as CSV"
                    )
                block = np.array(values, dtype=kind)
            group[name].oindex[runs] = block
        for j, name in enumerate(self.points.coordinate_names):
            group[name].oindex[runs] = np.array([r["coordinates"][j] for r in records], dtype="f8")
        for name in ("point", "replicate", "seed", "draws"):
            group[name].oindex[runs] = np.array([r[name] for r in records], dtype="i8")
        group["stopped"].oindex[runs] = np.array([r["stopped"] for r in records], dtype=bool)
        group["error"].oindex[runs] = np.array([r["error"] for r in records] + [None], dtype=object)[:-1]
        self._write_measures(records, runs)
        group["complete"].oindex[runs] = np.ones(len(runs), dtype=bool)

    def _write_measures(self, records, runs):
        found = {}
        order = dict(self.group.attrs["measure_order"])
        for i, r in enumerate(records):
            position = {step: k for k, step in enumerate(r["statistics"]["step"])}
            for entry, (step, values) in enumerate(r["measures"]):
                for place, (name, value) in enumerate(values.items()):
                    found.setdefault(name, []).append((i, position[step], value))
                    seen = [r["run"], entry, place]
                    if name not in order or seen < order[name]:
                        order[name] = seen
        for name, cells in found.items():
            array = self._measure_array(name, cells[0][2])
            text = array.attrs.get("values") == "json"
            block = np.full((len(records), self.rows), None if text else np.nan, dtype=object if text else "f8")
            whole = array.attrs["whole"]
            for i, k, value in cells:
                if text:
                    block[i, k] = json.dumps(value)
                elif _plain_type(value) in (int, float):
                    block[i, k] = value
                    whole = whole and _plain_type(value) is int
                else:
                    raise StoreError(
                        f"the measure {name!r} gave numbers and then {value!r}: the store holds one "
                        "kind of value a measure: write this sweep as CSV"
                    )
            if not text and whole != array.attrs["whole"]:
                array.attrs["whole"] = whole
            array.oindex[runs, :] = block
        if order != self.group.attrs["measure_order"]:
            self.group.attrs["measure_order"] = order

    def close(self) -> None:
        self.flush()


def _short(value, length=60):
    text = json.dumps(value)
    return text if len(text) <= length else text[:length] + "\u2026"


def check_store(path: str | os.PathLike[str], points: SweepPoints, replicates: int, plan: RunPlan | int | None) -> None:
    """Raises StoreError for a store at path of another sweep, changing nothing.

    Parameters
    ----------
    path : str or os.PathLike
        The store.
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.
    plan : RunPlan, int or None
        The runs' plan, or their steps.

    Raises
    ------
    StoreError
        No store, or a store of another sweep (naming what differs).

    Examples
    --------
    >>> check_store("results.zarr", SweepPoints({"E_crAgs": [1, 2]}), 2, 50)  # doctest: +SKIP
    """
    import zarr

    if not isinstance(plan, RunPlan):
        plan = RunPlan(plan)
    replicates = check_run_count(points, replicates)
    store = ResultsStore.__new__(ResultsStore)
    store.path = os.fspath(path)
    store.description = _describe(points, replicates, plan, points.fingerprint(replicates, plan.description()))
    try:
        store.group = zarr.open_group(store.path, mode="r")
    except (ValueError, KeyError, zarr.errors.GroupNotFoundError) as e:
        raise StoreError(f"{path} is no sweep store ({e}): remove it to start again") from None
    store._check(dict(store.group.attrs))


def run_into_store(
    points: SweepPoints,
    replicates: int,
    plan: RunPlan | int | None,
    client: Client | str | None,
    progress: bool,
    path: str | os.PathLike[str],
) -> SweepSummary:
    """Runs the sweep's runs that the store at path lacks, writing each batch of
    finished runs into it; its summary, with the store's runs. The store is made if
    it is missing.

    Parameters
    ----------
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.
    plan : RunPlan, int or None
        The runs' plan, or their steps.
    client : distributed.Client, str or None
        The cluster, a scheduler's address, or None for a local cluster.
    progress : bool
        Show a progress line.
    path : str or os.PathLike
        The store.

    Returns
    -------
    SweepSummary
        The runs done and failed, the store's included.

    Raises
    ------
    StoreError
        A store of another sweep.
    OSError
        A store that cannot be written (a full disk): the runs written stay.

    Examples
    --------
    >>> run_into_store(SweepPoints({"E_crAgs": [1, 2]}), 2, 50, None, False, "results.zarr")  # doctest: +SKIP
    """
    if not isinstance(plan, RunPlan):
        plan = RunPlan(plan)
    replicates = check_run_count(points, replicates)
    summary = SweepSummary(points.count * replicates)
    store = ResultsStore(path, points, replicates, plan, points.fingerprint(replicates, plan.description()), summary)
    try:
        from .running import _run_missing  # (running imports this module for its store= hook)

        return _run_missing(points, replicates, plan, client, progress, summary, keep=store.add)
    finally:
        store.close()
