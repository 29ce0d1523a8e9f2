"""Sweeps: the points, a local cluster, and a real scheduler with two workers,
one of them killed while the sweep runs."""

import contextlib
import os
import pathlib
import subprocess
import sys
import time

import pandas as pd
import pytest

import landuse
from landuse import _sweep
from landuse.sweep import SweepFileError, main, read_sweep_file

PACKAGE_PARENT = str(pathlib.Path(landuse.__file__).resolve().parents[1])
STATISTICS = ["step", "agents", "successful", "avg_travel", "max_mark", "migrated", "returning"]


def in_process(point, seed, steps):
    """The statistics of one run made here, to compare a sweep's rows with."""
    sim = landuse.Simulation(seed=seed, **point)
    sim.step(steps)
    return sim.statistics


def assert_runs_complete_and_equal(table, points, replicates, steps):
    """Every (point, replicate) once, in run order, each with the statistics of the same run made here."""
    runs = [(point, replicate) for point in points for replicate in range(replicates)]
    assert sorted(table["run"].unique()) == list(range(len(runs)))
    assert (table["error"].fillna("") == "").all()
    for run_id, (point, replicate) in enumerate(runs):
        rows = table[table["run"] == run_id]
        assert (rows["replicate"] == replicate).all()
        assert (rows["seed"] == landuse.replicate_seed(replicate)).all()
        for name, value in point.items():
            assert (rows[name] == value).all(), (run_id, name)
        expected = in_process(point, landuse.replicate_seed(replicate), steps)
        found = rows[STATISTICS].reset_index(drop=True).astype(expected.dtypes.to_dict())
        pd.testing.assert_frame_equal(found, expected, check_exact=True)


def test_points_are_the_full_grid_or_the_given_list():
    grid = _sweep.sweep_points({"E_CProbab": [0.1, 0.2], "E_crAgs": [1, 2, 3], "Edit_size": 10})
    assert len(grid) == 6
    assert grid[0] == {"E_CProbab": 0.1, "E_crAgs": 1, "Edit_size": 10}
    assert grid[1] == {"E_CProbab": 0.1, "E_crAgs": 2, "Edit_size": 10}
    assert grid[5] == {"E_CProbab": 0.2, "E_crAgs": 3, "Edit_size": 10}
    assert _sweep.sweep_points([{"E_crAgs": 1}, {"E_CProbab": "0,5"}]) == [{"E_crAgs": 1}, {"E_CProbab": "0,5"}]
    with pytest.raises(ValueError):
        _sweep.sweep_points([])
    with pytest.raises(ValueError, match="seed"):
        _sweep.sweep_points({"seed": [1, 2]})
    with pytest.raises(TypeError):
        _sweep.sweep_points([{"E_crAgs": None}])


def test_a_sweep_on_a_local_cluster_is_complete_and_keeps_failed_runs():
    points = [{"Edit_size": 10, "E_CProbab": p, "E_crAgs": a} for p in (0.1, "0,5") for a in (1, 4)]
    bad = {"Edit_size": 10, "E_CProbab": "abc", "E_crAgs": 1}
    table = landuse.sweep(points + [bad], replicates=2, steps=15, progress=False)

    assert_runs_complete_and_equal(table[table["run"] < 8], points, 2, 15)
    failed = table[table["run"] >= 8]
    assert len(failed) == 2 and failed["step"].isna().all()
    assert (failed["error"] == "E_CProbab: 'abc' is not a valid floating point value").all()
    assert list(failed["seed"]) == [0, landuse.replicate_seed(1)]


def test_a_sweep_file_is_read_and_refused_when_wrong(tmp_path):
    good = tmp_path / "good.toml"
    good.write_text('replicates = 3\nsteps = 10\n[parameters]\nE_CProbab = [0.1, "0,2"]\nEdit_size = 10\n'
                    '"StringGrid1.2.1" = ["0,5"]\n')
    assert read_sweep_file(good) == ({"E_CProbab": [0.1, "0,2"], "Edit_size": 10, "StringGrid1.2.1": ["0,5"]}, 3, 10)
    points = tmp_path / "points.toml"
    points.write_text('[[points]]\nE_crAgs = 1\n[[points]]\nCB_migrate = true\n')
    assert read_sweep_file(points) == ([{"E_crAgs": 1}, {"CB_migrate": True}], 1, None)

    for text, message in [
        ("replicate = 2\n[parameters]\nE_crAgs = [1]\n", "unknown key"),
        ("[parameters]\nE_crAgs = [1]\n[[points]]\nE_crAgs = 1\n", "either"),
        ("steps = 10\n", "either"),
        ("replicates = 0\n[parameters]\nE_crAgs = [1]\n", "replicates"),
        ("steps = -1\n[parameters]\nE_crAgs = [1]\n", "steps"),
        ("[parameters\n", "bad.toml"),
    ]:
        bad = tmp_path / "bad.toml"
        bad.write_text(text)
        with pytest.raises(SweepFileError, match=message):
            read_sweep_file(bad)
        out = tmp_path / "never.csv"
        with pytest.raises(SystemExit) as exited:
            main([str(bad), "--out", str(out), "--quiet"])
        assert exited.value.code == 2 and not out.exists()


@contextlib.contextmanager
def scheduler_with_workers(directory, workers):
    """A `dask scheduler` and `dask worker` processes (no nanny, one thread each) on
    localhost, as on a cluster of machines; every process ends with the block."""
    from distributed import Client

    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [PACKAGE_PARENT,
                                                                            os.environ.get("PYTHONPATH")])))
    scheduler_file = directory / "scheduler.json"
    log = open(directory / "dask.log", "w")
    processes = []
    client = None

    def start(module, *arguments):
        processes.append(subprocess.Popen([sys.executable, "-m", f"distributed.cli.{module}", *arguments],
                                          env=environment, stdout=log, stderr=subprocess.STDOUT))
        return processes[-1]

    try:
        start("dask_scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
              "--scheduler-file", str(scheduler_file))
        worker_processes = {}
        for i in range(workers):
            worker_processes[f"worker-{i}"] = start("dask_worker", "--scheduler-file", str(scheduler_file),
                                                    "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny",
                                                    "--no-dashboard", "--name", f"worker-{i}")
        deadline = time.monotonic() + 120
        while not scheduler_file.exists():
            assert time.monotonic() < deadline, "the scheduler did not start"
            time.sleep(0.1)
        client = Client(scheduler_file=str(scheduler_file), timeout=120)
        client.wait_for_workers(workers, timeout=120)
        yield client, worker_processes
    finally:
        if client is not None:
            client.close()
        for process in reversed(processes):
            process.terminate()
        for process in processes:
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        log.close()


def test_a_sweep_file_on_a_scheduler_survives_a_worker_killed_mid_sweep(tmp_path):
    (tmp_path / "sweep.toml").write_text(
        "replicates = 3\nsteps = 120\n[parameters]\nEdit_size = 5\nE_CProbab = [0.05, 0.3]\nE_crAgs = [1, 2, 6, 9]\n")
    points = _sweep.sweep_points({"Edit_size": 5, "E_CProbab": [0.05, 0.3], "E_crAgs": [1, 2, 6, 9]})
    out = tmp_path / "results.csv"

    with scheduler_with_workers(tmp_path, workers=2) as (client, workers):
        sweep_process = subprocess.Popen(
            [sys.executable, "-m", "landuse.sweep", str(tmp_path / "sweep.toml"), "--out", str(out),
             "--scheduler", client.scheduler.address],
            env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT), stderr=subprocess.PIPE, text=True)
        try:
            # Kill worker-0 while it runs one of the sweep's tasks.
            deadline = time.monotonic() + 300
            victim = None
            while victim is None:
                assert time.monotonic() < deadline and sweep_process.poll() is None, "no task reached worker-0"
                names = {address: info["name"] for address, info in client.scheduler_info()["workers"].items()}
                for address, keys in client.processing().items():
                    if names.get(address) == "worker-0" and any("run_one" in str(key) for key in keys):
                        victim = workers["worker-0"]
                time.sleep(0.02)
            victim.kill()
            victim.wait()
            assert sweep_process.poll() is None, "the sweep ended before the worker was killed"
            _, errors = sweep_process.communicate(timeout=600)
        finally:
            if sweep_process.poll() is None:
                sweep_process.kill()
                sweep_process.wait()
        assert sweep_process.returncode == 0, errors
        assert [info["name"] for info in client.scheduler_info()["workers"].values()] == ["worker-1"]

    assert "24 runs (0 failed)" in errors
    assert [p.name for p in tmp_path.iterdir() if "results" in p.name] == ["results.csv"]  # no temporary left
    table = pd.read_csv(out, float_precision="round_trip", keep_default_na=False, na_values={"step": [""]})
    assert_runs_complete_and_equal(table, points, 3, 120)
