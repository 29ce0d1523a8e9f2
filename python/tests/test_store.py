"""Sweeps into a Zarr store: its layout, the table it gives back (the CSV path's,
value for value and dtype for dtype), a resume after the client was killed, and
stores that must not be written."""

import errno
import os
import random
import signal
import subprocess
import sys
import time
import warnings

import numpy as np
import pandas as pd
import pytest
import xarray as xr
import zarr

import landuse
import landuse.plot
import landuse.sensitivity
from landuse.sweep import store as results_store
from landuse.sweep.cli import main
from sweep_commands import PACKAGE_PARENT, run_command

MIXED = {"E_CProbab": [0.1, "abc"], "E_crAgs": [1, 3], "Edit_size": 10}
DESIGN = landuse.designs.latin_hypercube({"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 10, int)}, 3, seed=1)


def both(client, path, parameters, **keywords):
    """The sweep's table as the CSV path makes it, and its store."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        table = landuse.sweep(parameters, client=client, progress=False, **keywords)
        stored = landuse.sweep(parameters, client=client, progress=False, store=path, **keywords)
    return table, stored


@pytest.mark.parametrize(
    "parameters, keywords",
    [
        # A failing value (its error row, texts and numbers in one column) and measures every 4 steps.
        (MIXED, dict(replicates=2, steps=9, measures=landuse.patterns, every=4)),
        (MIXED, dict(steps=6, keep="final")),
        (MIXED, dict(steps=8, keep=[2, 5])),
        # Runs stopped at different steps: the others' steps are filled.
        ({"E_crAgs": [1, 10]}, dict(steps=12, stop_when="agents >= 30", every=3)),
        (DESIGN, dict(replicates=2, steps=4)),
        ([{"E_crAgs": 2}, {"E_CProbab": 0.2, "rb_rulette": True}], dict(steps=3)),
    ],
)
def test_the_store_gives_back_the_table_the_csv_path_writes(client, tmp_path, parameters, keywords):
    table, stored = both(client, tmp_path / "s.zarr", parameters, **keywords)
    assert isinstance(stored, xr.Dataset)
    for results in (stored, tmp_path / "s.zarr"):
        again = landuse.to_table(results)
        pd.testing.assert_frame_equal(again, table)
        assert again.to_csv(index=False) == table.to_csv(index=False)
    # Small chunks of runs give the same table as one chunk.
    pd.testing.assert_frame_equal(landuse.to_table(stored, runs_at_once=1), table)


def test_the_store_is_laid_out_as_xarray_reads_it(client, tmp_path):
    table, ds = both(
        client, tmp_path / "s.zarr", {"E_crAgs": [1, 10]}, replicates=2, steps=12, stop_when="agents >= 30", every=3
    )
    runs = 4
    assert dict(ds.sizes) == {"run": runs, "step": 12}
    assert ds["run"].values.tolist() == list(range(runs))
    for name in landuse.STATISTICS_COLUMNS:
        variable = ds[results_store.STEP_VARIABLE if name == "step" else name]
        assert variable.dims == ("run", "step") and variable.dtype == np.float64
        assert variable.chunks is not None  # lazy: dask arrays
    for name, dtype in [
        ("E_crAgs", np.int64),
        ("replicate", np.int64),
        ("seed", np.int64),
        ("draws", np.int64),
        ("point", np.int64),
        ("stopped", bool),
        ("complete", bool),
        ("error", object),
    ]:
        assert ds[name].dims == ("run",) and ds[name].dtype == dtype, name
    assert ds["complete"].values.all()
    assert ds.attrs["parameters"] == ["E_crAgs"] and ds.attrs["keep"] == "every" and ds.attrs["every"] == 3
    assert ds.attrs["version"] == landuse.__version__ and ds.attrs["steps"] == 12 and ds.attrs["runs"] == runs
    # A run that stopped early: its kept steps, then NaN; the step numbers are the table's.
    for run in range(runs):
        rows = table[table["run"] == run]
        steps = ds[results_store.STEP_VARIABLE].values[run]
        assert steps[: len(rows)].tolist() == rows["step"].tolist() and np.isnan(steps[len(rows) :]).all()
        assert ds["stopped"].values[run] == rows["stopped"].any()
    assert ds["stopped"].values.tolist() == [False, False, True, True]
    # Plots and sensitivity analysis take the Dataset as they take the table.
    assert landuse.plot.varying_columns(ds) == landuse.plot.varying_columns(table)
    output = landuse.sensitivity.Output("agents at step 3")
    pd.testing.assert_series_equal(output.of_runs(ds), output.of_runs(table))
    group = zarr.open_group(str(tmp_path / "s.zarr"), mode="r")
    assert group["agents"].chunks == (runs, 12) and group["agents"].compressor.cname == "zstd"


def test_a_store_of_another_sweep_is_refused_naming_what_differs(client, tmp_path):
    path = tmp_path / "s.zarr"
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        landuse.sweep({"E_crAgs": [1, 2]}, steps=3, client=client, progress=False, store=path)
    before = sorted(p.stat().st_mtime_ns for p in path.rglob("*"))
    for parameters, keywords, named in [
        ({"E_crAgs": [1, 2]}, dict(steps=4), "steps 3 there, 4 here"),
        ({"E_crAgs": [1, 2]}, dict(steps=3, keep="final"), "keep"),
        ({"E_crAgs": [1, 3]}, dict(steps=3), "grid"),
        ({"E_migTh": [1, 2]}, dict(steps=3), "parameters"),
        ({"E_crAgs": [1, 2]}, dict(steps=3, replicates=2), "replicates"),
    ]:
        with pytest.raises(results_store.StoreError, match=named) as refused:
            landuse.sweep(parameters, client=client, progress=False, store=path, **keywords)
        assert "another sweep" in str(refused.value) and "\n" not in str(refused.value)
    assert sorted(p.stat().st_mtime_ns for p in path.rglob("*")) == before


def test_a_client_killed_at_a_random_moment_resumes_to_the_same_store(client, tmp_path):
    sweep_file = tmp_path / "sweep.toml"
    # Runs long enough together that the store takes them in several batches.
    sweep_file.write_text('replicates = 10\nsteps = 20\n[parameters]\nE_CProbab = [0.1, "abc"]\nE_crAgs = [1, 2, 3]\n')
    whole = tmp_path / "whole.zarr"
    assert run_command([sweep_file, "--out", whole, "--quiet", "--workers", 1])[0] == 1

    out = tmp_path / "out.zarr"
    command = [sys.executable, "-m", "landuse.sweep", sweep_file, "--out", out, "--quiet", "--workers", 1]
    killed = subprocess.Popen(
        list(map(str, command)),
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
        start_new_session=True,
        stderr=subprocess.DEVNULL,
    )
    deadline = time.monotonic() + 120
    while not (out / "complete" / ".zarray").exists() or not zarr.open_array(str(out / "complete"))[:].any():
        assert time.monotonic() < deadline and killed.poll() is None
        time.sleep(0.05)
    time.sleep(random.uniform(0, 0.5))
    os.killpg(killed.pid, signal.SIGKILL)  # the client and its local cluster's workers
    killed.wait()
    complete = zarr.open_array(str(out / "complete"))[:]
    assert 1 <= complete.sum() < len(complete)

    status, errors = run_command([sweep_file, "--out", out, "--quiet"])
    assert status == 2 and "--resume" in errors and "\n" not in errors.strip()
    assert run_command([sweep_file, "--out", out, "--quiet", "--resume", "--workers", 1])[0] == 1
    xr.testing.assert_identical(landuse.open_results(out).load(), landuse.open_results(whole).load())
    pd.testing.assert_frame_equal(landuse.to_table(out), landuse.to_table(whole))


def test_the_command_refuses_a_foreign_store_and_ends_with_3_on_a_write_error(tmp_path, monkeypatch, capsys):
    sweep_file = tmp_path / "sweep.toml"
    sweep_file.write_text("replicates = 4\nsteps = 3\n[parameters]\nE_crAgs = [1, 2]\n")
    other = tmp_path / "other.toml"
    other.write_text('replicates = 4\nsteps = 3\nkeep = "final"\n[parameters]\nE_crAgs = [1, 2]\n')
    out = tmp_path / "out.zarr"

    # The disk fills once the first run's batch is written: the command ends with 3, that run kept whole. A
    # run's flag is written after its data, so a run whose data never reached the disk is not complete.
    setitem, flags = zarr.storage.DirectoryStore.__setitem__, []

    def full_after_one(store, key, value):
        if flags:
            raise OSError(errno.ENOSPC, "No space left on device")
        setitem(store, key, value)
        if key.startswith("complete/") and not key.endswith((".zarray", ".zattrs")):
            flags.append(key)

    monkeypatch.setattr(results_store, "FLUSH_VALUES", 1)  # every run a batch of its own
    monkeypatch.setattr(zarr.storage.DirectoryStore, "__setitem__", full_after_one)
    assert main([str(sweep_file), "--out", str(out), "--quiet", "--workers", "1"]) == 3
    assert "No space left" in capsys.readouterr().err
    monkeypatch.setattr(zarr.storage.DirectoryStore, "__setitem__", setitem)
    kept = landuse.to_table(out)
    assert kept["run"].nunique() == 1 and len(kept) == 3

    with pytest.raises(SystemExit) as exited:
        main([str(other), "--out", str(out), "--quiet", "--resume"])
    error = capsys.readouterr().err
    assert exited.value.code == 2 and "another sweep" in error and "keep" in error and error.count("\n") == 1
    assert main([str(sweep_file), "--out", str(out), "--quiet", "--resume", "--workers", "1"]) == 0
    table = landuse.to_table(out)
    assert table["run"].unique().tolist() == list(range(8))
    pd.testing.assert_frame_equal(kept, table[table["run"] == kept["run"][0]].reset_index(drop=True))
