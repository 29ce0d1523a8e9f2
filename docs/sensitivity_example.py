#!/usr/bin/python3
"""Which of E_CProbab, E_noise, E_decay and E_crAgs drives residential land at step 400?

Sobol' indices over a Saltelli design of 64 base points (384 runs of 400 steps on
the default grid, with track decay on so that E_decay acts), on a local cluster of
two workers; prints the indices and the wall time and saves the figure:

    PYTHONPATH=build/python docs/sensitivity_example.py [docs/sensitivity-residential.png]
"""

import sys
import time

import matplotlib

matplotlib.use("Agg")

import landuse  # noqa: E402
from landuse import plot, sensitivity  # noqa: E402

RANGES = {
    "E_CProbab": (0.01, 0.5),  # the chance that an agent consumes what it finds
    "E_noise": (0.0, 60.0),    # the noise of returning agents' headings, in degrees
    "E_decay": (0.9, 0.999),   # the track decay factor
    "E_crAgs": (1, 10, int),   # new agents a step
}

if __name__ == "__main__":
    figure = sys.argv[1] if len(sys.argv) > 1 else "docs/sensitivity-residential.png"
    started = time.perf_counter()
    indices = sensitivity.sobol(RANGES, "residential at step 400", n=64, controls={"CB_decay": 1}, seed=1)
    wall = time.perf_counter() - started
    runs = indices.attrs["table"]["run"].nunique()
    print(indices.round(3).to_string())
    print(f"{runs} runs in {wall:.0f} s on a local cluster of {landuse.sweeps.default_workers()} workers")
    ax = plot.indices(indices)
    ax.figure.tight_layout()
    ax.figure.savefig(figure, dpi=100)
