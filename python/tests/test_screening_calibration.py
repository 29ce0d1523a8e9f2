"""Morris screening and ABC calibration on functions with known answers, without the model."""

import numpy as np
import pytest
from scipy.stats import norm

from landuse import calibrate, screening

G_COEFFICIENTS = [0, 1, 4.5, 9, 99, 99]


def g_function(x, a=G_COEFFICIENTS):
    return np.prod((np.abs(4 * np.asarray(x) - 2) + np.asarray(a)) / (1 + np.asarray(a)), axis=-1)


def screened(f, ranges, trajectories, levels=4, seed=1):
    design = screening.morris_design(ranges, trajectories, levels=levels, seed=seed)
    values = [f(np.array(list(point.values()), float)) for point in design]
    effects = screening.elementary_effects(design.coordinates, values, design.moved)
    return design, screening.morris_indices(effects, design.names, bootstrap=200, seed=seed)


@pytest.mark.parametrize("levels, trajectories", [(4, 10), (6, 20), (8, 30)])
def test_morris_ranks_the_g_function_by_its_coefficients(levels, trajectories):
    ranges = {f"x{i}": (0.0, 1.0) for i in range(len(G_COEFFICIENTS))}
    design, frame = screened(g_function, ranges, trajectories, levels)
    # Every step moves one coordinate by +-Delta, each coordinate once per trajectory.
    steps = np.diff(design.coordinates.reshape(trajectories, -1, len(ranges)), axis=1)
    assert np.allclose(np.abs(steps).sum(axis=2), design.delta)
    assert (np.sort(design.moved, axis=1) == np.arange(len(ranges))).all()
    # Smaller a, more important: the order of mu* is that of a (the two a = 99 tie at the end).
    assert list(frame.index[:4]) == ["x0", "x1", "x2", "x3"]
    assert frame.loc["x3", "mu_star"] > 5 * frame.loc[["x4", "x5"], "mu_star"].max()
    assert (frame["mu_star_low"] <= frame["mu_star"]).all() and (frame["mu_star"] <= frame["mu_star_high"]).all()


@pytest.mark.parametrize(
    "ranges, slopes",
    [
        ({"a": (0.0, 1.0), "b": (0.0, 1.0)}, [3.0, -2.0]),
        ({"a": (10.0, 12.0), "b": (-1.0, 3.0), "c": (0.0, 1.0)}, [1.5, -0.5, 0.0]),
    ],
)
def test_elementary_effects_of_a_linear_function_are_its_slopes_per_range(ranges, slopes):
    widths = np.array([high - low for low, high in ranges.values()])
    _, frame = screened(lambda x: float(np.dot(slopes, x)), ranges, trajectories=5)
    expected = np.array(slopes) * widths
    frame = frame.loc[list(ranges)]
    assert np.allclose(frame["mu"], expected)
    assert np.allclose(frame["mu_star"], np.abs(expected))
    assert np.allclose(frame["sigma"], 0)


def test_the_chosen_trajectories_are_spread_wider_than_random_sets():
    rng = np.random.default_rng(3)
    candidates = [screening._trajectory(4, 4, rng)[0] for _ in range(60)]

    def spread(indices):
        return sum(
            screening.trajectory_distance(candidates[i], candidates[j])
            for n, i in enumerate(indices)
            for j in indices[n + 1 :]
        )

    chosen = screening.spread_selection(candidates, 6)
    assert len(set(chosen)) == 6
    random_sets = [spread(list(rng.choice(60, 6, replace=False))) for _ in range(200)]
    assert spread(chosen) > max(random_sets)


@pytest.mark.parametrize("levels", [3, 1, 0, 2.0, True])
def test_morris_refuses_levels_that_make_no_symmetric_grid(levels):
    with pytest.raises(ValueError, match="levels"):
        screening.morris_design({"a": (0.0, 1.0)}, 2, levels=levels)


# A toy simulator whose posterior is known: under flat priors wide enough, each
# coordinate's posterior is normal around the observed value with the noise's sd.
NOISE = 0.5
TOY_RANGES = {"a": (0.0, 10.0), "b": ("log", 0.1, 10.0)}


def toy(point, seed):
    noise = np.random.default_rng(seed).normal(0, NOISE, 2)
    return [point["a"] + noise[0], np.log(point["b"]) + noise[1]]


def observed(truth, repeat):
    return {"y_a": toy(truth, 10_000 + repeat)[0], "y_b": toy(truth, 10_000 + repeat)[1]}


def test_abc_recovers_the_truth_of_a_toy_simulator_in_most_repeats():
    truth = {"a": 4.0, "b": 2.0}
    held, widths = 0, []
    for repeat in range(10):
        result = calibrate.abc(TOY_RANGES, observed(truth, repeat), population=60, rounds=6, simulate=toy, seed=repeat)
        interval = result.interval(0.9)
        held += all(interval.loc[name, "low"] <= truth[name] <= interval.loc[name, "high"] for name in truth)
        widths.append(interval.loc["a", "high"] - interval.loc["a", "low"])
        assert result.rounds_done == 6 and result.tolerances == sorted(result.tolerances, reverse=True)
    assert held >= 7
    # The tolerance shrinks towards the exact posterior, whose 90 % interval is 2 x 1.645 x 0.5 wide.
    assert 0.8 < np.mean(widths) / (2 * 1.645 * NOISE) < 1.4


@pytest.mark.parametrize(
    "proposals, particles, weights, expected",
    [
        # One particle: the prior density (0.1 on a range of 10) over the kernel's density of the move.
        ([[0.0]], [[0.0]], [1.0], 0.1 / norm.pdf(0)),
        ([[1.0], [2.0]], [[0.0]], [1.0], [0.1 / norm.pdf(1), 0.1 / norm.pdf(2)]),
        # Two particles: their kernels mixed by weight.
        ([[1.0]], [[0.0], [2.0]], [0.25, 0.75], 0.1 / norm.pdf(1)),
        ([[0.0]], [[0.0], [2.0]], [0.25, 0.75], 0.1 / (0.25 * norm.pdf(0) + 0.75 * norm.pdf(2))),
        # Outside the prior's support: no weight.
        ([[6.0]], [[4.0]], [1.0], 0.0),
    ],
)
def test_importance_weights(proposals, particles, weights, expected):
    prior = calibrate.Prior({"x": (-5.0, 5.0)})
    got = calibrate.importance_weights(proposals, particles, weights, norm(0, 1), prior.density)
    assert np.allclose(got, expected)


@pytest.mark.parametrize(
    "values, weights, q, expected",
    [
        ([1, 2, 3, 4], [1, 1, 1, 1], 0.5, 2.5),
        ([4, 1, 3, 2], [0, 1, 0, 1], 0.5, 1.5),
        ([1, 2, 3], [1, 2, 1], 0.5, 2.0),
        ([5.0], [1.0], 0.9, 5.0),
    ],
)
def test_weighted_quantile(values, weights, q, expected):
    assert calibrate.weighted_quantile(values, weights, q) == pytest.approx(expected)


class Interrupted(Exception):
    pass


def test_abc_resumed_from_its_journal_gives_the_same_result(tmp_path):
    targets = observed({"a": 4.0, "b": 2.0}, 0)
    whole = calibrate.abc(TOY_RANGES, targets, population=20, rounds=2, simulate=toy)
    calls, stops = [], [45]

    def interrupted(point, seed):
        if stops and len(calls) == stops[0]:
            stops.pop()
            raise Interrupted
        calls.append(seed)
        return toy(point, seed)

    journal = tmp_path / "abc.journal"
    with pytest.raises(Interrupted):
        calibrate.abc(TOY_RANGES, targets, population=20, rounds=2, simulate=interrupted, journal=journal)
    first = len(calls)
    resumed = calibrate.abc(TOY_RANGES, targets, population=20, rounds=2, simulate=interrupted, journal=journal)
    # Only the candidates the journal lacks ran again.
    assert len(calls) - first == len(whole.runs) - 45
    assert resumed.posterior.equals(whole.posterior)
    with pytest.raises(ValueError, match="another calibration"):
        calibrate.abc(TOY_RANGES, targets, population=21, rounds=2, simulate=toy, journal=journal)


@pytest.mark.parametrize(
    "ranges, message",
    [
        ({"a": (1.0, 1.0)}, "low < high"),
        ({"a": ("log", 0.0, 1.0)}, "log scale"),
        ({"a": (0, 1, 2)}, "an ABC range"),
        ({"a": (0.5, 1, int)}, "whole-number bounds"),
        ({}, "at least one range"),
    ],
)
def test_abc_refuses_ranges_it_has_no_prior_for(ranges, message):
    with pytest.raises(ValueError, match=message):
        calibrate.abc(ranges, {"y": 1.0}, simulate=toy)


@pytest.mark.parametrize(
    "simulated, scales",
    [
        # The median absolute deviation as a normal sd, robust to one far value...
        ([[1.0], [2.0], [3.0], [4.0], [100.0]], [1.482602218505602]),
        # ...the sd where most values are equal, and 1 where all are.
        ([[0.0, 5.0], [0.0, 5.0], [0.0, 5.0], [4.0, 5.0]], [2.0, 1.0]),
    ],
)
def test_each_target_is_scaled_by_the_spread_of_the_first_round(simulated, scales):
    assert np.allclose(calibrate._scales(np.array(simulated)), scales)
    distance = calibrate.distances(np.array(simulated), np.zeros(len(scales)), np.array(scales))
    assert np.allclose(distance, np.sqrt(((np.array(simulated) / scales) ** 2).sum(axis=1)))


def test_each_whole_number_of_a_range_is_equally_likely_a_priori():
    prior = calibrate.Prior({"n": (2, 5, int), "x": (0.0, 1.0)})
    points = prior.points(prior.sample(40_000, np.random.default_rng(0)))
    counts = np.bincount([point["n"] for point in points], minlength=6)[2:]
    assert all(isinstance(point["n"], int) for point in points)
    assert np.allclose(counts / 40_000, 0.25, atol=0.01)
