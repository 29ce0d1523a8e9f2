"""Screening by Morris' elementary effects: which of many controls matter at all,
at a cost of (d + 1) runs per trajectory.

    effects = landuse.sensitivity.morris(
        {"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 6, int), "E_noise": (0, 180)},
        output=["avg_travel at step 300", "residential_aggregation at step 300"],
        trajectories=8, levels=4, controls={"Edit_size": 8})

A trajectory starts at a point of the grid of ``levels`` values per coordinate
in the unit cube and moves one coordinate at a time by Delta = levels / (2
(levels - 1)), each coordinate once. The elementary effect of coordinate i is
the output's change over that move divided by the signed Delta, so it is in
output units per whole range. Over the trajectories: mu (their mean), mu* (the
mean of their absolute values, Campolongo et al. 2007) and sigma (their
standard deviation, interaction or non-linearity); mu* has a bootstrap interval
over the trajectories. The trajectories are chosen for spread among many
random candidates: the set with the largest sum of pairwise distances, found
greedily (Campolongo's selection, Ruano et al.'s greedy form).
"""

from __future__ import annotations

import os
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING

import numpy as np
from numpy.typing import ArrayLike
import pandas as pd

if TYPE_CHECKING:
    from distributed import Client

    from .simulation import Simulation

from .designs import Design, _count, _ranges
from .errors import LanduseValueError

# Candidates per trajectory kept, when ``candidates`` is not given.
CANDIDATES_PER_TRAJECTORY = 10


def _check_levels(levels):
    if isinstance(levels, bool) or not isinstance(levels, (int, np.integer)) or levels < 2 or levels % 2:
        raise LanduseValueError(f"levels takes an even whole number of 2 or more (4 is usual), not {levels!r}")
    return int(levels)


def _trajectory(d, levels, rng):
    """One trajectory in the unit cube, (d + 1) x d, and the coordinate moved at each step."""
    delta = levels / (2 * (levels - 1))
    # Starting levels from which +Delta stays in the cube; half of them then go down instead.
    start = rng.integers(0, levels // 2, d) / (levels - 1)
    up = rng.random(d) < 0.5
    start = np.where(up, start, start + delta)
    order = rng.permutation(d)
    points = [start.copy()]
    for i in order:
        x = points[-1].copy()
        x[i] = x[i] + delta if up[i] else x[i] - delta
        points.append(x)
    return np.array(points), order


def trajectory_distance(a: np.ndarray, b: np.ndarray) -> float:
    """Campolongo's distance between two trajectories: the sum of the Euclidean
    distances between every point of one and every point of the other.

    Parameters
    ----------
    a, b : numpy.ndarray
        Two trajectories, (d + 1) x d points each.

    Returns
    -------
    float
        The distance.

    Examples
    --------
    >>> trajectory_distance(np.zeros((2, 1)), np.ones((2, 1)))
    4.0
    """
    return float(np.sqrt(((a[:, None, :] - b[None, :, :]) ** 2).sum(axis=2)).sum())


def spread_selection(candidates: Sequence[np.ndarray], count: int) -> list[int]:
    """Indices of ``count`` of the candidate trajectories with a large sum of
    pairwise distances: the farthest pair, then each time the candidate that adds
    the most distance to those taken.

    Parameters
    ----------
    candidates : sequence of numpy.ndarray
        The candidate trajectories.
    count : int
        How many to take.

    Returns
    -------
    list of int
        The indices taken.

    Examples
    --------
    >>> sorted(spread_selection([np.zeros((2, 1)), np.ones((2, 1)), np.full((2, 1), 5.0)], 2))
    [0, 2]
    """
    m = len(candidates)
    if count >= m:
        return list(range(m))
    distance = np.zeros((m, m))
    for i in range(m):
        for j in range(i + 1, m):
            distance[i, j] = distance[j, i] = trajectory_distance(candidates[i], candidates[j])
    first, second = np.unravel_index(np.argmax(distance), distance.shape)
    taken = [int(first), int(second)]
    added = distance[first] + distance[second]
    while len(taken) < count:
        added[taken] = -np.inf
        best = int(np.argmax(added))
        taken.append(best)
        added = added + distance[best]
    return taken[:count]


def morris_design(
    ranges: dict, trajectories: int, *, levels: int = 4, candidates: int | None = None, seed: int | None = None
) -> Design:
    """The (d + 1) x trajectories points of a Morris design, trajectory after
    trajectory, as a ``Design``; its ``moved`` holds the coordinate moved at each
    step (trajectories x d) and ``delta`` the step in the unit cube.

    Parameters
    ----------
    ranges : dict
        Control names to ranges, as for ``landuse.designs``.
    trajectories : int
        Trajectories.
    levels : int, default 4
        Levels of the grid, an even number.
    candidates : int, optional
        Trajectories drawn to pick the most spread of.
    seed : int, optional
        The generator's seed.

    Returns
    -------
    Design
        The points, with ``moved`` and ``delta``.

    Raises
    ------
    LanduseValueError
        Levels not even, or fewer candidates than trajectories.

    Examples
    --------
    >>> len(morris_design({"E_noise": (0, 60), "E_crAgs": (1, 6, int)}, 3, seed=1))
    9
    """
    parsed = _ranges(ranges)
    d = len(parsed)
    levels = _check_levels(levels)
    trajectories = _count(trajectories, per_point=d + 1)
    candidates = CANDIDATES_PER_TRAJECTORY * trajectories if candidates is None else _count(candidates)
    if candidates < trajectories:
        raise LanduseValueError(
            f"candidates ({candidates}) takes at least as many as the trajectories ({trajectories})"
        )
    rng = np.random.default_rng(seed)
    made = [_trajectory(d, levels, rng) for _ in range(candidates)]
    chosen = spread_selection([points for points, _ in made], trajectories)
    unit = np.vstack([made[k][0] for k in chosen])
    points = [{r.name: r.value(u) for r, u in zip(parsed, row)} for row in unit]
    design = Design(points, [r.name for r in parsed], coordinates=unit, kind="morris")
    design.moved = np.array([made[k][1] for k in chosen])
    design.delta = levels / (2 * (levels - 1))
    return design


def elementary_effects(unit: ArrayLike, values: ArrayLike, moved: ArrayLike) -> np.ndarray:
    """Elementary effects (trajectories x d, by coordinate) from a design's unit
    coordinates ((d + 1) x trajectories rows), the outputs at its points and the
    coordinate moved at each step.

    Parameters
    ----------
    unit : array_like
        The design's coordinates.
    values : array_like
        The outputs at its points.
    moved : array_like
        The coordinate moved at each step, trajectories x d.

    Returns
    -------
    numpy.ndarray
        The effects, trajectories x d.

    Examples
    --------
    >>> elementary_effects([[0.0], [0.5]], [1.0, 2.0], [[0]]).tolist()
    [[2.0]]
    """
    moved = np.asarray(moved)
    r, d = moved.shape
    unit = np.asarray(unit, float).reshape(r, d + 1, d)
    values = np.asarray(values, float).reshape(r, d + 1)
    effects = np.empty((r, d))
    for t in range(r):
        for step, i in enumerate(moved[t]):
            change = unit[t, step + 1, i] - unit[t, step, i]
            effects[t, i] = (values[t, step + 1] - values[t, step]) / change
    return effects


def morris_indices(
    effects: ArrayLike, names: list[str], *, bootstrap: int = 1000, confidence: float = 0.95, seed: int | None = None
) -> pd.DataFrame:
    """mu, mu* and sigma of each coordinate's elementary effects (trajectories x
    d), with a percentile interval on mu* from ``bootstrap`` resamples of the
    trajectories; a DataFrame indexed by the names, in the order of mu*.

    Parameters
    ----------
    effects : array_like
        Elementary effects, trajectories x d.
    names : list of str
        The d parameters' names.
    bootstrap : int, default 1000
        Bootstrap resamples for mu*'s interval.
    confidence : float, default 0.95
        The interval's level.
    seed : int, optional
        The bootstrap's seed.

    Returns
    -------
    pandas.DataFrame
        mu, mu_star, mu_star_low, mu_star_high and sigma by parameter.

    Examples
    --------
    >>> morris_indices([[1.0, -2.0], [3.0, 2.0]], ["a", "b"], bootstrap=10, seed=1)["mu_star"].tolist()
    [2.0, 2.0]
    """
    effects = np.asarray(effects, float)
    r = effects.shape[0]
    mu_star = np.abs(effects).mean(axis=0)
    rng = np.random.default_rng(seed)
    tail = (1 - confidence) / 2 * 100
    if bootstrap:
        resampled = np.array([np.abs(effects[rng.integers(0, r, r)]).mean(axis=0) for _ in range(bootstrap)])
        low, high = np.percentile(resampled, [tail, 100 - tail], axis=0)
    else:
        low, high = mu_star, mu_star
    frame = pd.DataFrame(
        {
            "mu": effects.mean(axis=0),
            "mu_star": mu_star,
            "mu_star_low": low,
            "mu_star_high": high,
            "sigma": effects.std(axis=0, ddof=1) if r > 1 else np.nan,
        },
        index=pd.Index(list(names), name="parameter"),
    )
    frame.attrs.update(trajectories=r, confidence=confidence)
    return frame.sort_values("mu_star", ascending=False)


def _fix_controls(design, controls):
    """Adds the fixed controls to every point of the design, which must not range over them."""
    fixed = dict(controls or {})
    clash = sorted(set(fixed) & set(design.names))
    if clash:
        raise LanduseValueError(f"{', '.join(clash)}: both a range and a fixed control")
    design[:] = [{**fixed, **point} for point in design]


def _effects_of_outputs(table, design, wanted, bootstrap, confidence, seed):
    """Each wanted output's Morris indices and elementary effects, averaged over a point's replicates."""
    runs = table.drop_duplicates("run").set_index("run")["point"]
    frames, effects = [], {}
    for w in wanted:
        by_run = w.of_runs(table)
        by_point = by_run.groupby(runs.loc[by_run.index].to_numpy()).mean().sort_index().to_numpy()
        effects[w.text] = elementary_effects(design.coordinates, by_point, design.moved)
        frame = morris_indices(effects[w.text], design.names, bootstrap=bootstrap, confidence=confidence, seed=seed)
        frames.append(frame)
    return frames, effects


def morris(
    ranges: dict,
    output: str | list[str],
    trajectories: int,
    *,
    levels: int = 4,
    client: Client | str | None = None,
    seed: int = 0,
    steps: int | None = None,
    controls: dict | None = None,
    replicates: int = 1,
    candidates: int | None = None,
    bootstrap: int = 1000,
    confidence: float = 0.95,
    progress: bool = True,
    measures: Callable[[Simulation], dict] | None = None,
    every: int = 1,
    journal: str | os.PathLike[str] | None = None,
) -> pd.DataFrame:
    """Morris screening of ``output`` (one output's text as for
    ``landuse.sensitivity.sobol_analysis``, or a list of them, all from the same runs)
    over ``ranges`` (as for ``landuse.designs``): a design of ``trajectories``
    trajectories on ``levels`` levels, run ``replicates`` times each on the sweep
    machinery (``client``, ``journal`` as for ``landuse.sweep``), the output
    averaged over a point's replicates. ``controls`` are fixed for every run.

    Returns a DataFrame indexed by parameter (by output and parameter for a list
    of outputs): mu, mu_star, mu_star_low, mu_star_high, sigma; its attrs hold
    the sweep's ``table`` and the ``effects`` (trajectories x parameters per output).

    Parameters
    ----------
    ranges : dict
        Control names to ranges, as for ``landuse.designs``.
    output : str or list of str
        "COLUMN" or "COLUMN at step N", or a list of them.
    trajectories : int
        Trajectories of the design.
    levels : int, default 4
        Levels of the grid, an even number.
    client : distributed.Client or str, optional
        As for ``landuse.sweep``.
    seed : int, default 0
        The design's seed.
    steps : int, optional
        Steps per run; by default the outputs' last step (or the stop time).
    controls : dict, optional
        Controls fixed for every run.
    replicates : int, default 1
        Runs per point.
    candidates : int, optional
        Trajectories drawn to pick the most spread ``trajectories`` of.
    bootstrap : int, default 1000
        Bootstrap resamples for mu*'s interval.
    confidence : float, default 0.95
        The interval's level.
    progress : bool, default True
        A progress line on stderr.
    measures : callable, optional
        ``f(sim) -> dict`` giving outputs that are no statistics column.
    every : int, default 1
        How often measures are taken.
    journal : str or os.PathLike, optional
        As for ``landuse.sweep``.

    Returns
    -------
    pandas.DataFrame
        mu, mu_star, mu_star_low, mu_star_high and sigma by parameter.

    Raises
    ------
    LanduseValueError
        Levels not even, a control both ranged and fixed, an output of no known
        column, or runs that failed.

    Examples
    --------
    >>> effects = morris({"E_crAgs": (1, 6, int), "E_noise": (0, 60)}, "residential at step 6",
    ...                  trajectories=4, progress=False)  # doctest: +SKIP
    >>> effects["mu_star"]  # doctest: +SKIP
    """
    from .outputs import wanted_outputs
    from .sweep.running import run_sweep as sweep

    wanted, measures = wanted_outputs(output, measures, steps)
    design = morris_design(ranges, trajectories, levels=levels, candidates=candidates, seed=seed)
    _fix_controls(design, controls)
    at_steps = [w.step for w in wanted if w.step is not None]
    if steps is None and at_steps:
        steps = max(at_steps)
    keep = "every" if at_steps else "final"
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
    frames, effects = _effects_of_outputs(table, design, wanted, bootstrap, confidence, seed)
    if isinstance(output, str):
        result = frames[0]
    else:
        result = pd.concat(frames, keys=[w.text for w in wanted], names=["output", "parameter"])
    result.attrs.update(
        table=table,
        effects=effects,
        output=output,
        trajectories=len(design.moved),
        levels=levels,
        confidence=confidence,
        replicates=replicates,
    )
    return result


__all__ = ["elementary_effects", "morris", "morris_design", "morris_indices", "spread_selection", "trajectory_distance"]
