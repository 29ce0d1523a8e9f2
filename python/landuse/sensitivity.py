"""Global sensitivity analysis: Sobol' indices of a model output, by a Saltelli
design run on the sweep machinery and Jansen's estimators.

    indices = landuse.sensitivity.sobol(
        {"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 10, int)},
        output="residential at step 400", n=64, replicates=2)

For n base points and d ranges the design has n (d + 2) points: two matrices A
and B of n points each (the two halves of a scrambled Sobol' sequence in 2d
dimensions) and, for each range i, A with its column i taken from B. With f the
output (averaged over the replicates of a point) and V the variance of f over A
and B together, Jansen's estimators give

    first order  S_i  = (V - mean((f(B) - f(A_B^i))^2) / 2) / V
    total        ST_i = mean((f(A) - f(A_B^i))^2) / 2 / V

and the bootstrap (resampling the n base points) their confidence intervals.
"""

import re

import numpy as np
import pandas as pd

from . import PATTERN_MEASURES, STATISTICS_COLUMNS
from .designs import _count, _ranges, from_unit_cube

_AT_STEP = re.compile(r"^\s*([A-Za-z_][A-Za-z_0-9.]*)\s*(?:at\s+step\s+(\d+))?\s*$")


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


def saltelli_design(ranges, n, seed=None):
    """The n (d + 2) points of a Saltelli design, in the order A, B, A_B^1 .. A_B^d."""
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    d = len(parsed)
    n = _count(n, per_point=d + 2)
    if n & (n - 1):
        raise ValueError(f"a Saltelli design takes a power of two of base points (e.g. {1 << n.bit_length()}), "
                         f"not {n}")
    both = qmc.Sobol(d=2 * d, scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    a, b = both[:, :d], both[:, d:]
    blocks = [a, b]
    for i in range(d):
        mixed = a.copy()
        mixed[:, i] = b[:, i]
        blocks.append(mixed)
    return from_unit_cube(parsed, np.vstack(blocks), "saltelli")


def _jansen(fa, fb, fab):
    variance = np.var(np.concatenate([fa, fb]))
    if variance == 0:
        return np.full(fab.shape[0], np.nan), np.full(fab.shape[0], np.nan)
    first = (variance - 0.5 * np.mean((fb - fab) ** 2, axis=1)) / variance
    total = 0.5 * np.mean((fa - fab) ** 2, axis=1) / variance
    return first, total


def sobol_indices(fa, fb, fab, names, bootstrap=1000, confidence=0.95, seed=None):
    """First-order and total indices from the outputs at A and B (n each) and at
    each A_B^i (d x n), with percentile intervals from ``bootstrap`` resamples of
    the n base points; a DataFrame indexed by the names."""
    fa, fb, fab = np.asarray(fa, float), np.asarray(fb, float), np.asarray(fab, float)
    n = fa.shape[0]
    if fb.shape != (n,) or fab.shape != (len(names), n):
        raise ValueError("the outputs at A and B take n values each, and at A_B d rows of n")
    first, total = _jansen(fa, fb, fab)
    rng = np.random.default_rng(seed)
    firsts, totals = [], []
    for _ in range(bootstrap):
        pick = rng.integers(0, n, n)
        f, t = _jansen(fa[pick], fb[pick], fab[:, pick])
        firsts.append(f)
        totals.append(t)
    tail = (1 - confidence) / 2 * 100
    bounds = [tail, 100 - tail]
    first_low, first_high = np.nanpercentile(firsts, bounds, axis=0) if bootstrap else (first, first)
    total_low, total_high = np.nanpercentile(totals, bounds, axis=0) if bootstrap else (total, total)
    return pd.DataFrame({"S1": first, "S1_low": first_low, "S1_high": first_high,
                         "ST": total, "ST_low": total_low, "ST_high": total_high},
                        index=pd.Index(list(names), name="parameter"))


def sobol(ranges, output, n, replicates=1, client=None, seed=0, steps=None, controls=None, bootstrap=1000,
          confidence=0.95, progress=True, measures=None, every=1, journal=None):
    """Sobol' indices of ``output`` over ``ranges`` (as for ``landuse.designs``):
    a Saltelli design of n base points (a power of two) run ``replicates`` times
    each on the sweep machinery (``client`` as for ``landuse.sweep``), the output
    averaged over a point's replicates, Jansen's estimators with bootstrap
    intervals at ``confidence``. ``controls`` are fixed for every run; ``steps``
    defaults to the output's step (or the stop time). An output that is a pattern
    measure (``landuse.PATTERN_MEASURES``) is measured by ``landuse.patterns``
    unless other ``measures`` are given. Returns a DataFrame indexed
    by parameter: S1, S1_low, S1_high, ST, ST_low, ST_high; the sweep's table is
    in its ``attrs["table"]``."""
    from .sweeps import sweep

    wanted = Output(output)
    if measures is None and wanted.column in PATTERN_MEASURES.index:
        from .measures import patterns as measures
    # Mistakes the runs would show only at their end are refused before them.
    if measures is None and wanted.column not in STATISTICS_COLUMNS:
        raise ValueError(f"output {output!r}: {wanted.column!r} is no statistics column "
                         f"({', '.join(STATISTICS_COLUMNS)}), no pattern measure and no measures are given")
    if steps is not None and wanted.step is not None and wanted.step > steps:
        raise ValueError(f"output {output!r}: the runs end at step {steps}, before step {wanted.step}")
    design = saltelli_design(ranges, n, seed)
    fixed = dict(controls or {})
    clash = sorted(set(fixed) & set(design.names))
    if clash:
        raise ValueError(f"{', '.join(clash)}: both a range and a fixed control")
    points = [{**fixed, **point} for point in design]
    design[:] = points
    if steps is None:
        steps = wanted.step
    table = sweep(design, replicates=replicates, steps=steps, client=client, progress=progress, measures=measures,
                  every=every, journal=journal, keep="every" if wanted.step is not None else "final")
    by_run = wanted.of_runs(table)
    runs = table.drop_duplicates("run").set_index("run")["point"]
    by_point = by_run.groupby(runs.loc[by_run.index].to_numpy()).mean().sort_index().to_numpy()
    n = len(design) // (len(design.names) + 2)
    fa, fb = by_point[:n], by_point[n:2 * n]
    fab = by_point[2 * n:].reshape(len(design.names), n)
    indices = sobol_indices(fa, fb, fab, design.names, bootstrap, confidence, seed)
    indices.attrs["table"] = table
    indices.attrs["output"] = wanted.text
    return indices


__all__ = ["Output", "saltelli_design", "sobol", "sobol_indices"]

from .screening import morris  # noqa: E402,F401  (screening by elementary effects lives in its own module)
