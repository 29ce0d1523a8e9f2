"""Morris screening and ABC calibration on functions with known answers, without the model."""

import numpy as np
import pytest

from landuse import screening

G_COEFFICIENTS = [0, 1, 4.5, 9, 99, 99]


def g_function(x, a=G_COEFFICIENTS):
    return np.prod((np.abs(4 * np.asarray(x) - 2) + np.asarray(a)) / (1 + np.asarray(a)), axis=-1)


def screened(f, ranges, trajectories, levels=4, seed=1):
    design = screening.morris_design(ranges, trajectories, levels, seed=seed)
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


@pytest.mark.parametrize("ranges, slopes", [
    ({"a": (0.0, 1.0), "b": (0.0, 1.0)}, [3.0, -2.0]),
    ({"a": (10.0, 12.0), "b": (-1.0, 3.0), "c": (0.0, 1.0)}, [1.5, -0.5, 0.0]),
])
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
        return sum(screening.trajectory_distance(candidates[i], candidates[j])
                   for n, i in enumerate(indices) for j in indices[n + 1:])

    chosen = screening.spread_selection(candidates, 6)
    assert len(set(chosen)) == 6
    random_sets = [spread(list(rng.choice(60, 6, replace=False))) for _ in range(200)]
    assert spread(chosen) > max(random_sets)


@pytest.mark.parametrize("levels", [3, 1, 0, 2.0, True])
def test_morris_refuses_levels_that_make_no_symmetric_grid(levels):
    with pytest.raises(ValueError, match="levels"):
        screening.morris_design({"a": (0.0, 1.0)}, 2, levels)
