"""The sweep client at scale: the results of many short runs written into a Zarr
store and into CSV (through the journal, as the command does), the client's peak
resident memory and wall time of each.

    PYTHONPATH=build/python python3 bench/sweep_store_benchmark.py [RUNS ...] [--command]
    PYTHONPATH=build/python python3 bench/sweep_store_benchmark.py --default 16

By default the client alone is measured: the records of 16 real runs (the
smallest world, Edit_size = 2, 3 steps each, every step kept) are handed out
again under every run index of a sweep of RUNS runs, exactly as the cluster
hands finished runs to the client, each through JSON as the client takes them;
the CSV case runs the smallest RUNS
only (its journal syncs every run to disk, some 20 ms a run here); each case runs
in a process of its own, whose peak RSS (ru_maxrss) is reported.
What the workers do is the same for both outputs and is left out, so that 10^5
runs take minutes rather than hours. --command runs the whole command
(`python3 -m landuse.sweep ... --workers 2`) for each RUNS instead, and reads the
command's VmHWM (the local scheduler included, the workers not) while it runs.

Measured on the project's machine (2 cores shared with six other builds, load
average 12-14; client alone):

    RUNS     out           wall (s)   peak RSS (MB)   size (MB)
    10000    results.zarr       2.6          120          0.014
    100000   results.zarr      44.8          131          0.047
    10000    results.csv      489.0          117          2.218

(the store is this small because the 16 runs repeat; --default measures real
ones). The client's memory is flat: 11 MB more for ten times the runs (the
sweep's byte a run and the largest draw per replicate index it keeps for its
warnings). Default runs (--default 24, the same load): 1.0 to 2.1 s a run; the
store's chunks 57 bytes a run with keep="final", 2470 bytes a run (31 bytes a
kept step) with every 10th step kept.

The whole command (--command, 2 workers), wall time store / CSV, peak RSS
store / CSV: 300 runs 36.6 s / 38.3 s, 105 / 113 MB; 400 runs 36.8 s / 38.3 s
(one after the other, load average 8); 2000 runs 83 s / 121 s one after the
other at load average 5-7 (an earlier pair, 363 s / 90 s and 108 / 148 MB, ran the
store at load 12-14 and the CSV at 6-8, and tells the load more than the
outputs). The client's share, profiled at 400 runs: 0.27 s a batch written every
2 s (13 % of its time, most of it the files' writes), while the CSV's journal
syncs every run to disk.
"""

import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def size_mib(path):
    if os.path.isfile(path):
        return os.path.getsize(path) / 2**20
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(path) for f in files) / 2**20


def client_alone(runs, out):
    """Runs in a process of its own: the client's work for a sweep of `runs` runs into `out`."""
    import landuse
    from landuse import sweep as sweeps
    from landuse.sweep import store as results_store
    from landuse.sweep.journal import Journal

    points = sweeps.SweepPoints({"Edit_size": 2})
    plan = sweeps.RunPlan(3)
    templates = [sweeps.run_one(k, {"Edit_size": 2}, k, plan, points.names) for k in range(16)]
    start = time.monotonic()
    summary = sweeps.SweepSummary(runs)
    fingerprint = points.fingerprint(runs, plan.description())
    if out.endswith(".zarr"):
        store = results_store.ResultsStore(out, points, runs, plan, fingerprint, summary)
        keep = store.add
    else:
        journal = Journal(out + ".journal", fingerprint, summary, check=sweeps.record_shape(points, runs))
        keep = None
    for run in range(runs):
        record = dict(templates[run % 16], run=run, replicate=run, seed=landuse.replicate_seed(run), point=0)
        line = json.dumps(record)
        record = json.loads(line)
        if keep is not None:
            keep(record)
        else:
            journal.append_line(line)
        summary.add(record)
    if out.endswith(".zarr"):
        store.close()
    else:
        journal.close()
        with open(out, "w") as f:
            sweeps.write_journal_table(out + ".journal", sweeps.TableLayout.of(points), f)
        os.unlink(out + ".journal")
    wall = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(json.dumps([wall, peak, size_mib(out)]))


def default_runs(count, folder):
    """The time of a default run (to its stop time, 800 steps) and the store's size
    per run and per kept step, for keep="final" and for every 10th step kept."""
    from landuse import sweep as sweeps
    from landuse.sweep import store as results_store

    points = sweeps.SweepPoints({"Edit_size": [10]})
    sizes = {}
    for keep in ("final", list(range(10, 801, 10))):
        plan = sweeps.RunPlan(None, keep=keep)
        start = time.monotonic()
        records = [sweeps.run_one(k, {"Edit_size": 10}, k, plan, points.names) for k in range(count)]
        seconds = (time.monotonic() - start) / count
        path = os.path.join(folder, "default.zarr")
        store = results_store.ResultsStore(path, points, count, plan, "default", sweeps.SweepSummary(count))
        for record in records:
            store.add(dict(record, point=0))
        store.close()
        rows = sum(len(r["statistics"]["step"]) for r in records)
        # The chunks alone: the metadata (some 20 kB whatever the sweep's size) left out.
        data = sum(
            os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(path) for f in files if not f.startswith(".")
        )
        sizes[str(keep)[:5]] = (seconds, data / count, data / rows)
        shutil.rmtree(path)
    for keep, (seconds, per_run, per_row) in sizes.items():
        print(f"keep {keep}: {seconds:.2f} s a run, {per_run:.0f} bytes a run, {per_row:.1f} bytes a kept step")


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        return 0
    return 0


def whole_command(runs, out, folder):
    sweep_file = os.path.join(folder, "sweep.toml")
    with open(sweep_file, "w") as f:
        f.write(f"replicates = {runs}\nsteps = 3\n[parameters]\nEdit_size = 2\n")
    command = [sys.executable, "-m", "landuse.sweep", sweep_file, "--out", out, "--quiet", "--workers", "2"]
    start = time.monotonic()
    process = subprocess.Popen(command, stderr=subprocess.PIPE, text=True)
    peak = 0
    while process.poll() is None:
        peak = max(peak, peak_kib(process.pid))
        time.sleep(0.2)
    if process.returncode not in (0, 1):
        raise SystemExit(f"the sweep failed ({process.returncode}): {process.stderr.read()}")
    return time.monotonic() - start, peak / 1024, size_mib(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("runs", nargs="*", type=int, default=[10**4, 10**5])
    parser.add_argument("--command", action="store_true", help="the whole command, workers and all")
    parser.add_argument("--default", type=int, metavar="N", help="N default runs: their time and store size")
    parser.add_argument("--alone", nargs=2, help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.default:
        with tempfile.TemporaryDirectory() as folder:
            return default_runs(arguments.default, folder)
    if arguments.alone:
        return client_alone(int(arguments.alone[0]), arguments.alone[1])
    with tempfile.TemporaryDirectory() as folder:
        cases = [(runs, "results.zarr") for runs in arguments.runs] + [(min(arguments.runs), "results.csv")]
        for runs, name in cases:
            out = os.path.join(folder, name)
            if arguments.command:
                wall, peak, size = whole_command(runs, out, folder)
            else:
                done = subprocess.run(
                    [sys.executable, __file__, "--alone", str(runs), out], check=True, capture_output=True, text=True
                )
                wall, peak, size = json.loads(done.stdout.splitlines()[-1])
            print(f"{runs:>8}  {name:<13} {wall:9.1f}  {peak:10.0f}  {size:10.3f}", flush=True)
            shutil.rmtree(out) if os.path.isdir(out) else os.unlink(out)


if __name__ == "__main__":
    main()
