"""Calibration by approximate Bayesian computation: which controls reproduce what
was observed, as a weighted sample of the posterior.

    result = landuse.calibrate.abc(
        {"E_CProbab": ("log", 0.02, 0.5), "E_noise": (0, 90)},
        {"avg_travel at step 200": 4180.0, "residential_aggregation at step 300": 0.75},
        population=50, rounds=4, steps=300, controls={"Edit_size": 8})
    result.posterior            # the parameters, weight and distance of each particle
    result.interval(0.9)        # weighted 5 % and 95 % quantiles

Sequential Monte Carlo (ABC-PMC, Beaumont et al. 2009): round 0 draws a
population from the prior (uniform on (low, high), log-uniform on ("log", low,
high), each whole number equally likely on (low, high, int)). Every later
round's tolerance is the ``quantile`` of the distances of the last round's
population; candidates are drawn from that population by weight and moved by a
Gaussian kernel whose covariance is twice the population's weighted
covariance, in batches of ``population`` (each run on the sweep machinery's
task stream, with the sweep's run function), until
``population`` of them come within the tolerance. A particle's weight is its
prior density over the kernel's mixture density at it. Log-uniform ranges are
handled on the log scale, where their prior is uniform.

The distance is the Euclidean distance between the simulated and the target
values, each divided by its scale: the median absolute deviation (as a normal
sd) of round 0's simulated values, or their sd where that is 0.

Every candidate's simulated values are kept in a journal as it finishes, keyed
by round, batch and candidate; a calibration started again with the same
journal takes them from it and gives the same result, since every draw comes
from a generator seeded by (seed, round, batch).
"""

import hashlib
import json
import math
import numbers
import os
import sys

import numpy as np
import pandas as pd
from .errors import LanduseValueError

JOURNAL_FORMAT = "landuse abc journal 1"
# Batches of candidates tried in a round before the calibration stops at the round before.
MOST_BATCHES = 20
# Particles run as replicates far from those a sweep uses, so a target made with a
# sweep's replicate never shares its random numbers with a candidate.
FIRST_REPLICATE = 1_000_000


class Prior:
    """The ranges as independent uniform priors on their scale (the value, or its
    log for a "log" range), with their scipy.stats distributions."""

    def __init__(self, ranges):
        from scipy import stats

        if not isinstance(ranges, dict) or not ranges:
            raise LanduseValueError("ranges takes a dict of control names to ranges, with at least one range")
        self.names, self.log, self.whole, low, high = [], [], [], [], []
        for name, spec in ranges.items():
            log = isinstance(spec, tuple) and len(spec) == 3 and spec[0] == "log"
            whole = isinstance(spec, tuple) and len(spec) == 3 and spec[2] is int
            bounds = spec[1:] if log else spec[:2] if whole else spec
            if whole and not all(isinstance(v, numbers.Integral) for v in bounds):
                raise LanduseValueError(f"{name}: a whole-number range takes whole-number bounds, not {spec!r}")
            if (
                not isinstance(bounds, tuple)
                or len(bounds) != 2
                or not all(isinstance(v, numbers.Real) and not isinstance(v, bool) and math.isfinite(v) for v in bounds)
            ):
                raise LanduseValueError(
                    f"{name}: an ABC range is (low, high), (low, high, int) or ('log', low, high), " f"not {spec!r}"
                )
            if not bounds[0] < bounds[1] or (log and bounds[0] <= 0):
                raise LanduseValueError(f"{name}: a range takes low < high (and low > 0 on a log scale), not {spec!r}")
            self.names.append(name)
            self.log.append(log)
            self.whole.append(whole)
            # A whole number is the nearest to a real uniform on the range widened by a half, so each is equally likely.
            half = 0.5 if whole else 0.0
            low.append(math.log(bounds[0]) if log else float(bounds[0]) - half)
            high.append(math.log(bounds[1]) if log else float(bounds[1]) + half)
        self.low, self.high = np.array(low), np.array(high)
        self.log, self.whole = np.array(self.log), np.array(self.whole)
        self.uniform = stats.uniform(loc=self.low, scale=self.high - self.low)

    def sample(self, n, rng):
        return self.uniform.rvs(size=(n, len(self.names)), random_state=rng)

    def density(self, z):
        return np.prod(self.uniform.pdf(z), axis=-1)

    def values(self, z):
        """The control values at scale coordinates z (one row per particle)."""
        return np.where(self.log, np.exp(z), z)

    def points(self, z):
        """The controls the model is given: whole-number ranges rounded to the nearest whole number."""
        return [
            {
                name: int(np.clip(np.rint(v), lo + 0.5, hi - 0.5)) if whole else float(v)
                for name, v, whole, lo, hi in zip(self.names, row, self.whole, self.low, self.high)
            }
            for row in self.values(z)
        ]


def weighted_quantile(values, weights, q):
    """The q-quantiles of values under weights (the inverse of the weighted CDF, midpoints interpolated)."""
    order = np.argsort(values)
    values, weights = np.asarray(values, float)[order], np.asarray(weights, float)[order]
    cumulative = (np.cumsum(weights) - 0.5 * weights) / weights.sum()
    return np.interp(q, cumulative, values)


def importance_weights(proposals, particles, weights, kernel, prior_density):
    """Each proposal's prior density over the density of the mixture it was drawn
    from: the last population's particles, by weight, moved by the kernel (a
    frozen scipy.stats distribution of the move)."""
    proposals, particles = np.atleast_2d(proposals), np.atleast_2d(particles)
    moves = (proposals[:, None, :] - particles[None, :, :]).reshape(-1, proposals.shape[1])
    mixture = np.asarray(kernel.pdf(moves)).reshape(len(proposals), len(particles)) @ np.asarray(weights, float)
    return prior_density(proposals) / mixture


def _scales(simulated):
    from scipy.stats import median_abs_deviation

    finite = simulated[np.isfinite(simulated).all(axis=1)]
    scale = median_abs_deviation(finite, axis=0, scale="normal")
    sd = finite.std(axis=0, ddof=1) if len(finite) > 1 else np.zeros(simulated.shape[1])
    scale = np.where(scale > 0, scale, sd)
    return np.where(scale > 0, scale, 1.0)


def distances(simulated, targets, scales):
    d = np.sqrt((((np.asarray(simulated, float) - targets) / scales) ** 2).sum(axis=1))
    return np.where(np.isfinite(d), d, np.inf)


class _Journal:
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
    from .sweep.running import run_one

    record = run_one(run_id, point, replicate, plan, names)
    values = None if record["error"] else _target_values(record, outputs)
    error = record["error"] or ("" if None not in values else "a target's step was not reached or measured")
    return {"values": None if error else values, "error": error}


class _ModelRunner:
    """Candidates run on the sweep machinery, each with a replicate seed of its own."""

    def __init__(self, outputs, steps, controls, measures, every, client, progress):
        from .sweep.points import RunPlan

        self.outputs, self.controls, self.client, self.progress = outputs, dict(controls or {}), client, progress
        self.plan = RunPlan(steps, measures=measures, every=every, stop_when=None, keep="every")

    def __call__(self, batch):
        from .sweep.points import SweepPoints
        from .sweep.running import _task_failure, stream_runs

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


class _FunctionRunner:
    """Candidates run by a function simulate(point, seed) -> the targets' values."""

    def __init__(self, simulate):
        self.simulate = simulate

    def __call__(self, batch):
        for key, point, replicate in batch:
            yield key, [float(v) for v in self.simulate(point, replicate)], ""


class ABCResult:
    """A calibration's outcome: ``posterior`` (the last population: the
    parameters, weight and distance of each particle), ``runs`` (every candidate
    of every round, with its simulated values, distance and whether it joined its
    round's population), ``tolerances`` by round, ``scales`` of the targets and
    the ``prior``."""

    def __init__(self, posterior, runs, tolerances, scales, prior, targets, rounds_done):
        self.posterior, self.runs, self.tolerances = posterior, runs, tolerances
        self.scales, self.prior, self.targets, self.rounds_done = scales, prior, targets, rounds_done

    def interval(self, level=0.9):
        """Each parameter's equal-tailed credible interval at ``level`` and its weighted mean."""
        weights = self.posterior["weight"].to_numpy()
        tail = (1 - level) / 2
        rows = {}
        for name in self.prior.names:
            values = self.posterior[name].to_numpy()
            low, median, high = weighted_quantile(values, weights, [tail, 0.5, 1 - tail])
            rows[name] = {
                "mean": float(np.average(values, weights=weights)),
                "median": median,
                "low": low,
                "high": high,
            }
        frame = pd.DataFrame(rows).T
        frame.index.name = "parameter"
        frame.attrs["level"] = level
        return frame

    def __repr__(self):
        return (
            f"<landuse.calibrate.ABCResult {len(self.posterior)} particles after {self.rounds_done} rounds, "
            f"{len(self.runs)} runs, tolerance {self.tolerances[-1]:.3g}>"
        )


def _fingerprint(prior, texts, target, population, rounds, quantile, seed, rest):
    description = [
        prior.names,
        prior.low.tolist(),
        prior.high.tolist(),
        prior.log.tolist(),
        texts,
        target.tolist(),
        population,
        rounds,
        quantile,
        seed,
        rest,
    ]
    return hashlib.sha256(json.dumps(description, default=repr).encode()).hexdigest()


def abc(
    ranges,
    targets,
    population=50,
    rounds=4,
    quantile=0.5,
    simulate=None,
    client=None,
    seed=0,
    steps=None,
    controls=None,
    measures=None,
    every=None,
    journal=None,
    progress=True,
):
    """ABC-PMC over ``ranges`` ({name: (low, high), (low, high, int) or ("log", low,
    high)}) towards
    ``targets`` ({output's text as for ``landuse.sensitivity.sobol_analysis``: observed
    value}), with ``rounds`` rounds after the first of ``population`` particles,
    each round's tolerance the ``quantile`` of the last round's distances.

    The candidates run on the sweep machinery (``client`` as for
    ``landuse.sweep``; ``steps`` by default the targets' last step; ``controls``
    fixed for every run; pattern measures by ``landuse.patterns`` every ``every``
    steps, by default the greatest common divisor of their targets' steps), or by
    ``simulate(point, seed)``, a function returning the targets' values in their
    order. ``journal``: a file keeping every finished candidate, from which a
    calibration started again goes on. Returns an ``ABCResult``."""
    prior = Prior(ranges)
    if not isinstance(targets, dict) or not targets:
        raise LanduseValueError("targets takes a dict of outputs to observed values, with at least one")
    texts = list(targets)
    target = np.array([float(targets[t]) for t in texts])
    if not np.isfinite(target).all():
        raise LanduseValueError("the targets' values are finite numbers")
    if isinstance(population, bool) or not isinstance(population, numbers.Integral) or population < 2:
        raise LanduseValueError(f"population takes a whole number of 2 or more, not {population!r}")
    if isinstance(rounds, bool) or not isinstance(rounds, numbers.Integral) or rounds < 0:
        raise LanduseValueError(f"rounds takes a whole number of 0 or more, not {rounds!r}")
    if not 0 < quantile < 1:
        raise LanduseValueError(f"quantile takes a share between 0 and 1, not {quantile!r}")
    if simulate is None:
        runner, rest = _model_runner(prior, texts, steps, controls, measures, every, client, progress)
    else:
        runner, rest = _FunctionRunner(simulate), getattr(simulate, "__qualname__", repr(simulate))
    book = _Journal(journal, _fingerprint(prior, texts, target, population, rounds, quantile, seed, rest))
    cluster, own = None, False
    try:
        if simulate is None:
            from .sweep.clusters import connect as _connect

            # One cluster for every round, rather than one started per batch.
            runner.client, cluster, own = _connect(client)
        return _pmc(prior, texts, target, population, rounds, quantile, seed, runner, book, progress)
    finally:
        book.close()
        if own:
            runner.client.close()
        if cluster is not None:
            cluster.close()


def _model_runner(prior, texts, steps, controls, measures, every, client, progress):
    from .controls import PATTERN_MEASURES, STATISTICS_COLUMNS
    from .sensitivity import Output

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
    runner = _ModelRunner([(w.column, w.step) for w in wanted], steps, controls, measures, every, client, progress)
    return runner, [runner.plan.description(), sorted((controls or {}).items())]


def _simulated(runner, book, batch, width):
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


def _pmc(prior, texts, target, population, rounds, quantile, seed, runner, book, progress=False):
    from scipy.stats import multivariate_normal

    d, records = len(prior.names), []

    def batch_of(round_, number, z):
        first = FIRST_REPLICATE + (round_ * MOST_BATCHES + number) * population
        return [((round_, number, i), point, first + i) for i, point in enumerate(prior.points(z))]

    def keep(round_, number, z, simulated, errors, accepted, weights, distance):
        for i in range(len(z)):
            records.append(
                {
                    "round": round_,
                    "batch": number,
                    "candidate": i,
                    "replicate": batch[i][2],
                    **prior.points(z[i : i + 1])[0],
                    **dict(zip(texts, simulated[i])),
                    "distance": distance[i],
                    "accepted": bool(accepted[i]),
                    "weight": weights[i],
                    "error": errors[i],
                }
            )

    z = prior.sample(population, np.random.default_rng([seed, 0, 0]))
    batch = batch_of(0, 0, z)
    simulated, errors = _simulated(runner, book, batch, len(texts))
    scales = _scales(simulated)
    distance = distances(simulated, target, scales)
    weights = np.full(population, 1 / population)
    keep(0, 0, z, simulated, errors, np.ones(population, bool), weights, distance)
    tolerances, done = [math.inf], 0
    for round_ in range(1, rounds + 1):
        tolerance = float(np.quantile(distance, quantile))
        covariance = 2 * np.atleast_2d(np.cov(z, rowvar=False, aweights=weights))
        # A population that has collapsed on one value still moves a little.
        covariance += np.eye(d) * 1e-12 * np.maximum(prior.high - prior.low, 1) ** 2
        kernel = multivariate_normal(mean=np.zeros(d), cov=covariance, allow_singular=True)
        taken_z, taken_d, taken_w = [], [], []
        for number in range(MOST_BATCHES):
            rng = np.random.default_rng([seed, round_, number])
            proposals = np.empty((population, d))
            wanted = np.arange(population)
            while len(wanted):
                # Moves that leave the prior's support are drawn again, as the kernel truncated to it.
                moved = z[rng.choice(len(z), size=len(wanted), p=weights)] + kernel.rvs(
                    size=len(wanted), random_state=rng
                ).reshape(len(wanted), d)
                inside = prior.density(moved) > 0
                proposals[wanted[inside]] = moved[inside]
                wanted = wanted[~inside]
            batch = batch_of(round_, number, proposals)
            simulated, errors = _simulated(runner, book, batch, len(texts))
            new_distance = distances(simulated, target, scales)
            within = new_distance <= tolerance
            new_weights = importance_weights(proposals, z, weights, kernel, prior.density)
            room = population - len(taken_z)
            accepted = within & (np.cumsum(within) <= room)
            keep(
                round_, number, proposals, simulated, errors, accepted, np.where(accepted, new_weights, 0), new_distance
            )
            taken_z.extend(proposals[accepted])
            taken_d.extend(new_distance[accepted])
            taken_w.extend(new_weights[accepted])
            if len(taken_z) == population:
                break
        else:
            break  # too few candidates came within the tolerance: the last full round stands
        if progress:
            tried = (number + 1) * population
            print(
                f"landuse abc: round {round_}: tolerance {tolerance:.3g}, {population} of {tried} candidates "
                "within it",
                file=sys.stderr,
                flush=True,
            )
        z, distance = np.array(taken_z), np.array(taken_d)
        weights = np.array(taken_w) / np.sum(taken_w)
        tolerances.append(tolerance)
        done = round_
    runs = pd.DataFrame(records)
    final = runs[(runs["round"] == done) & runs["accepted"]].copy()
    final["weight"] = weights
    posterior = final[[*prior.names, "weight", "distance"]].reset_index(drop=True)
    return ABCResult(posterior, runs, tolerances, pd.Series(scales, index=texts), prior, dict(zip(texts, target)), done)


__all__ = ["ABCResult", "Prior", "abc", "distances", "importance_weights", "weighted_quantile"]
