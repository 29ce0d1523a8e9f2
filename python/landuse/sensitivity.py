"""Global sensitivity analysis of a stochastic model: Sobol' indices of a model
output with chance told apart from cause, by a Saltelli design run on the sweep
machinery.

    indices = landuse.sensitivity.sobol_analysis(
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

from __future__ import annotations

import math
import os
from collections.abc import Callable
from typing import TYPE_CHECKING

import numpy as np
import pandas as pd

from .controls import STATISTICS_COLUMNS
from .designs import _count, _ranges, from_unit_cube

# Screening by elementary effects lives in a module of its own; it is offered here too.
from .screening import morris
from .errors import LanduseValueError
from .outputs import Output, wanted_outputs
from .sobol_estimates import ESTIMATORS, check_estimator, convergence, replicated_indices, sobol_indices, split_runs

if TYPE_CHECKING:
    from distributed import Client

    from .designs import Design

    from .simulation import Simulation

__all__ = [
    "ESTIMATORS",
    "Output",
    "convergence",
    "replicated_indices",
    "saltelli_design",
    "seeded_saltelli_design",
    "sobol_analysis",
    "sobol_indices",
    "split_runs",
    "summary",
    "morris",
    "wanted_outputs",
]


def _power_of_two(n, per_point):
    n = _count(n, per_point=per_point)
    if n & (n - 1):
        raise LanduseValueError(
            f"a Saltelli design takes a power of two of base points (e.g. {1 << n.bit_length()}), " f"not {n}"
        )
    return n


def _blocks(a, b, columns):
    blocks = [a, b]
    for i in columns:
        mixed = a.copy()
        mixed[:, i] = b[:, i]
        blocks.append(mixed)
    return np.vstack(blocks)


def saltelli_design(ranges: dict, n: int, seed: int | None = None) -> Design:
    """The n (d + 2) points of a Saltelli design, in the order A, B, A_B^1 .. A_B^d.

    Parameters
    ----------
    ranges : dict
        Control names to ranges, as for ``landuse.designs``.
    n : int
        Base points, a power of two.
    seed : int, optional
        The scrambling's seed.

    Returns
    -------
    Design
        The points.

    Raises
    ------
    LanduseValueError
        n no power of two, or a range that is no range.

    Examples
    --------
    >>> len(saltelli_design({"E_noise": (0, 60)}, 4, seed=1))
    12
    """
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    d = len(parsed)
    n = _power_of_two(n, d + 2)
    both = qmc.Sobol(d=2 * d, scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    return from_unit_cube(parsed, _blocks(both[:, :d], both[:, d:], range(d)), "saltelli")


def seeded_saltelli_design(ranges: dict, n: int, *, replicates: int = 1, seed: int | None = None) -> Design:
    """The n (d + 3) points of a Saltelli design with the seed as its last input,
    in the order A, B, A_B^1 .. A_B^d, A_B^seed; ``design.first_replicates`` gives
    each point its replicates. The seed's coordinate u becomes a slot, floor(u n)
    in A and n + floor(u n) in B: the n points of a Sobol' sequence fill the n
    strata of a coordinate once each, so no two base points share a slot, and slot
    k runs replicates k R .. k R + R - 1.

    Parameters
    ----------
    ranges : dict
        Control names to ranges, as for ``landuse.designs``.
    n : int
        Base points, a power of two.
    replicates : int, default 1
        Runs per point.
    seed : int, optional
        The scrambling's seed.

    Returns
    -------
    Design
        The points, with ``first_replicates``.

    Raises
    ------
    LanduseValueError
        n no power of two, or a range that is no range.

    Examples
    --------
    >>> design = seeded_saltelli_design({"E_noise": (0, 60)}, 4, replicates=2, seed=1)
    >>> len(design), len(design.first_replicates)
    (16, 16)
    """
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    d = len(parsed)
    n = _power_of_two(n, d + 3)
    both = qmc.Sobol(d=2 * (d + 1), scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    a, b = both[:, : d + 1], both[:, d + 1 :]
    unit = _blocks(a, b, range(d + 1))
    design = from_unit_cube(parsed, unit[:, :d], "saltelli")
    slot_a = np.floor(a[:, d] * n).astype(int)
    slot_b = n + np.floor(b[:, d] * n).astype(int)
    slots = np.concatenate([slot_a, slot_b, np.tile(slot_a, d), slot_b])
    design.seed_coordinates = unit[:, d]
    design.first_replicates = [int(k) * replicates for k in slots]
    return design


def sobol_analysis(
    ranges: dict,
    output: str | list[str],
    n: int,
    *,
    replicates: int = 2,
    client: Client | str | None = None,
    seed: int = 0,
    steps: int | None = None,
    controls: dict | None = None,
    bootstrap: int = 1000,
    confidence: float = 0.95,
    progress: bool = True,
    measures: Callable[[Simulation], dict] | None = None,
    every: int | None = None,
    journal: str | os.PathLike[str] | None = None,
    estimator: str = "saltelli",
) -> pd.DataFrame | dict[str, pd.DataFrame]:
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
    of such DataFrames by output.

    Parameters
    ----------
    ranges : dict
        Control names to ranges, as for ``landuse.designs``.
    output : str or list of str
        "COLUMN" or "COLUMN at step N", or a list of them.
    n : int
        Base points, a power of two.
    replicates : int, default 2
        Runs per point.
    client : distributed.Client or str, optional
        As for ``landuse.sweep``.
    seed : int, default 0
        The design's seed.
    steps : int, optional
        Steps per run; by default the outputs' last step (or the stop time).
    controls : dict, optional
        Controls fixed for every run.
    bootstrap : int, default 1000
        Bootstrap resamples for the intervals.
    confidence : float, default 0.95
        The intervals' level.
    progress : bool, default True
        A progress line on stderr.
    measures : callable, optional
        ``f(sim) -> dict`` giving outputs that are no statistics column.
    every : int, optional
        How often measures are taken; by default at the outputs' steps.
    journal : str or os.PathLike, optional
        As for ``landuse.sweep``.
    estimator : {"saltelli", "jansen"}, default "saltelli"
        The first-order estimator.

    Returns
    -------
    pandas.DataFrame or dict of str to pandas.DataFrame
        The indices by parameter, or such tables by output for a list.

    Raises
    ------
    LanduseValueError
        n no power of two, an output of no known column or step, a control both
        ranged and fixed, or runs that failed.

    Examples
    --------
    >>> indices = sobol_analysis({"E_crAgs": (1, 6, int)}, "residential at step 6", n=4,
    ...                          progress=False)  # doctest: +SKIP
    >>> indices[["S1", "ST"]]  # doctest: +SKIP
    """
    from .sweep.points import RESERVED_COLUMNS, check_replicates
    from .sweep.running import run_sweep as sweep

    check_estimator(estimator)
    replicates = check_replicates(replicates)
    wanted, measures = wanted_outputs(output, measures, steps)
    at = sorted({w.step for w in wanted if w.step is not None})
    at_last = any(w.step is None for w in wanted)
    if steps is None and at and not at_last:
        steps = at[-1]
    every = _measures_every(wanted, measures, steps, every, RESERVED_COLUMNS)
    design = seeded_saltelli_design(ranges, n, replicates=replicates, seed=seed)
    fixed = dict(controls or {})
    clash = sorted(set(fixed) & set(design.names))
    if clash:
        raise LanduseValueError(f"{', '.join(clash)}: both a range and a fixed control")
    design[:] = [{**fixed, **point} for point in design]
    keep = "final" if not at or (at == [steps] and not at_last) else at
    table = sweep(
        design,
        replicates=replicates,
        steps=steps,
        client=client,
        progress=progress,
        measures=measures,
        every=every,
        journal=journal,
        keep=keep,
    )
    if keep != "final":
        last = table.groupby("run")["step"].transform("max") == table["step"]
        table = table[table["step"].isin(at) | (last if at_last else False)].reset_index(drop=True)
    options = {"confidence": confidence, "seed": seed, "estimator": estimator}
    results = {w.text: _indices_of(w, table, n, design.names, replicates, bootstrap, options) for w in wanted}
    return results[wanted[0].text] if isinstance(output, str) else results


def _measures_every(wanted, measures, steps, every, reserved):
    """How often the measures are taken (by default at the outputs' steps), refused
    where it never reaches a measured output's step."""
    measured = [
        w
        for w in wanted
        if measures is not None
        and w.column not in STATISTICS_COLUMNS
        and w.column not in reserved
        and w.step is not None
    ]
    if every is None:
        every = math.gcd(*[w.step for w in measured]) or 1 if measured else 1
    for w in measured:
        if w.step % every and w.step != steps:
            raise LanduseValueError(
                f"output {w.text!r}: measures are taken every {every} steps and at step {steps}, "
                f"never at step {w.step}"
            )
    return every


def _indices_of(wanted, table, n, names, replicates, bootstrap, options):
    """One output's indices from the sweep's table, with the table and their convergence in its attrs."""
    parts = split_runs(wanted.of_runs(table).sort_index().to_numpy(), n, len(names), replicates)
    indices = replicated_indices(*parts, names, bootstrap=bootstrap, **options)
    indices.attrs.update(
        table=table,
        output=wanted.text,
        convergence=convergence(*parts, names, bootstrap=min(bootstrap, 200), **options),
    )
    return indices


def summary(indices: pd.DataFrame) -> str:
    """What an analysis found, in a few lines: n, replicates, the chance share and
    the seed's total index with their intervals, and the parameters like chance.

    Parameters
    ----------
    indices : pandas.DataFrame
        The result of ``sobol_analysis`` or ``replicated_indices``.

    Returns
    -------
    str
        A few lines.

    Examples
    --------
    >>> print(summary(sobol_analysis(RANGES, "residential", n=8)))  # doctest: +SKIP
    """
    a = indices.attrs
    chance, seed = a["chance"], a["seed"]
    level = f"{a['confidence']:.0%}"
    like = [name for name, flag in indices["like_chance"].items() if flag]
    return "\n".join(
        [
            f"{a.get('output', 'output')}: n = {a['n']} base points x {a['replicates']} replicates, "
            f"{level} bootstrap intervals, {a['estimator']} first order",
            f"chance share (between replicates) {chance['share']:.3f} [{chance['low']:.3f}, {chance['high']:.3f}]",
            f"seed's total index {seed['ST']:.3f} [{seed['ST_low']:.3f}, {seed['ST_high']:.3f}]",
            "not told from chance: " + (", ".join(like) if like else "none"),
        ]
    )
