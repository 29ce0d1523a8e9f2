#!/usr/bin/python3
"""Does the pattern tell movement rules apart? Three ways home for the agents,
five replicates each to the stop time: the pattern measures' mean and standard
deviation per rule, which measures separate the rules by more than their
replicates' spread, and a picture of replicate 0 of each.

    PYTHONPATH=build/python docs/pattern_example.py docs

With --small, two replicates of 100 steps on a grid of cell
size 10: a check that the example runs, in a few seconds.
"""

import multiprocessing
import sys
import time

import pandas as pd

import landuse

CONFIGURATIONS = {
    "tracks": {},  # returning agents climb the return tracks (the default)
    "roulette": {"rb_rulette": 1},  # ... choose among them by roulette wheel
    "direct": {"rb_direct": 1},  # ... head straight for home
}
REPLICATES = 5
# With --small: two replicates, a small grid, a short run.
SMALL = {"Edit_size": 10, "E_stop": 100}
SHOWN = [
    "built_patches",
    "built_aggregation",
    "residential_aggregation",
    "residential_edge_density",
    "home_destination_mean",
    "home_service_mean",
    "track_share",
    "track_networks",
    "arrivals_mean",
    "arrivals_gini",
]


def one_run(arguments):
    name, replicate, fixed = arguments
    sim = landuse.Simulation(
        seed=landuse.replicate_seed(replicate), pictures=replicate == 0, **fixed, **CONFIGURATIONS[name]
    )
    sim.run()
    return name, replicate, sim.patterns(), sim.picture() if replicate == 0 else None


def main(folder, small=False):
    started = time.monotonic()
    fixed = SMALL if small else {}
    replicates = 2 if small else REPLICATES
    runs = [(name, k, fixed) for name in CONFIGURATIONS for k in range(replicates)]
    with multiprocessing.Pool(2) as pool:
        results = pool.map(one_run, runs)
    table = pd.DataFrame([{"configuration": name, "replicate": k, **values} for name, k, values, _ in results])
    grouped = table.groupby("configuration", sort=False)[list(landuse.PATTERN_MEASURES.index)]
    mean, spread = grouped.mean(), grouped.std()
    print(f"{len(runs)} runs in {time.monotonic() - started:.0f} s\n")
    names = list(CONFIGURATIONS)
    shown = mean[SHOWN].round(3).astype(str) + " ± " + spread[SHOWN].round(3).astype(str)
    # A Markdown table, measures down, rules across, for docs/how-to/measures.md.
    print("| measure | " + " | ".join(names) + " |")
    print("|---|" + "---|" * len(names))
    for measure in SHOWN:
        print(f"| `{measure}` | " + " | ".join(shown.loc[name, measure] for name in names) + " |")

    # A measure separates two rules when their means lie further apart than the
    # sum of their standard deviations.
    print("\nseparating (pairs of rules further apart than their spreads):")
    for measure in landuse.PATTERN_MEASURES.index:
        pairs = [
            f"{a}/{b}"
            for i, a in enumerate(names)
            for b in names[i + 1 :]
            if abs(mean.loc[a, measure] - mean.loc[b, measure]) > spread.loc[a, measure] + spread.loc[b, measure]
        ]
        if pairs:
            print(f"  {measure}: {', '.join(pairs)}")

    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(1, len(names), figsize=(4 * len(names), 4.3))
    pictures = {name: picture for name, k, _, picture in results if k == 0}
    for ax, name in zip(axes, names):
        ax.imshow(pictures[name])
        ax.set_title(f"{name}, replicate 0, step {landuse.Simulation(**fixed).stop_time}")
        ax.axis("off")
    figure.tight_layout()
    figure.savefig(f"{folder}/pattern-example.png", dpi=80)


if __name__ == "__main__":
    small = "--small" in sys.argv[1:]
    arguments = [a for a in sys.argv[1:] if a != "--small"]
    main(arguments[0] if arguments else "docs", small)
