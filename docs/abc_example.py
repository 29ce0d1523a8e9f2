#!/usr/bin/python3
"""Can ABC find the controls behind a run it is only shown the statistics and patterns of?

A run on a grid of cell size 8 with E_CProbab and TrB_thresh set and then hidden
gives the targets: avg_travel and two pattern measures at steps 150 and 300.
ABC-PMC (population 60, 4 rounds after the first, each tolerance the median
of the last round's distances) then recovers them from uniform priors
(log-uniform for E_CProbab) on a local cluster of two workers; prints the
posterior's intervals, the runs and the wall time, and saves the figure:

    PYTHONPATH=build/python docs/abc_example.py [docs/abc-posterior.png] [journal]

Run again with the same journal, it takes every finished run from it.
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


def observed():
    """The targets: one run at the hidden values, replicate 0 (the candidates run other replicates)."""
    sim = landuse.Simulation(seed=landuse.replicate_seed(0), **FIXED, **HIDDEN)
    table = sim.run(STEPS[-1], measures=landuse.patterns, every=STEPS[0]).set_index("step")
    return {f"{name} at step {step}": float(table.loc[step, name]) for step in STEPS for name in OUTPUTS}


if __name__ == "__main__":
    figure = sys.argv[1] if len(sys.argv) > 1 else "docs/abc-posterior.png"
    journal = sys.argv[2] if len(sys.argv) > 2 else None
    targets = observed()
    for name, value in targets.items():
        print(f"target {name} = {value:.4g}")
    started = time.perf_counter()
    result = calibrate.abc(RANGES, targets, population=60, rounds=4, controls=FIXED, seed=1, journal=journal)
    wall = time.perf_counter() - started
    interval = result.interval(0.9)
    interval["truth"] = [HIDDEN[name] for name in interval.index]
    print(interval.to_string(float_format=lambda v: f"{v:.3g}"))
    print("tolerances by round:", ", ".join(f"{t:.3g}" for t in result.tolerances))
    print(f"{len(result.runs)} runs in {wall:.0f} s on a local cluster of {landuse.sweep.default_workers()} workers")
    plot_analysis.save(plot_analysis.posterior_pairs(result, truth=HIDDEN), figure)
