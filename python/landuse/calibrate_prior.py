"""The arithmetic of an ABC calibration (``landuse.calibrate``): the prior over
the ranges, weighted quantiles, the importance weights of a population's
proposals and the scaled distances of simulated values from the targets."""

from __future__ import annotations

import math
import numbers
from collections.abc import Callable
from typing import Any

import numpy as np
from numpy.typing import ArrayLike

from .errors import LanduseValueError

__all__ = ["Prior", "distances", "importance_weights", "weighted_quantile"]


class Prior:
    """The ranges as independent uniform priors on their scale (the value, or its
    log for a "log" range), with their scipy.stats distributions.

    Parameters
    ----------
    ranges : dict
        Control names to (low, high), (low, high, int) or ("log", low, high).

    Raises
    ------
    LanduseValueError
        A range of no shape above, or bounds out of order.

    Examples
    --------
    >>> prior = Prior({"E_crAgs": (1, 6, int), "E_decay": ("log", 0.9, 0.999)})
    >>> prior.names
    ['E_crAgs', 'E_decay']
    """

    def __init__(self, ranges: dict) -> None:
        """Reads the ranges."""
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

    def sample(self, n: int, rng: np.random.Generator) -> np.ndarray:
        """``n`` particles drawn from the prior, on its scale.

        Parameters
        ----------
        n : int
            Particles.
        rng : numpy.random.Generator
            The generator.

        Returns
        -------
        numpy.ndarray
            n x d scale coordinates.
        """
        return self.uniform.rvs(size=(n, len(self.names)), random_state=rng)

    def density(self, z: np.ndarray) -> np.ndarray:
        """The prior density at scale coordinates ``z``.

        Parameters
        ----------
        z : numpy.ndarray
            Scale coordinates, one row per particle.

        Returns
        -------
        numpy.ndarray
            The prior density of each row.
        """
        return np.prod(self.uniform.pdf(z), axis=-1)

    def values(self, z: np.ndarray) -> np.ndarray:
        """The control values at scale coordinates z (one row per particle).

        Parameters
        ----------
        z : numpy.ndarray
            Scale coordinates.

        Returns
        -------
        numpy.ndarray
            The values, a log range's exponentiated.
        """
        return np.where(self.log, np.exp(z), z)

    def points(self, z: np.ndarray) -> list[dict[str, float]]:
        """The controls the model is given: whole-number ranges rounded to the nearest whole number.

        Parameters
        ----------
        z : numpy.ndarray
            Scale coordinates.

        Returns
        -------
        list of dict
            One point per row.
        """
        return [
            {
                name: int(np.clip(np.rint(v), lo + 0.5, hi - 0.5)) if whole else float(v)
                for name, v, whole, lo, hi in zip(self.names, row, self.whole, self.low, self.high)
            }
            for row in self.values(z)
        ]


def weighted_quantile(values: ArrayLike, weights: ArrayLike, q: float | ArrayLike) -> np.ndarray:
    """The q-quantiles of values under weights (the inverse of the weighted CDF, midpoints interpolated).

    Parameters
    ----------
    values, weights : array_like
        The values and their weights.
    q : float or array_like
        Quantiles in [0, 1].

    Returns
    -------
    numpy.ndarray
        The quantiles.

    Examples
    --------
    >>> float(weighted_quantile([1.0, 2.0, 3.0], [1, 1, 1], 0.5))
    2.0
    """
    order = np.argsort(values)
    values, weights = np.asarray(values, float)[order], np.asarray(weights, float)[order]
    cumulative = (np.cumsum(weights) - 0.5 * weights) / weights.sum()
    return np.interp(q, cumulative, values)


def importance_weights(
    proposals: ArrayLike,
    particles: ArrayLike,
    weights: ArrayLike,
    kernel: Any,
    prior_density: Callable[[np.ndarray], np.ndarray],
) -> np.ndarray:
    """Each proposal's prior density over the density of the mixture it was drawn
    from: the last population's particles, by weight, moved by the kernel (a
    frozen scipy.stats distribution of the move).

    Parameters
    ----------
    proposals : array_like
        The proposals, one row each.
    particles : array_like
        The last population's particles.
    weights : array_like
        Their weights.
    kernel : scipy.stats frozen distribution
        The move's distribution.
    prior_density : callable
        The prior's density of rows.

    Returns
    -------
    numpy.ndarray
        The weights, unnormalised.

    Examples
    --------
    >>> from scipy.stats import norm
    >>> importance_weights([[0.0]], [[0.0]], [1.0], norm(0, 1), lambda z: np.ones(len(z))).round(3)
    array([2.507])
    """
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


def distances(simulated: ArrayLike, targets: np.ndarray, scales: np.ndarray) -> np.ndarray:
    """Each candidate's distance from the targets.

    Parameters
    ----------
    simulated : array_like
        One row of the targets' simulated values per candidate.
    targets : numpy.ndarray
        The observed values.
    scales : numpy.ndarray
        Each target's scale.

    Returns
    -------
    numpy.ndarray
        The scaled Euclidean distances, inf where a value is missing.

    Examples
    --------
    >>> distances([[3.0, 4.0], [np.nan, 0.0]], np.zeros(2), np.ones(2)).tolist()
    [5.0, inf]
    """
    d = np.sqrt((((np.asarray(simulated, float) - targets) / scales) ** 2).sum(axis=1))
    return np.where(np.isfinite(d), d, np.inf)
