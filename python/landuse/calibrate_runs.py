"""The candidates of an ABC calibration (``landuse.calibrate``) run and kept: on
the sweep machinery or by a function of one's own, each finished candidate
written to the calibration's journal, so that an interrupted calibration goes on
where it stopped."""

import json
import math
import os

import numpy as np

from .errors import LanduseValueError

__all__ = ["JOURNAL_FORMAT", "CandidateJournal", "FunctionRunner", "ModelRunner", "model_runner", "simulate_batch"]

# The first line of a calibration's journal names its format.
JOURNAL_FORMAT = "landuse abc journal 1"


class CandidateJournal:
    """One JSON line per finished candidate after a line naming the calibration."""

    def __init__(self, path, fingerprint):
        self.path, self.done = path, {}
        header = json.dumps({"format": JOURNAL_FORMAT, "fingerprint": fingerprint})
        if path is None:
            self.file = None
            return
        path = os.fspath(path)
        if os.path.exists(path) and os.path.getsize(path):
            with open(path) as f:
                first = f.readline().rstrip("\n")
                if first != header:
                    raise LanduseValueError(f"the journal {path} is another calibration's (its first line differs)")
                for number, line in enumerate(f, 2):
                    if not line.endswith("\n"):
                        break  # a line cut short by an interruption is run again
                    try:
                        entry = json.loads(line)
                        self.done[tuple(entry["key"])] = (entry["values"], entry["error"])
                    except (ValueError, KeyError, TypeError):
                        raise LanduseValueError(f"the journal {path}, line {number}: no candidate's record") from None
            self.file = open(path, "r+")
            self.file.seek(0, os.SEEK_END)
            self._drop_cut_line()
        else:
            self.file = open(path, "w")
            self.file.write(header + "\n")
            self.file.flush()

    def _drop_cut_line(self):
        with open(self.path, "rb") as f:
            data = f.read()
        end = data.rfind(b"\n") + 1
        if end != len(data):
            self.file.truncate(end)
            self.file.seek(end)

    def add(self, key, values, error):
        self.done[key] = (values, error)
        if self.file is not None:
            self.file.write(json.dumps({"key": list(key), "values": values, "error": error}) + "\n")
            self.file.flush()

    def close(self):
        if self.file is not None:
            self.file.close()


def _target_values(record, outputs):
    """The targets' values in a sweep run's record: a statistics column or a
    measure at a step, or at the run's last row."""
    statistics, measured = record["statistics"], dict((step, values) for step, values in record["measures"])
    values = []
    for column, step in outputs:
        if column in statistics:
            steps = statistics["step"]
            where = steps.index(step) if step in steps else (len(steps) - 1 if step is None and steps else None)
            values.append(None if where is None else float(statistics[column][where]))
        else:
            at = step if step is not None else (max(measured) if measured else None)
            value = measured.get(at, {}).get(column)
            values.append(None if value is None else float(value))
    return values


def _run_for_targets(run_id, point, replicate, plan, names, outputs):
    """One candidate's run on a worker: only its targets' values travel back."""
    from .sweep.tasks import run_one

    record = run_one(run_id, point, replicate, plan, names)
    values = None if record["error"] else _target_values(record, outputs)
    error = record["error"] or ("" if None not in values else "a target's step was not reached or measured")
    return {"values": None if error else values, "error": error}


class ModelRunner:
    """Candidates run on the sweep machinery, each with a replicate seed of its own."""

    def __init__(self, outputs, steps, controls, measures, every, client, progress):
        from .sweep.points import RunPlan

        self.outputs, self.controls, self.client, self.progress = outputs, dict(controls or {}), client, progress
        self.plan = RunPlan(steps, measures=measures, every=every, stop_when=None, keep="every")

    def __call__(self, batch):
        from .sweep.points import SweepPoints
        from .sweep.tasks import _task_failure, stream_runs

        points = [{**self.controls, **point} for _, point, _ in batch]
        names = SweepPoints(points).names  # checks every value before any run
        tasks = (
            (n, point, replicate, self.plan, names, self.outputs)
            for n, ((_, _, replicate), point) in enumerate(zip(batch, points))
        )
        for arguments, result, failure in stream_runs(self.client, tasks, task=_run_for_targets):
            if failure is not None:
                result = {"values": None, "error": _task_failure(failure)}
            yield batch[arguments[0]][0], result["values"], result["error"]


class FunctionRunner:
    """Candidates run by a function simulate(point, seed) -> the targets' values."""

    def __init__(self, simulate):
        self.simulate = simulate

    def __call__(self, batch):
        for key, point, replicate in batch:
            yield key, [float(v) for v in self.simulate(point, replicate)], ""


def model_runner(prior, texts, steps, controls, measures, every, client, progress):
    from .controls import PATTERN_MEASURES, STATISTICS_COLUMNS
    from .outputs import Output

    wanted = [Output(text) for text in texts]
    patterned = [w for w in wanted if w.column not in STATISTICS_COLUMNS]
    if patterned and measures is None:
        unknown = [w.text for w in patterned if w.column not in PATTERN_MEASURES.index]
        if unknown:
            raise LanduseValueError(
                f"target {unknown[0]!r}: no statistics column, no pattern measure and no measures given"
            )
        from .measures import patterns as measures
    at = [w.step for w in wanted if w.step is not None]
    if steps is None:
        steps = max(at) if at else None
    if steps is not None and at and max(at) > steps:
        raise LanduseValueError(f"a target at step {max(at)} is after the runs' end at step {steps}")
    if every is None:
        measured_at = [w.step for w in patterned if w.step is not None]
        every = math.gcd(*measured_at) if measured_at else 1
    bad = [w.text for w in patterned if w.step is not None and w.step % every]
    if bad:
        raise LanduseValueError(f"target {bad[0]!r}: the measures are taken every {every} steps, never at its step")
    clash = sorted(set(controls or {}) & set(prior.names))
    if clash:
        raise LanduseValueError(f"{', '.join(clash)}: both a range and a fixed control")
    runner = ModelRunner([(w.column, w.step) for w in wanted], steps, controls, measures, every, client, progress)
    return runner, [runner.plan.description(), sorted((controls or {}).items())]


def simulate_batch(runner, book, batch, width):
    """Every candidate's values (inf for a failed run), those in the journal taken from it."""
    missing = [entry for entry in batch if entry[0] not in book.done]
    if missing:
        for key, values, error in runner(missing):
            book.add(key, values, error)
    rows, errors = [], []
    for key, _, _ in batch:
        values, error = book.done[key]
        rows.append([math.inf] * width if error else values)
        errors.append(error)
    return np.array(rows, float), errors
