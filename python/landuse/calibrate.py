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

from __future__ import annotations

import hashlib
import os
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING
import json
import math
import numbers
import sys

import numpy as np
import pandas as pd

if TYPE_CHECKING:
    from distributed import Client

    from .simulation import Simulation

from .calibrate_prior import Prior, _scales, distances, importance_weights, weighted_quantile
from .calibrate_runs import JOURNAL_FORMAT, CandidateJournal, FunctionRunner, model_runner, simulate_batch
from .errors import LanduseValueError

# Batches of candidates tried in a round before the calibration stops at the round before.
MOST_BATCHES = 20
# Particles run as replicates far from those a sweep uses, so a target made with a
# sweep's replicate never shares its random numbers with a candidate.
FIRST_REPLICATE = 1_000_000


class ABCResult:
    """A calibration's outcome: ``posterior`` (the last population: the
    parameters, weight and distance of each particle), ``runs`` (every candidate
    of every round, with its simulated values, distance and whether it joined its
    round's population), ``tolerances`` by round, ``scales`` of the targets and
    the ``prior``.

    Parameters
    ----------
    posterior : pandas.DataFrame
        The last population.
    runs : pandas.DataFrame
        Every candidate of every round.
    tolerances : list of float
        The tolerance of each round.
    scales : pandas.Series
        The targets' scales.
    prior : Prior
        The prior.
    targets : dict of str to float
        The observed values.
    rounds_done : int
        Rounds completed.

    Examples
    --------
    >>> result = abc(RANGES, TARGETS)  # doctest: +SKIP
    >>> result.interval(0.9)  # doctest: +SKIP
    """

    def __init__(
        self,
        posterior: pd.DataFrame,
        runs: pd.DataFrame,
        tolerances: list[float],
        scales: pd.Series,
        prior: Prior,
        targets: dict[str, float],
        rounds_done: int,
    ) -> None:
        """Keeps the outcome."""
        self.posterior, self.runs, self.tolerances = posterior, runs, tolerances
        self.scales, self.prior, self.targets, self.rounds_done = scales, prior, targets, rounds_done

    def interval(self, level: float = 0.9) -> pd.DataFrame:
        """Each parameter's equal-tailed credible interval at ``level`` and its weighted mean.

        Parameters
        ----------
        level : float, default 0.9
            The interval's level.

        Returns
        -------
        pandas.DataFrame
            mean, median, low and high by parameter.
        """
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
    ranges: dict,
    targets: dict[str, float],
    *,
    population: int = 50,
    rounds: int = 4,
    quantile: float = 0.5,
    simulate: Callable[[dict, int], Sequence[float]] | None = None,
    client: Client | str | None = None,
    seed: int = 0,
    steps: int | None = None,
    controls: dict | None = None,
    measures: Callable[[Simulation], dict] | None = None,
    every: int | None = None,
    journal: str | os.PathLike[str] | None = None,
    progress: bool = True,
) -> ABCResult:
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
    calibration started again goes on. Returns an ``ABCResult``.

    Parameters
    ----------
    ranges : dict
        Control names to (low, high), (low, high, int) or ("log", low, high).
    targets : dict of str to float
        Outputs ("COLUMN" or "COLUMN at step N") to their observed values.
    population : int, default 50
        Particles per round.
    rounds : int, default 4
        Rounds after the first.
    quantile : float, default 0.5
        Each round's tolerance as a quantile of the last round's distances.
    simulate : callable, optional
        ``simulate(point, seed)`` returning the targets' values; by default the model.
    client : distributed.Client or str, optional
        As for ``landuse.sweep``.
    seed : int, default 0
        The calibration's seed.
    steps : int, optional
        Steps per run; by default the targets' last step.
    controls : dict, optional
        Controls fixed for every run.
    measures : callable, optional
        ``f(sim) -> dict`` giving targets that are no statistics column.
    every : int, optional
        How often measures are taken.
    journal : str or os.PathLike, optional
        A file keeping every finished candidate.
    progress : bool, default True
        A progress line on stderr.

    Returns
    -------
    ABCResult
        The posterior, every run, the tolerances and the scales.

    Raises
    ------
    LanduseValueError
        Ranges, targets, population, rounds or quantile out of range, or a
        journal of another calibration.

    Examples
    --------
    >>> def toy(point, seed):
    ...     return [point["x"] + np.random.default_rng(seed).normal(0, 0.1)]
    >>> result = abc({"x": (0.0, 2.0)}, {"y": 1.0}, population=20, rounds=1, simulate=toy, progress=False)
    >>> len(result.posterior)
    20
    """
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
        runner, rest = model_runner(prior, texts, steps, controls, measures, every, client, progress)
    else:
        runner, rest = FunctionRunner(simulate), getattr(simulate, "__qualname__", repr(simulate))
    book = CandidateJournal(journal, _fingerprint(prior, texts, target, population, rounds, quantile, seed, rest))
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


def _kernel(prior, z, weights):
    """The move of a round: a normal of twice the population's weighted covariance."""
    from scipy.stats import multivariate_normal

    d = len(prior.names)
    covariance = 2 * np.atleast_2d(np.cov(z, rowvar=False, aweights=weights))
    # A population that has collapsed on one value still moves a little.
    covariance += np.eye(d) * 1e-12 * np.maximum(prior.high - prior.low, 1) ** 2
    return multivariate_normal(mean=np.zeros(d), cov=covariance, allow_singular=True)


def _proposals(prior, z, weights, kernel, rng, population):
    """A batch of proposals: particles drawn by weight and moved by the kernel."""
    d = len(prior.names)
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
    return proposals


class _PMCSampler:
    """The batches of one ABC-PMC calibration and the journal rows they leave."""

    def __init__(self, prior, texts, target, population, seed, runner, book):
        self.prior, self.texts, self.target = prior, texts, target
        self.population, self.seed = population, seed
        self.runner, self.book = runner, book
        self.records = []
        self.scales = None

    def simulate(self, round_, number, z):
        first = FIRST_REPLICATE + (round_ * MOST_BATCHES + number) * self.population
        batch = [((round_, number, i), point, first + i) for i, point in enumerate(self.prior.points(z))]
        simulated, errors = simulate_batch(self.runner, self.book, batch, len(self.texts))
        return batch, simulated, errors

    def keep(self, round_, number, z, batch, simulated, errors, accepted, weights, distance):
        for i in range(len(z)):
            self.records.append(
                {
                    "round": round_,
                    "batch": number,
                    "candidate": i,
                    "replicate": batch[i][2],
                    **self.prior.points(z[i : i + 1])[0],
                    **dict(zip(self.texts, simulated[i])),
                    "distance": distance[i],
                    "accepted": bool(accepted[i]),
                    "weight": weights[i],
                    "error": errors[i],
                }
            )

    def first_round(self):
        """Round 0: the prior's sample, which also sets the distance's scales."""
        population = self.population
        z = self.prior.sample(population, np.random.default_rng([self.seed, 0, 0]))
        batch, simulated, errors = self.simulate(0, 0, z)
        self.scales = _scales(simulated)
        distance = distances(simulated, self.target, self.scales)
        weights = np.full(population, 1 / population)
        self.keep(0, 0, z, batch, simulated, errors, np.ones(population, bool), weights, distance)
        return z, distance, weights

    def next_round(self, round_, z, weights, tolerance):
        """The particles, distances and weights of a round and the candidates it took, or
        None when too few came within the tolerance."""
        population = self.population
        kernel = _kernel(self.prior, z, weights)
        taken_z, taken_d, taken_w = [], [], []
        for number in range(MOST_BATCHES):
            rng = np.random.default_rng([self.seed, round_, number])
            proposals = _proposals(self.prior, z, weights, kernel, rng, population)
            batch, simulated, errors = self.simulate(round_, number, proposals)
            new_distance = distances(simulated, self.target, self.scales)
            within = new_distance <= tolerance
            new_weights = importance_weights(proposals, z, weights, kernel, self.prior.density)
            room = population - len(taken_z)
            accepted = within & (np.cumsum(within) <= room)
            kept_weights = np.where(accepted, new_weights, 0)
            self.keep(round_, number, proposals, batch, simulated, errors, accepted, kept_weights, new_distance)
            taken_z.extend(proposals[accepted])
            taken_d.extend(new_distance[accepted])
            taken_w.extend(new_weights[accepted])
            if len(taken_z) == population:
                return taken_z, taken_d, taken_w, (number + 1) * population
        return None

    def result(self, done, weights, tolerances):
        runs = pd.DataFrame(self.records)
        final = runs[(runs["round"] == done) & runs["accepted"]].copy()
        final["weight"] = weights
        posterior = final[[*self.prior.names, "weight", "distance"]].reset_index(drop=True)
        scales = pd.Series(self.scales, index=self.texts)
        return ABCResult(posterior, runs, tolerances, scales, self.prior, dict(zip(self.texts, self.target)), done)


def _pmc(prior, texts, target, population, rounds, quantile, seed, runner, book, progress=False):
    sampler = _PMCSampler(prior, texts, target, population, seed, runner, book)
    z, distance, weights = sampler.first_round()
    tolerances, done = [math.inf], 0
    for round_ in range(1, rounds + 1):
        tolerance = float(np.quantile(distance, quantile))
        taken = sampler.next_round(round_, z, weights, tolerance)
        if taken is None:
            break  # too few candidates came within the tolerance: the last full round stands
        taken_z, taken_d, taken_w, tried = taken
        if progress:
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
    return sampler.result(done, weights, tolerances)


__all__ = ["JOURNAL_FORMAT", "ABCResult", "Prior", "abc", "distances", "importance_weights", "weighted_quantile"]
