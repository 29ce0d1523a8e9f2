"""The estimates of Sobol' indices from a seeded Saltelli design's outputs: the
indices of deterministic outputs (``sobol_indices``), of replicated runs with the
chance share told apart (``replicated_indices``) and their convergence over
nested prefixes of the design (``convergence``). ``landuse.sensitivity`` runs the
design and describes the estimators; both offer these functions."""

from __future__ import annotations

import numpy as np
import pandas as pd
from numpy.typing import ArrayLike

from .errors import LanduseValueError

__all__ = ["ESTIMATORS", "check_estimator", "convergence", "replicated_indices", "sobol_indices", "split_runs"]

ESTIMATORS = ("saltelli", "jansen")


def check_estimator(estimator: str) -> None:
    """Raises unless ``estimator`` names one of ``ESTIMATORS``.

    Parameters
    ----------
    estimator : str
        An estimator's name.

    Raises
    ------
    LanduseValueError
        A name not in ``ESTIMATORS``.

    Examples
    --------
    >>> check_estimator("jansen")
    """
    if estimator not in ESTIMATORS:
        raise LanduseValueError(f"estimator takes one of {', '.join(ESTIMATORS)}, not {estimator!r}")


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


def sobol_indices(
    fa: ArrayLike,
    fb: ArrayLike,
    fab: ArrayLike,
    names: list[str],
    *,
    bootstrap: int = 1000,
    confidence: float = 0.95,
    seed: int | None = None,
    estimator: str = "saltelli",
) -> pd.DataFrame:
    """First-order and total indices of a deterministic output from its values at
    A and B (n each) and at each A_B^i (d x n), with percentile intervals from
    ``bootstrap`` resamples of the n base points; a DataFrame indexed by the names.

    Parameters
    ----------
    fa, fb : array_like
        The outputs at A and B, n each.
    fab : array_like
        The outputs at each A_B^i, d x n.
    names : list of str
        The d parameters' names.
    bootstrap : int
        Bootstrap resamples of the base points for the intervals.
    confidence : float, default 0.95
        The intervals' level.
    seed : int, optional
        The bootstrap's seed.
    estimator : {"saltelli", "jansen"}, default "saltelli"
        The first-order estimator.

    Returns
    -------
    pandas.DataFrame
        S1 and ST with their _low and _high by parameter.

    Raises
    ------
    LanduseValueError
        Outputs of other shapes, or an unknown estimator.

    Examples
    --------
    >>> a, b = np.array([0.0, 1.0, 2.0, 3.0]), np.array([1.0, 2.0, 0.0, 3.0])
    >>> frame = sobol_indices(a, b, b[None, :], ["x"], bootstrap=10, seed=1)
    >>> list(frame.index), "ST_high" in frame
    (['x'], True)
    """
    check_estimator(estimator)
    fa, fb, fab = np.asarray(fa, float), np.asarray(fb, float), np.asarray(fab, float)
    n = fa.shape[0]
    if fb.shape != (n,) or fab.shape != (len(names), n):
        raise LanduseValueError("the outputs at A and B take n values each, and at A_B d rows of n")
    first, total = _deterministic(fa, fb, fab, estimator)
    rng = np.random.default_rng(seed)
    resampled = [
        _deterministic(fa[pick], fb[pick], fab[:, pick], estimator)
        for pick in (rng.integers(0, n, n) for _ in range(bootstrap))
    ]
    first_low, first_high = _percentiles([r[0] for r in resampled], first, confidence)
    total_low, total_high = _percentiles([r[1] for r in resampled], total, confidence)
    return pd.DataFrame(
        {
            "S1": first,
            "S1_low": first_low,
            "S1_high": first_high,
            "ST": total,
            "ST_low": total_low,
            "ST_high": total_high,
        },
        index=pd.Index(list(names), name="parameter"),
    )


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
    first = _ratio(
        _first_numerator(fa, fb, fab, mean_variance, "saltelli")
        if estimator == "saltelli"
        else mean_variance - 0.5 * square(yb, yab),
        mean_variance,
    )
    total = _ratio(0.5 * square(ya, yab), mean_variance)
    return {
        "S1": first,
        "ST": total,
        "ST_run": run_total,
        "seed_ST": seed_total,
        "seed_S1": seed_first,
        "chance": _ratio(within, variance),
    }


def replicated_indices(
    ya: ArrayLike,
    yb: ArrayLike,
    yab: ArrayLike,
    yseed: ArrayLike,
    names: list[str],
    *,
    bootstrap: int = 1000,
    confidence: float = 0.95,
    seed: int | None = None,
    estimator: str = "saltelli",
) -> pd.DataFrame:
    """The indices of a stochastic output from its runs at A, B and A_B^seed (n
    base points x R replicates each) and at each A_B^i (d x n x R), as described
    at the top of this module. A DataFrame indexed by the names: S1, ST (of the
    replicate mean, noise removed), ST_run (of one run), each with _low and _high,
    and like_chance; its attrs hold "chance" and "seed" (estimate, low, high each).

    Parameters
    ----------
    ya, yb, yseed : array_like
        The outputs at A, B and A_B^seed, n base points x R replicates each.
    yab : array_like
        The outputs at each A_B^i, d x n x R.
    names : list of str
        The d parameters' names.
    bootstrap : int
        Bootstrap resamples of the base points for the intervals.
    confidence : float, default 0.95
        The intervals' level.
    seed : int, optional
        The bootstrap's seed.
    estimator : {"saltelli", "jansen"}, default "saltelli"
        The first-order estimator.

    Returns
    -------
    pandas.DataFrame
        The indices by parameter.

    Raises
    ------
    LanduseValueError
        Outputs of other shapes, or an unknown estimator.

    Examples
    --------
    >>> rng = np.random.default_rng(1)
    >>> ya, yb, yseed = rng.random((3, 8, 2))
    >>> frame = replicated_indices(ya, yb, rng.random((1, 8, 2)), yseed, ["x"], bootstrap=20, seed=1)
    >>> list(frame.index)
    ['x']
    """
    check_estimator(estimator)
    ya, yb, yab, yseed = (np.asarray(x, float) for x in (ya, yb, yab, yseed))
    if ya.ndim != 2 or yb.shape != ya.shape or yseed.shape != ya.shape or yab.shape != (len(names), *ya.shape):
        raise LanduseValueError("the runs at A, B and A_B^seed take n x R values each, and at A_B d x n x R")
    n = ya.shape[0]
    estimate = _replicated(ya, yb, yab, yseed, estimator)
    rng = np.random.default_rng(seed)
    samples = [
        _replicated(ya[pick], yb[pick], yab[:, pick], yseed[pick], estimator)
        for pick in (rng.integers(0, n, n) for _ in range(bootstrap))
    ]

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
    frame.attrs.update(
        chance={"share": float(estimate["chance"]), "low": float(chance_low), "high": float(chance_high)},
        seed={
            "ST": float(estimate["seed_ST"]),
            "ST_low": float(seed_low),
            "ST_high": float(seed_high),
            "S1": float(estimate["seed_S1"]),
            "S1_low": float(first_low),
            "S1_high": float(first_high),
        },
        n=n,
        replicates=ya.shape[1],
        confidence=confidence,
        estimator=estimator,
    )
    return frame


def split_runs(
    values: ArrayLike, n: int, d: int, replicates: int
) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
    """A seeded Saltelli design's runs' outputs (by point, then replicate) as ya, yb,
    yab, yseed.

    Parameters
    ----------
    values : array_like
        n (d + 3) x replicates outputs.
    n : int
        Base points.
    d : int
        Parameters.
    replicates : int
        Runs per point.

    Returns
    -------
    tuple of numpy.ndarray
        ya, yb, yab, yseed.

    Examples
    --------
    >>> [part.shape for part in split_runs(range(16), 2, 1, 2)]
    [(2, 2), (2, 2), (1, 2, 2), (2, 2)]
    """
    y = np.asarray(values, float).reshape(d + 3, n, replicates)
    return y[0], y[1], y[2 : 2 + d], y[2 + d]


def convergence(
    ya: ArrayLike,
    yb: ArrayLike,
    yab: ArrayLike,
    yseed: ArrayLike,
    names: list[str],
    *,
    bootstrap: int = 200,
    confidence: float = 0.95,
    seed: int | None = None,
    estimator: str = "saltelli",
    smallest: int = 8,
) -> pd.DataFrame:
    """The indices from nested prefixes of one design: the first 2^k base points of
    a Sobol' sequence are a design of their own, so the indices at n = smallest,
    2 smallest, .. the whole cost no run more. A long DataFrame: n, parameter
    (and "seed", "chance"), S1, ST and ST_run with their intervals.

    Parameters
    ----------
    ya, yb, yseed : array_like
        The outputs at A, B and A_B^seed, n base points x R replicates each.
    yab : array_like
        The outputs at each A_B^i, d x n x R.
    names : list of str
        The d parameters' names.
    bootstrap : int
        Bootstrap resamples of the base points for the intervals.
    confidence : float, default 0.95
        The intervals' level.
    seed : int, optional
        The bootstrap's seed.
    estimator : {"saltelli", "jansen"}, default "saltelli"
        The first-order estimator.
    smallest : int, default 8
        The first prefix's base points.

    Returns
    -------
    pandas.DataFrame
        One row per prefix and parameter.

    Raises
    ------
    LanduseValueError
        Outputs of other shapes, or an unknown estimator.

    Examples
    --------
    >>> rng = np.random.default_rng(1)
    >>> ya, yb, yseed = rng.random((3, 16, 2))
    >>> sorted(set(convergence(ya, yb, rng.random((1, 16, 2)), yseed, ["x"], bootstrap=10)["n"]))
    [8, 16]
    """
    n = np.asarray(ya).shape[0]
    rows = []
    size = min(smallest, n)
    while size <= n:
        part = replicated_indices(
            np.asarray(ya)[:size],
            np.asarray(yb)[:size],
            np.asarray(yab)[:, :size],
            np.asarray(yseed)[:size],
            names,
            bootstrap=bootstrap,
            confidence=confidence,
            seed=seed,
            estimator=estimator,
        )
        for name, row in part.drop(columns="like_chance").iterrows():
            rows.append({"n": size, "parameter": name, **row.to_dict()})
        seed_part = part.attrs["seed"]
        rows.append(
            {
                "n": size,
                "parameter": "seed",
                "ST_run": seed_part["ST"],
                "ST_run_low": seed_part["ST_low"],
                "ST_run_high": seed_part["ST_high"],
            }
        )
        chance = part.attrs["chance"]
        rows.append(
            {
                "n": size,
                "parameter": "chance",
                "ST_run": chance["share"],
                "ST_run_low": chance["low"],
                "ST_run_high": chance["high"],
            }
        )
        size *= 2
    return pd.DataFrame(rows)
