#!/usr/bin/python3
"""Times the headless runner's default run with one worker and with the default
count, side by side, in the situations where a second worker could cost time:

  alone      one run on a quiet machine (wall and CPU time)
  pair       two runs started together (wall time until both end)
  busy       one run beside a busy loop (wall time)

The trials of every configuration are interleaved, so a change in the machine's
load hits them alike; medians are printed.

  bench/worker_timing.py NEW_RUNNER [OLD_RUNNER] [--trials N]
"""
import argparse
import os
import resource
import statistics
import subprocess
import time


def run_together(commands):
    """Starts the commands at once; returns the wall time until all end and their CPU time."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    processes = [subprocess.Popen(c, stdout=subprocess.DEVNULL) for c in commands]
    for p in processes:
        if p.wait() != 0:
            raise SystemExit(f"{p.args} failed")
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def beside_busy_loop(command):
    busy = subprocess.Popen(["/bin/sh", "-c", "while :; do :; done"])
    try:
        time.sleep(0.05)
        return run_together([command])
    finally:
        busy.kill()
        busy.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("new")
    parser.add_argument("old", nargs="?")
    parser.add_argument("--trials", type=int, default=9)
    args = parser.parse_args()

    runners = {"new": args.new}
    if args.old:
        runners["old"] = args.old
    cases = {}
    for label, runner in runners.items():
        one = [runner, "--threads", "1"]
        default = [runner]
        cases[f"{label} alone, 1 worker"] = lambda c=one: run_together([c])
        cases[f"{label} alone, default"] = lambda c=default: run_together([c])
        cases[f"{label} pair, 1 worker"] = lambda c=one: run_together([c, c])
        cases[f"{label} pair, default"] = lambda c=default: run_together([c, c])
        cases[f"{label} busy, 1 worker"] = lambda c=one: beside_busy_loop(c)
        cases[f"{label} busy, default"] = lambda c=default: beside_busy_loop(c)

    walls = {name: [] for name in cases}
    cpus = {name: [] for name in cases}
    for _ in range(args.trials):
        for name, case in cases.items():
            wall, cpu = case()
            walls[name].append(wall)
            cpus[name].append(cpu)
    print(f"{'case':<28} {'wall ms':>9} {'cpu ms':>9}   (medians of {args.trials}, {os.cpu_count()} CPUs)")
    for name in cases:
        print(f"{name:<28} {1000 * statistics.median(walls[name]):9.0f} {1000 * statistics.median(cpus[name]):9.0f}")


if __name__ == "__main__":
    main()
