#!/usr/bin/python3
"""Times one sweep of 200 runs (E_CProbab x E_crAgs, 5 replicates, 200 steps each
on the default grid) three ways: landuse.sweep on a local Dask cluster (one worker
process per usable CPU), the same runs one after another in this process, and the
headless runner under GNU parallel with one job per usable CPU. Every run keeps
to one worker thread, as the sweep's runs do, so no run competes with itself for
a core.

    scripts/sweep_timing.py        (needs the build in build/ and `parallel`)
"""
import os
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "build" / "python"))
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(ROOT / "build" / "python"), os.environ.get("PYTHONPATH")]))

import landuse  # noqa: E402

STEPS = 200
REPLICATES = 5
PARAMETERS = {"E_CProbab": [0.05, 0.1, 0.2, 0.4, 0.8], "E_crAgs": [1, 2, 3, 5, 8, 12, 16, 20]}


def main():
    runs = len(PARAMETERS["E_CProbab"]) * len(PARAMETERS["E_crAgs"]) * REPLICATES
    cpus = len(os.sched_getaffinity(0))

    start = time.perf_counter()
    table = landuse.sweep(PARAMETERS, replicates=REPLICATES, steps=STEPS, progress=False)
    cluster = time.perf_counter() - start
    assert table["run"].nunique() == runs and (table["error"] == "").all()
    print(f"landuse.sweep on a local cluster of {cpus} workers: {runs} runs in {cluster:.1f} s (its start included)")

    start = time.perf_counter()
    for p in PARAMETERS["E_CProbab"]:
        for a in PARAMETERS["E_crAgs"]:
            for k in range(REPLICATES):
                landuse.Simulation(seed=landuse.replicate_seed(k), threads=1, E_CProbab=p, E_crAgs=a).step(STEPS)
    serial = time.perf_counter() - start
    print(f"one after another in one process: {runs} runs in {serial:.1f} s ({serial / cluster:.2f} x the cluster)")

    # Replicates through the runner need its --replicate option; without it every
    # replicate repeats the default start, which costs the same.
    runner = str(ROOT / "build" / "app" / "landuse-headless")
    has_replicate = "--replicate" in subprocess.run([runner, "--help"], capture_output=True, text=True).stdout
    command = [runner, "--threads", "1", "--steps", str(STEPS), "--set", "E_CProbab={1}", "--set", "E_crAgs={2}"]
    command += ["--replicate", "{3}"] if has_replicate else []
    start = time.perf_counter()
    subprocess.run(
        [
            "parallel",
            f"-j{cpus}",
            *command,
            ">",
            "/dev/null",
            ":::",
            *map(str, PARAMETERS["E_CProbab"]),
            ":::",
            *map(str, PARAMETERS["E_crAgs"]),
            ":::",
            *map(str, range(REPLICATES)),
        ],
        check=True,
    )
    runner_time = time.perf_counter() - start
    print(
        f"headless runner under parallel -j{cpus}: {runs} runs in {runner_time:.1f} s"
        f"{'' if has_replicate else ' (replicates without seeds: this runner has no --replicate)'}"
    )


if __name__ == "__main__":
    main()
