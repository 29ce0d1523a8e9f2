"""Global sensitivity analysis of a stochastic model: Sobol' indices of a model
output with chance told apart from cause, by a Saltelli design run on the sweep
machinery.

    indices = landuse.sensitivity.sobol(
        {"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 10, int)},
        output="residential at step 400", n=64, replicates=2)

The seed is an input of the design like the d ranges: for n base points the
design has n (d + 3) points, two matrices A and B (the halves of a scrambled
Sobol' sequence in 2 (d + 1) dimensions, the last column the seed's), for each
range i A with its column i taken from B (A_B^i), and A with the seed's column
taken from B (A_B^seed). The seed's coordinate picks the point's replicates, so
that A and A_B^i share their random numbers and A and B do not. Each point runs
R replicates. With y a run's output, f the mean of a point's R runs, V the
variance of y over A and B, and W the mean variance between the replicates of a
point:

    chance share                    W / V
    first order (Saltelli 2010)     S_i  = mean(f(B) (f(A_B^i) - f(A))) / V_m
    first order (Jansen)            S_i  = (V_m - E(f(B) - f(A_B^i))^2 / 2) / V_m
    total (Jansen)                  ST_i = E(f(A) - f(A_B^i))^2 / 2 / V_m

where V_m = var(f) - W / R is the variance of the replicate mean without its
noise, and E(f(X) - f(Y))^2 is estimated as mean(d^2 - s_d^2 / R), d the mean of
the R paired differences and s_d^2 their variance: the noise's share of each
square, removed. ``S1`` and ``ST`` are thus the indices of the conditional mean,
what the parameters do to the expected output. ``ST_run`` is the total index of
a single run's output (over V), as is the seed's own (``ST`` of A and
A_B^seed); a parameter whose ``ST_run`` cannot be told from the seed's (the
bootstrap interval of their difference reaches 0) is flagged ``like_chance``.
Intervals come from the bootstrap, resampling the base points.
"""

import math
import re

import numpy as np
import pandas as pd

from . import PATTERN_MEASURES, STATISTICS_COLUMNS
from .designs import _count, _ranges, from_unit_cube
from .results_store import as_table

_AT_STEP = re.compile(r"^\s*([A-Za-z_][A-Za-z_0-9.]*)\s*(?:at\s+step\s+(\d+))?\s*$")
ESTIMATORS = ("saltelli", "jansen")


class Output:
    """What a sensitivity analysis measures of a run: a statistics column or a
    measure's column, at a step ("residential at step 400") or at each run's last
    step ("residential")."""

    def __init__(self, text):
        match = _AT_STEP.match(text) if isinstance(text, str) else None
        if not match:
            raise ValueError(f"output takes 'COLUMN' or 'COLUMN at step N', not {text!r}")
        self.text = text
        self.column = match.group(1)
        self.step = None if match.group(2) is None else int(match.group(2))

    def of_runs(self, table):
        """The output of every run of a sweep's table, by run."""
        table = as_table(table)  # a store's Dataset made into the sweep's table
        if self.column not in table.columns:
            raise ValueError(f"output {self.text!r}: the table has no column {self.column!r}")
        failed = table.loc[table["error"] != "", "run"].unique()
        if len(failed):
            errors = table.loc[table["error"] != "", "error"].iloc[0]
            raise ValueError(f"{len(failed)} run(s) failed, e.g. run {failed[0]}: {errors}")
        rows = table if self.step is None else table[table["step"] == self.step]
        rows = rows.dropna(subset=[self.column])
        values = rows.groupby("run")[self.column].last()
        missing = sorted(set(table["run"]) - set(values.index))
        if missing:
            where = f"at step {self.step}" if self.step is not None else "at its last step"
            raise ValueError(f"output {self.text!r}: run {missing[0]} has no value {where}")
        return values.astype(float)


def _power_of_two(n, per_point):
    n = _count(n, per_point=per_point)
    if n & (n - 1):
        raise ValueError(f"a Saltelli design takes a power of two of base points (e.g. {1 << n.bit_length()}), "
                         f"not {n}")
    return n


def _blocks(a, b, columns):
    blocks = [a, b]
    for i in columns:
        mixed = a.copy()
        mixed[:, i] = b[:, i]
        blocks.append(mixed)
    return np.vstack(blocks)


def saltelli_design(ranges, n, seed=None):
    """The n (d + 2) points of a Saltelli design, in the order A, B, A_B^1 .. A_B^d."""
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    d = len(parsed)
    n = _power_of_two(n, d + 2)
    both = qmc.Sobol(d=2 * d, scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    return from_unit_cube(parsed, _blocks(both[:, :d], both[:, d:], range(d)), "saltelli")


def seeded_saltelli_design(ranges, n, replicates=1, seed=None):
    """The n (d + 3) points of a Saltelli design with the seed as its last input,
    in the order A, B, A_B^1 .. A_B^d, A_B^seed; ``design.first_replicates`` gives
    each point its replicates. The seed's coordinate u becomes a slot, floor(u n)
    in A and n + floor(u n) in B: the n points of a Sobol' sequence fill the n
    strata of a coordinate once each, so no two base points share a slot, and slot
    k runs replicates k R .. k R + R - 1."""
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    d = len(parsed)
    n = _power_of_two(n, d + 3)
    both = qmc.Sobol(d=2 * (d + 1), scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    a, b = both[:, :d + 1], both[:, d + 1:]
    unit = _blocks(a, b, range(d + 1))
    design = from_unit_cube(parsed, unit[:, :d], "saltelli")
    slot_a = np.floor(a[:, d] * n).astype(int)
    slot_b = n + np.floor(b[:, d] * n).astype(int)
    slots = np.concatenate([slot_a, slot_b, np.tile(slot_a, d), slot_b])
    design.seed_coordinates = unit[:, d]
    design.first_replicates = [int(k) * replicates for k in slots]
    return design


def _check_estimator(estimator):
    if estimator not in ESTIMATORS:
        raise ValueError(f"estimator takes one of {', '.join(ESTIMATORS)}, not {estimator!r}")


def _first_numerator(fa, fb, fab, variance, estimator, square=None):
    """Estimates of V_i, the variance of the conditional mean of one input, over
    the last axis; ``square(x, y)`` estimates E(x - y)^2 (plain mean by default)."""
    if estimator == "saltelli":
        centre = np.mean(np.concatenate([fa, fb], axis=-1), axis=-1, keepdims=True)
        return np.mean((fb - centre) * (fab - fa), axis=-1)
    square = square or (lambda x, y: np.mean((x - y) ** 2, axis=-1))
    return variance - 0.5 * square(fb, fab)


def _ratio(numerator, variance):
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(variance > 0, numerator / np.where(variance > 0, variance, 1), np.nan)


def _deterministic(fa, fb, fab, estimator):
    variance = np.var(np.concatenate([fa, fb]))
    first = _ratio(_first_numerator(fa, fb, fab, variance, estimator), variance)
    total = _ratio(0.5 * np.mean((fa - fab) ** 2, axis=1), variance)
    return first, total


def _percentiles(samples, estimate, confidence):
    samples = np.asarray(samples, float)
    if not len(samples) or np.isnan(samples).all():  # e.g. the chance share of one replicate
        return estimate, estimate
    tail = (1 - confidence) / 2 * 100
    return np.nanpercentile(samples, [tail, 100 - tail], axis=0)


def sobol_indices(fa, fb, fab, names, bootstrap=1000, confidence=0.95, seed=None, estimator="saltelli"):
    """First-order and total indices of a deterministic output from its values at
    A and B (n each) and at each A_B^i (d x n), with percentile intervals from
    ``bootstrap`` resamples of the n base points; a DataFrame indexed by the names."""
    _check_estimator(estimator)
    fa, fb, fab = np.asarray(fa, float), np.asarray(fb, float), np.asarray(fab, float)
    n = fa.shape[0]
    if fb.shape != (n,) or fab.shape != (len(names), n):
        raise ValueError("the outputs at A and B take n values each, and at A_B d rows of n")
    first, total = _deterministic(fa, fb, fab, estimator)
    rng = np.random.default_rng(seed)
    resampled = [_deterministic(fa[pick], fb[pick], fab[:, pick], estimator)
                 for pick in (rng.integers(0, n, n) for _ in range(bootstrap))]
    first_low, first_high = _percentiles([r[0] for r in resampled], first, confidence)
    total_low, total_high = _percentiles([r[1] for r in resampled], total, confidence)
    return pd.DataFrame({"S1": first, "S1_low": first_low, "S1_high": first_high,
                         "ST": total, "ST_low": total_low, "ST_high": total_high},
                        index=pd.Index(list(names), name="parameter"))


def _replicated(ya, yb, yab, yseed, estimator):
    """Every estimate from the runs' outputs: ya, yb, yseed (n, R), yab (d, n, R)."""
    replicates = ya.shape[-1]
    both = np.concatenate([ya, yb])
    variance = np.var(both)
    within = np.mean(np.var(both, axis=1, ddof=1)) if replicates > 1 else np.nan
    # Run-level indices, the seed among the inputs: each replicate pairs with the same replicate elsewhere.
    flat = lambda x: x.reshape(*x.shape[:-2], -1)  # noqa: E731
    run_total = _ratio(0.5 * np.mean((flat(ya) - flat(yab)) ** 2, axis=-1), variance)
    seed_total = _ratio(0.5 * np.mean((ya - yseed) ** 2), variance)
    seed_first = _ratio(_first_numerator(flat(ya), flat(yb), flat(yseed), variance, estimator), variance)

    # The replicate mean's indices, each square rid of the noise it carries.
    def square(x, y):
        difference = x - y
        noise = np.var(difference, axis=-1, ddof=1) / replicates if replicates > 1 else 0.0
        return np.mean(np.mean(difference, axis=-1) ** 2 - noise, axis=-1)

    fa, fb, fab = ya.mean(-1), yb.mean(-1), yab.mean(-1)
    mean_variance = np.var(np.concatenate([fa, fb]), ddof=1) - (within / replicates if replicates > 1 else 0.0)
    # Saltelli's product pairs B with runs of other seeds, so its noise averages out unremoved.
    first = _ratio(_first_numerator(fa, fb, fab, mean_variance, "saltelli") if estimator == "saltelli"
                   else mean_variance - 0.5 * square(yb, yab), mean_variance)
    total = _ratio(0.5 * square(ya, yab), mean_variance)
    return {"S1": first, "ST": total, "ST_run": run_total, "seed_ST": seed_total, "seed_S1": seed_first,
            "chance": _ratio(within, variance)}


def replicated_indices(ya, yb, yab, yseed, names, bootstrap=1000, confidence=0.95, seed=None,
                       estimator="saltelli"):
    """The indices of a stochastic output from its runs at A, B and A_B^seed (n
    base points x R replicates each) and at each A_B^i (d x n x R), as described
    at the top of this module. A DataFrame indexed by the names: S1, ST (of the
    replicate mean, noise removed), ST_run (of one run), each with _low and _high,
    and like_chance; its attrs hold "chance" and "seed" (estimate, low, high each)."""
    _check_estimator(estimator)
    ya, yb, yab, yseed = (np.asarray(x, float) for x in (ya, yb, yab, yseed))
    if ya.ndim != 2 or yb.shape != ya.shape or yseed.shape != ya.shape or yab.shape != (len(names), *ya.shape):
        raise ValueError("the runs at A, B and A_B^seed take n x R values each, and at A_B d x n x R")
    n = ya.shape[0]
    estimate = _replicated(ya, yb, yab, yseed, estimator)
    rng = np.random.default_rng(seed)
    samples = [_replicated(ya[pick], yb[pick], yab[:, pick], yseed[pick], estimator)
               for pick in (rng.integers(0, n, n) for _ in range(bootstrap))]

    def interval(key):
        return _percentiles([s[key] for s in samples], estimate[key], confidence)

    frame = pd.DataFrame(index=pd.Index(list(names), name="parameter"))
    for key in ("S1", "ST", "ST_run"):
        low, high = interval(key)
        frame[key], frame[f"{key}_low"], frame[f"{key}_high"] = estimate[key], low, high
    # Paired: each resample's parameter total against the same resample's seed total.
    if samples:
        differences = np.array([s["ST_run"] - s["seed_ST"] for s in samples])
        frame["like_chance"] = np.nanpercentile(differences, (1 - confidence) / 2 * 100, axis=0) <= 0
    else:
        frame["like_chance"] = estimate["ST_run"] <= estimate["seed_ST"]
    chance_low, chance_high = interval("chance")
    seed_low, seed_high = interval("seed_ST")
    first_low, first_high = interval("seed_S1")
    frame.attrs.update(chance={"share": float(estimate["chance"]), "low": float(chance_low),
                               "high": float(chance_high)},
                       seed={"ST": float(estimate["seed_ST"]), "ST_low": float(seed_low),
                             "ST_high": float(seed_high), "S1": float(estimate["seed_S1"]),
                             "S1_low": float(first_low), "S1_high": float(first_high)},
                       n=n, replicates=ya.shape[1], confidence=confidence, estimator=estimator)
    return frame


def split_runs(values, n, d, replicates):
    """A seeded Saltelli design's runs' outputs (by point, then replicate) as ya, yb,
    yab, yseed."""
    y = np.asarray(values, float).reshape(d + 3, n, replicates)
    return y[0], y[1], y[2:2 + d], y[2 + d]


def convergence(ya, yb, yab, yseed, names, bootstrap=200, confidence=0.95, seed=None, estimator="saltelli",
                smallest=8):
    """The indices from nested prefixes of one design: the first 2^k base points of
    a Sobol' sequence are a design of their own, so the indices at n = smallest,
    2 smallest, .. the whole cost no run more. A long DataFrame: n, parameter
    (and "seed", "chance"), S1, ST and ST_run with their intervals."""
    n = np.asarray(ya).shape[0]
    rows = []
    size = min(smallest, n)
    while size <= n:
        part = replicated_indices(np.asarray(ya)[:size], np.asarray(yb)[:size], np.asarray(yab)[:, :size],
                                  np.asarray(yseed)[:size], names, bootstrap, confidence, seed, estimator)
        for name, row in part.drop(columns="like_chance").iterrows():
            rows.append({"n": size, "parameter": name, **row.to_dict()})
        seed_part = part.attrs["seed"]
        rows.append({"n": size, "parameter": "seed", "ST_run": seed_part["ST"], "ST_run_low": seed_part["ST_low"],
                     "ST_run_high": seed_part["ST_high"]})
        chance = part.attrs["chance"]
        rows.append({"n": size, "parameter": "chance", "ST_run": chance["share"], "ST_run_low": chance["low"],
                     "ST_run_high": chance["high"]})
        size *= 2
    return pd.DataFrame(rows)


def wanted_outputs(output, measures, steps):
    """The outputs an analysis asks for (a text or a list of texts) and the
    measures that give them: the pattern measures when an output names one and no
    measures are given. Mistakes the runs would show only at their end (a column
    nothing gives, a step past the last) are refused before them."""
    texts = [output] if isinstance(output, str) else list(output)
    if not texts:
        raise ValueError("output takes an output or a list of them, not an empty list")
    wanted = [Output(text) for text in texts]
    if measures is None and any(w.column in PATTERN_MEASURES.index for w in wanted):
        from .measures import patterns as measures
    for w in wanted:
        if measures is None and w.column not in STATISTICS_COLUMNS:
            raise ValueError(f"output {w.text!r}: {w.column!r} is no statistics column "
                             f"({', '.join(STATISTICS_COLUMNS)}), no pattern measure and no measures are given")
        if steps is not None and w.step is not None and w.step > steps:
            raise ValueError(f"output {w.text!r}: the runs end at step {steps}, before step {w.step}")
    return wanted, measures


def sobol(ranges, output, n, replicates=2, client=None, seed=0, steps=None, controls=None, bootstrap=1000,
          confidence=0.95, progress=True, measures=None, every=None, journal=None, estimator="saltelli"):
    """Sobol' indices of ``output`` over ``ranges`` (as for ``landuse.designs``),
    the seed among the inputs: a seeded Saltelli design of n base points (a power
    of two), each point run ``replicates`` times on the sweep machinery
    (``client`` as for ``landuse.sweep``), estimated as this module's text says
    (``estimator`` "saltelli" or "jansen" for the first order), with bootstrap
    intervals at ``confidence``. ``controls`` are fixed for every run; ``steps``
    defaults to the output's step (or the stop time). An output that is a pattern
    measure (``landuse.PATTERN_MEASURES``) is measured by ``landuse.patterns``
    unless other ``measures`` are given, every ``every`` steps (by default only
    at the outputs' steps). Only the outputs' steps of each run are kept.

    Returns a DataFrame indexed by parameter (see ``replicated_indices``); its
    attrs hold the chance share, the seed's indices, n, replicates, the output,
    the sweep's table ("table") and the indices against n ("convergence").
    ``output`` may be a list of outputs, all taken from the same runs: then a dict
    of such DataFrames by output."""
    from .sweeps import RESERVED_COLUMNS, check_replicates, sweep

    _check_estimator(estimator)
    replicates = check_replicates(replicates)
    wanted, measures = wanted_outputs(output, measures, steps)
    at = sorted({w.step for w in wanted if w.step is not None})
    at_last = any(w.step is None for w in wanted)
    if steps is None and at and not at_last:
        steps = at[-1]
    measured = [w for w in wanted if measures is not None and w.column not in STATISTICS_COLUMNS
                and w.column not in RESERVED_COLUMNS and w.step is not None]
    if every is None:
        every = math.gcd(*[w.step for w in measured]) or 1 if measured else 1
    for w in measured:
        if w.step % every and w.step != steps:
            raise ValueError(f"output {w.text!r}: measures are taken every {every} steps and at step {steps}, "
                             f"never at step {w.step}")
    design = seeded_saltelli_design(ranges, n, replicates, seed)
    fixed = dict(controls or {})
    clash = sorted(set(fixed) & set(design.names))
    if clash:
        raise ValueError(f"{', '.join(clash)}: both a range and a fixed control")
    design[:] = [{**fixed, **point} for point in design]
    keep = "final" if not at or (at == [steps] and not at_last) else at
    table = sweep(design, replicates=replicates, steps=steps, client=client, progress=progress, measures=measures,
                  every=every, journal=journal, keep=keep)
    if keep != "final":
        last = table.groupby("run")["step"].transform("max") == table["step"]
        table = table[table["step"].isin(at) | (last if at_last else False)].reset_index(drop=True)
    d = len(design.names)
    results = {}
    for w in wanted:
        parts = split_runs(w.of_runs(table).sort_index().to_numpy(), n, d, replicates)
        indices = replicated_indices(*parts, design.names, bootstrap, confidence, seed, estimator)
        indices.attrs.update(table=table, output=w.text,
                             convergence=convergence(*parts, design.names, min(bootstrap, 200), confidence, seed,
                                                     estimator))
        results[w.text] = indices
    return results[wanted[0].text] if isinstance(output, str) else results


def summary(indices):
    """What an analysis found, in a few lines: n, replicates, the chance share and
    the seed's total index with their intervals, and the parameters like chance."""
    a = indices.attrs
    chance, seed = a["chance"], a["seed"]
    level = f"{a['confidence']:.0%}"
    like = [name for name, flag in indices["like_chance"].items() if flag]
    return "\n".join([
        f"{a.get('output', 'output')}: n = {a['n']} base points x {a['replicates']} replicates, "
        f"{level} bootstrap intervals, {a['estimator']} first order",
        f"chance share (between replicates) {chance['share']:.3f} [{chance['low']:.3f}, {chance['high']:.3f}]",
        f"seed's total index {seed['ST']:.3f} [{seed['ST_low']:.3f}, {seed['ST_high']:.3f}]",
        "not told from chance: " + (", ".join(like) if like else "none"),
    ])


__all__ = ["Output", "convergence", "replicated_indices", "saltelli_design", "seeded_saltelli_design", "sobol",
           "sobol_indices", "split_runs", "summary"]

from .screening import morris  # noqa: E402,F401  (screening by elementary effects lives in its own module)
