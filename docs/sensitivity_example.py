#!/usr/bin/python3
"""What drives travel, success and the pattern, and how much of it is chance?

Sobol' indices, the seed among the inputs, of five outputs at step 300 on a small
grid (Edit_size 5), with track decay on: the mean travel (avg_travel), the agents
that found what they sought (successful), the aggregation of homes
(residential_aggregation), the mean distance from homes to destinations
(home_destination_mean) and the share of cells with tracks (track_share). Every
point of the design (128 base points, 1 024 points) runs twice, on a local
cluster of two workers. E_decay is sampled as a track half-life h, log-uniform
on 7..700 steps (E_decay = 0.5 ** (1 / h)). Prints the indices, the chance shares and the wall time; saves
the figure (indices of each output) and the convergence plot:

    PYTHONPATH=build/python docs/sensitivity_example.py [docs/sensitivity-example.png]

With --small, 8 base points on a grid of cell size 10 and the outputs at step 60:
a check that the example runs, in seconds.
"""

import sys
import time

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import pandas as pd  # noqa: E402

import landuse  # noqa: E402
from landuse import designs, plot, sensitivity  # noqa: E402

RANGES = {
    "E_CProbab": (0.01, 0.5),  # the chance that a searching agent consumes what it finds
    "E_noise": (0.0, 60.0),  # the largest random turn of a returning agent, in degrees
    "TrB_thresh": (5, 60, int),  # the half-width of the cone in which agents sense tracks
    "E_decay": ("log", 7, 700, designs.decay_of_half_life),  # a track half-life of 7..700 steps
    "E_crAgs": (1, 6, int),  # new agents (and homes) a step
}
OUTPUTS = [
    f"{name} at step 300"
    for name in ("avg_travel", "successful", "residential_aggregation", "home_destination_mean", "track_share")
]

if __name__ == "__main__":
    small = "--small" in sys.argv[1:]
    arguments = [a for a in sys.argv[1:] if a != "--small"]
    figure = arguments[0] if arguments else "docs/sensitivity-example.png"
    n, size, outputs = (8, 10, [o.replace("300", "60") for o in OUTPUTS]) if small else (128, 5, OUTPUTS)
    started = time.perf_counter()
    results = sensitivity.sobol_analysis(
        RANGES, outputs, n=n, replicates=2, controls={"Edit_size": size, "CB_decay": 1}, seed=1, progress=False
    )
    wall = time.perf_counter() - started
    first = next(iter(results.values()))
    runs = first.attrs["table"]["run"].nunique()
    pd.set_option("display.width", 200)
    for output, indices in results.items():
        print(sensitivity.summary(indices))
        columns = ["S1", "S1_low", "S1_high", "ST", "ST_low", "ST_high", "ST_run", "like_chance"]
        print(indices[columns].round(3).to_string(), end="\n\n")
    print(f"{runs} runs in {wall:.0f} s on a local cluster of {landuse.sweep.default_workers()} workers")

    fig, axes = plt.subplots(len(results), 1, figsize=(8, 4.2 * len(results)))
    for ax, indices in zip(axes, results.values()):
        plot.indices(indices, ax=ax)
    fig.tight_layout()
    fig.savefig(figure, dpi=80)
    fig, axes = plt.subplots(1, 2, figsize=(12, 4.5))
    plot.convergence(results[outputs[0]], ax=axes[0])
    plot.convergence(results[outputs[2]], ax=axes[1])
    fig.tight_layout()
    fig.savefig(figure.replace(".png", "-convergence.png"), dpi=80)
