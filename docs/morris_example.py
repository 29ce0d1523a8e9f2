#!/usr/bin/python3
"""Which of the model's numeric controls matter for travel and for the aggregation of homes?

Morris screening of every numeric control (track decay and migration on, so
that E_decay and E_migTh act; the cell size and the stop time fixed) on
avg_travel and residential_aggregation at step 300, with 12 trajectories of
12 points, 2 replicates each, on a grid of cell size 8, on a local cluster of
two workers; prints the table and the wall time and saves the figure:

    PYTHONPATH=build/python docs/morris_example.py [docs/morris-screening.png]

With --small, 2 trajectories, one replicate and the outputs at step 60: a check
that the example runs, in seconds.
"""

import sys
import time

import matplotlib

matplotlib.use("Agg")

import landuse  # noqa: E402
from landuse import plot_analysis, sensitivity  # noqa: E402

# Around the defaults, where the control has no range of its own.
RANGES = {
    "Edit_anzAg": (300, 2400, int),  # the agents' maximum (default 2400)
    "E_crAgs": (1, 6, int),  # new agents a step (3)
    "E_crServ": (0, 3, int),  # new service cells a step (1)
    "E_crIndu": (0, 3, int),  # new industry cells a step (1)
    "TrB_thresh": (0, 180, int),  # half-width of the cone in which tracks are sensed (22)
    "SB_wiggle": (0, 180, int),  # random deviation of a chosen direction (20)
    "E_decay": (0.9, 0.999),  # track decay factor (0.99)
    "E_CProbab": (0.01, 0.5),  # chance of consuming what an agent finds (0.1)
    "E_migTh": (1, 8, int),  # neighbours from which an agent migrates (2)
    "E_noise": (0.0, 180.0),  # returning agents' random turn (30)
    "E_grav": (1.0, 10.0),  # gravity lines' width (5; they are off)
}
OUTPUTS = ["avg_travel at step 300", "residential_aggregation at step 300"]
FIXED = {"Edit_size": 8, "CB_decay": 1, "CB_migrate": 1}

if __name__ == "__main__":
    small = "--small" in sys.argv[1:]
    arguments = [a for a in sys.argv[1:] if a != "--small"]
    figure = arguments[0] if arguments else "docs/morris-screening.png"
    if small:
        trajectories, replicates, outputs = 2, 1, [output.replace("300", "60") for output in OUTPUTS]
    else:
        trajectories, replicates, outputs = 12, 2, OUTPUTS
    started = time.perf_counter()
    effects = sensitivity.morris(
        RANGES, outputs, trajectories=trajectories, levels=4, replicates=replicates, controls=FIXED, seed=1
    )
    wall = time.perf_counter() - started
    runs = effects.attrs["table"]["run"].nunique()
    print(effects.to_string(float_format=lambda v: f"{v:.3g}"))
    print(f"{runs} runs in {wall:.0f} s on a local cluster of {landuse.sweep.default_workers()} workers")
    plot_analysis.save(plot_analysis.morris_figure(effects), figure)
