#!/usr/bin/python3
"""Can ABC find the controls behind a run it is only shown the statistics and patterns of?

A run on a grid of cell size 8 with E_CProbab and TrB_thresh set and then hidden
gives the targets: avg_travel and two pattern measures at steps 150 and 300.
ABC-PMC (population 60, 4 rounds after the first, each tolerance the median
of the last round's distances) then recovers them from uniform priors
(log-uniform for E_CProbab) on a local cluster of two workers; prints the
posterior's intervals, the runs and the wall time, and saves the figure:

    PYTHONPATH=build/python docs/abc_example.py [docs/abc-posterior.png] [journal]

Run again with the same journal, it takes every finished run from it. With
--small, a population of 8, one round after the first and targets at steps 30
and 60: a check that the example runs, in seconds.
"""

import sys
import time

import matplotlib

matplotlib.use("Agg")

import landuse  # noqa: E402
from landuse import calibrate, plot_analysis  # noqa: E402

FIXED = {"Edit_size": 8}
HIDDEN = {"E_CProbab": 0.12, "TrB_thresh": 30}
RANGES = {"E_CProbab": ("log", 0.02, 0.5), "TrB_thresh": (0, 90, int)}
OUTPUTS = ["avg_travel", "residential_aggregation", "track_share"]
STEPS = (150, 300)


def observed(steps):
    """The targets: one run at the hidden values, replicate 0 (the candidates run other replicates)."""
    sim = landuse.Simulation(seed=landuse.replicate_seed(0), **FIXED, **HIDDEN)
    table = sim.run(steps[-1], measures=landuse.patterns, every=steps[0]).set_index("step")
    return {f"{name} at step {step}": float(table.loc[step, name]) for step in steps for name in OUTPUTS}


if __name__ == "__main__":
    small = "--small" in sys.argv[1:]
    arguments = [a for a in sys.argv[1:] if a != "--small"]
    figure = arguments[0] if arguments else "docs/abc-posterior.png"
    journal = arguments[1] if len(arguments) > 1 else None
    population, rounds, steps = (8, 1, (30, 60)) if small else (60, 4, STEPS)
    targets = observed(steps)
    for name, value in targets.items():
        print(f"target {name} = {value:.4g}")
    started = time.perf_counter()
    result = calibrate.abc(
        RANGES, targets, population=population, rounds=rounds, controls=FIXED, seed=1, journal=journal
    )
    wall = time.perf_counter() - started
    interval = result.interval(0.9)
    interval["truth"] = [HIDDEN[name] for name in interval.index]
    print(interval.to_string(float_format=lambda v: f"{v:.3g}"))
    print("tolerances by round:", ", ".join(f"{t:.3g}" for t in result.tolerances))
    print(f"{len(result.runs)} runs in {wall:.0f} s on a local cluster of {landuse.sweep.default_workers()} workers")
    plot_analysis.save(plot_analysis.posterior_pairs(result, truth=HIDDEN), figure)
