"""Sweeps: the points, a local cluster, and a real scheduler with two workers,
one of them killed while the sweep runs."""

import contextlib
import importlib
import inspect
import itertools
import json
import os
import pathlib
import re
import signal
import socket
import ssl
import subprocess
import sys
import time
import warnings

import numpy as np
import pandas as pd
import pytest

import landuse
from landuse.sweep import clusters, running
from landuse.sweep.cli import SweepFileError, main, read_sweep_file
from sweep_commands import PACKAGE_PARENT, run_command

STATISTICS = landuse.STATISTICS_COLUMNS
ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def client():
    """One local cluster of two workers for the module's sweeps; a task that ends its
    worker is tried twice (the default, four times, only costs time)."""
    import dask
    import distributed  # noqa: F401  (its defaults in dask's configuration before one is changed)

    with dask.config.set({"distributed.scheduler.allowed-failures": 1}):
        client, cluster = clusters.local_client(2)
    yield client
    client.close()
    cluster.close()


def in_process(point, seed, steps, draws=False):
    """The statistics of one run made here, to compare a sweep's rows with (and the numbers it drew)."""
    sim = landuse.Simulation(seed=seed, **point)
    sim.step(steps)
    return (sim.statistics, sim.draws) if draws else sim.statistics


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
        assert (rows["version"] == landuse.__version__).all()
        expected = in_process(point, landuse.replicate_seed(replicate), steps)
        found = rows[STATISTICS].reset_index(drop=True).astype(expected.dtypes.to_dict())
        pd.testing.assert_frame_equal(found, expected, check_exact=True)


def test_points_are_the_full_grid_or_the_given_list():
    grid = landuse.sweep.sweep_points({"E_CProbab": [0.1, 0.2], "E_crAgs": [1, 2, 3], "Edit_size": 10})
    assert len(grid) == 6
    assert grid[0] == {"E_CProbab": 0.1, "E_crAgs": 1, "Edit_size": 10}
    assert grid[1] == {"E_CProbab": 0.1, "E_crAgs": 2, "Edit_size": 10}
    assert grid[5] == {"E_CProbab": 0.2, "E_crAgs": 3, "Edit_size": 10}
    assert landuse.sweep.sweep_points([{"E_crAgs": 1}, {"E_CProbab": "0,5"}]) == [{"E_crAgs": 1}, {"E_CProbab": "0,5"}]
    # Value lists of every kind a researcher has at hand.
    for values in (np.array([1, 2, 3]), range(1, 4), pd.Series([1, 2, 3]), (1, 2, 3)):
        assert [p["E_crAgs"] for p in landuse.sweep.sweep_points({"E_crAgs": values})] == [1, 2, 3]
    # A grid of a million points is made as it is taken.
    million = landuse.sweep.SweepPoints({"E_crAgs": range(1000), "E_migTh": np.arange(1000)})
    assert million.count == 10**6
    assert next(iter(million)) == {"E_crAgs": 0, "E_migTh": 0}
    for parameters, error, message in [
        ([], ValueError, "at least one"),
        ({"seed": [1, 2]}, ValueError, "seed"),
        ({"draws": 1}, ValueError, "draws"),
        ({"E_nothing": [1]}, ValueError, "E_nothing: no control"),
        ([{"E_crAgs": None}], TypeError, "E_crAgs"),
        ({"E_crAgs": [[1, 2]]}, TypeError, "not list"),
        ({"E_crAgs": np.zeros((2, 2))}, TypeError, "shape"),
        ({"CB_migrate": [2]}, ValueError, "CB_migrate"),
        ([{"rb_hill": 1, "rb_rulette": 1}], ValueError, "pair"),
    ]:
        with pytest.raises(error, match=message):
            landuse.sweep.SweepPoints(parameters)


def test_a_sweep_on_a_local_cluster_is_complete_and_records_what_ran(client):
    points = [{"Edit_size": 10, "E_CProbab": p, "E_crAgs": a} for p in (0.1, "0,5") for a in (1, 4)]
    bad = {"Edit_size": 10, "E_CProbab": "abc", "E_crAgs": 1}
    table = landuse.sweep(points + [bad], replicates=2, steps=15, progress=False, client=client)

    assert_runs_complete_and_equal(table[table["run"] < 8], points, 2, 15)
    failed = table[table["run"] >= 8]
    assert len(failed) == 2 and failed["step"].isna().all()
    assert (failed["error"] == "E_CProbab: 'abc' is not a valid floating point value").all()
    assert list(failed["seed"]) == [0, landuse.replicate_seed(1)]
    # Each run's draws, as the same run made here counts them.
    for run_id, rows in table[table["run"] < 8].groupby("run"):
        _, draws = in_process(points[run_id // 2], landuse.replicate_seed(run_id % 2), 15, draws=True)
        assert (rows["draws"] == draws).all()

    # The value in effect, with one warning naming the change; a control a point leaves out, its default.
    with pytest.warns(landuse.sweep.ControlChangedWarning, match="Edit_size 50 ran as 10") as caught:
        table = landuse.sweep(
            [{"Edit_size": 5}, {"Edit_size": 50}, {"E_CProbab": 0.2}], steps=2, progress=False, client=client
        )
    assert len([w for w in caught if issubclass(w.category, landuse.sweep.ControlChangedWarning)]) == 1
    recorded = table.groupby("run")[["Edit_size", "E_CProbab"]].first()
    assert recorded.to_dict("list") == {"Edit_size": [5, 10, 2], "E_CProbab": [0.1, 0.1, 0.2]}


def test_the_overlap_warning_names_the_replicates_that_share_numbers():
    # Replicate 1 starts 2**31 draws after replicate 0: 2**31 + 1 draws of replicate 0 reach into it.
    with pytest.warns(landuse.sweep.StreamOverlapWarning, match="replicates 0 and 1 overlap"):
        landuse.sweep.warn_of_overlaps({0: 2**31 + 1, 1: 5, 3: 5})
    assert landuse.sweep.overlapping_replicates({0: 2**30 + 1, 1: 2**30 + 1, 2: 2**30 + 1}) == [(0, 2), (1, 2)]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        landuse.sweep.warn_of_overlaps({k: 2**25 for k in range(128)})  # 128 replicates, each 2**25 draws: disjoint
    assert landuse.sweep.overlapping_replicates({k: 2**25 + 1 for k in range(128)})


def test_the_runs_stream_through_a_bounded_window_and_a_killed_run_is_an_error_row(client, monkeypatch):
    taken = []

    def million_tasks():
        for i in range(10**6):
            taken.append(i)
            yield (i,)

    stream = landuse.sweep.stream_runs(client, million_tasks(), task=abs, window=4)
    outcomes = [next(stream) for _ in range(6)]
    stream.close()
    assert all(exception is None for _, _, exception in outcomes)
    assert len(taken) <= 6 + 4

    # A run that ends its worker each time it is tried becomes an error row; the others finish.
    def ends_its_worker_in_run_1(run_id, *arguments):
        import landuse.sweep.running  # in the worker, where run_one is the real one

        if run_id == 1:
            os._exit(1)
        return landuse.sweep.running.run_one(run_id, *arguments)

    monkeypatch.setattr(running, "run_one", ends_its_worker_in_run_1)
    table = landuse.sweep({"E_crAgs": [1, 2, 3]}, steps=3, progress=False, client=client)
    errors = table.groupby("run")["error"].last()
    assert list(errors.index) == [0, 1, 2] and errors[0] == errors[2] == ""
    assert "ended its worker" in errors[1]
    assert table.loc[table["run"] == 1, "E_crAgs"].tolist() == [2]


def test_a_journal_keeps_finished_runs_and_a_resumed_sweep_gives_the_same_table(client, tmp_path):
    parameters = {"Edit_size": 10, "E_crAgs": [1, 2], "CB_migrate": [0, 1]}
    whole = landuse.sweep(parameters, replicates=2, steps=4, progress=False, client=client)

    os.umask(0o027)
    try:
        journal = tmp_path / "journal"
        complete = landuse.sweep(parameters, replicates=2, steps=4, progress=False, client=client, journal=journal)
        assert journal.stat().st_mode & 0o777 == 0o640
    finally:
        os.umask(0o022)
    pd.testing.assert_frame_equal(complete, whole)
    lines = journal.read_text().splitlines()
    assert len(lines) == 1 + 8
    # Interrupted after three runs, the last line cut short by the crash.
    journal.write_text("\n".join(lines[:4]) + "\n" + lines[4][:30])
    resumed = landuse.sweep(parameters, replicates=2, steps=4, progress=False, client=client, journal=journal)
    pd.testing.assert_frame_equal(resumed, whole)
    after = journal.read_text().splitlines()
    assert after[:4] == lines[:4] and len(after) == 9 and len({json.loads(x)["run"] for x in after[1:]}) == 8

    with pytest.raises(ValueError, match="another sweep"):
        landuse.sweep(
            {**parameters, "E_crAgs": [1, 3]}, replicates=2, steps=4, progress=False, client=client, journal=journal
        )


def listening_sockets(processes):
    return {(c.laddr.ip, c.laddr.port) for p in processes for c in p.connections("inet") if c.status == "LISTEN"}


def test_the_local_cluster_listens_with_tls_on_loopback_only_and_serves_no_pages(client):
    """Nothing of the cluster listens but the scheduler, the nannies and the workers,
    each on a port of the loopback interface that speaks TLS: no HTTP server at all."""
    import psutil

    # A worker that an earlier test's run ended may still be coming back.
    client.wait_for_workers(2, timeout=120)
    info = client.scheduler_info()
    addresses = [info["address"], *info["workers"], *(worker["nanny"] for worker in info["workers"].values())]
    assert len(addresses) == 5 and all(address.startswith("tls://127.0.0.1:") for address in addresses), addresses
    ours = psutil.Process()
    expected = {("127.0.0.1", int(address.rsplit(":", 1)[1])) for address in addresses}
    assert listening_sockets([ours, *ours.children(recursive=True)]) == expected


def dask_client(address, scheme, another_certificate):
    from distributed import Client
    from distributed.security import Security

    Client(scheme + address.split("://")[1], security=Security.temporary() if another_certificate else None, timeout=3)


def raw_frame(address, tls):
    """A Dask message's bytes sent as they are, or over TLS with no certificate; the reply."""
    host, port = address.split("://")[1].rsplit(":", 1)
    connection = socket.create_connection((host, int(port)), timeout=5)
    if tls:
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        connection = context.wrap_socket(connection)
    with connection:
        connection.sendall(b"\x01\x00\x00\x00\x00\x00\x00\x00" + b"\x81\xa2op\xa8identity" * 8)
        return connection.recv(1000)


@pytest.mark.parametrize(
    "intruder, every_node",
    [
        (lambda address: dask_client(address, "tcp://", False), False),
        (lambda address: dask_client(address, "tls://", True), False),  # a certificate of another cluster
        (lambda address: raw_frame(address, tls=False), True),
        (lambda address: raw_frame(address, tls=True), True),
    ],
    ids=["plain-client", "another-certificate", "raw-bytes", "tls-without-certificate"],
)
def test_the_local_cluster_lets_in_no_one_without_its_certificate(client, intruder, every_node):
    """Whoever connects to the scheduler (or a nanny or a worker) without the
    cluster's own certificate is refused: no reply, no client."""
    info = client.scheduler_info()
    nodes = [*info["workers"], *(worker["nanny"] for worker in info["workers"].values())] if every_node else []
    for address in [info["address"], *nodes]:
        try:
            reply = intruder(address)
        except OSError:
            continue
        assert reply == b"", (address, reply)
    assert client.submit(sum, [1, 2]).result() == 3  # and the cluster goes on


def test_a_sweep_file_is_read_and_refused_when_wrong(tmp_path, capsys):
    good = tmp_path / "good.toml"
    good.write_text(
        'replicates = 3\nsteps = 10\n[parameters]\nE_CProbab = [0.1, "0,2"]\nEdit_size = 10\n'
        '"StringGrid1.2.1" = ["0,5"]\n'
    )
    parameters, replicates, plan = read_sweep_file(good)
    assert (parameters, replicates, plan.steps) == (
        {"E_CProbab": [0.1, "0,2"], "Edit_size": 10, "StringGrid1.2.1": ["0,5"]},
        3,
        10,
    )
    points = tmp_path / "points.toml"
    points.write_text("[[points]]\nE_crAgs = 1\n[[points]]\nCB_migrate = true\n")
    parameters, replicates, plan = read_sweep_file(points)
    assert (parameters, replicates, plan.steps) == ([{"E_crAgs": 1}, {"CB_migrate": True}], 1, None)
    design = tmp_path / "design.toml"
    design.write_text(
        'every = 5\nkeep = "final"\nstop_when = "agents >= 20 and step > 3 or residential == 7"\n'
        '[design]\nkind = "sobol"\npoints = 8\nseed = 2\n'
        '[ranges]\nE_CProbab = [0.01, 0.5]\nE_crAgs = [1, 10, "int"]\nrb_rulette = {choices = [0, 1]}\n'
    )
    parameters, replicates, plan = read_sweep_file(design)
    assert (len(parameters), parameters.names, plan.every, plan.keep) == (
        8,
        ["E_CProbab", "E_crAgs", "rb_rulette"],
        5,
        "final",
    )
    assert plan.stop_when.clauses == [[("agents", ">=", 20), ("step", ">", 3)], [("residential", "==", 7)]]

    # Every mistake ends the command with status 2 and one line, before any run.
    bad = tmp_path / "bad.toml"
    for text, message in [
        (b"replicate = 2\n[parameters]\nE_crAgs = [1]\n", "unknown key"),
        (b"[parameters]\nE_crAgs = [1]\n[[points]]\nE_crAgs = 1\n", "give one of"),
        (b"steps = 10\n", "give one of"),
        (b'stop_when = "agents >>= 5"\n[parameters]\nE_crAgs = [1]\n', "no number"),
        (b'stop_when = "agents >= 5;"\n[parameters]\nE_crAgs = [1]\n', "cannot read"),
        (b'stop_when = "population > 3"\n[parameters]\nE_crAgs = [1]\n', "no statistics column"),
        (b'stop_when = "agents > many"\n[parameters]\nE_crAgs = [1]\n', "no number"),
        (b'stop_when = "agents > 1 and"\n[parameters]\nE_crAgs = [1]\n', "COLUMN OPERATOR NUMBER"),
        (b'stop_when = "agents > 1 but step > 2"\n[parameters]\nE_crAgs = [1]\n', "expected 'and' or 'or'"),
        (b'stop_when = ""\n[parameters]\nE_crAgs = [1]\n', "cannot be empty"),
        (b'keep = "last"\n[parameters]\nE_crAgs = [1]\n', "keep"),
        (b"every = 0\n[parameters]\nE_crAgs = [1]\n", "every"),
        (b'[design]\nkind = "sobol"\npoints = 6\n[ranges]\nE_crAgs = [1, 3, "int"]\n', "power of two"),
        (b'[design]\nkind = "grid"\npoints = 4\n[ranges]\nE_crAgs = [1, 3]\n', "kind"),
        (b'[design]\nkind = "random"\npoints = 4\n[ranges]\nE_crAgs = [3, 1]\n', "above the high"),
        (b'[design]\nkind = "random"\npoints = 4\n[ranges]\nE_crAgs = [1, 2, 3, 4]\n', "low, high"),
        (b'[design]\nkind = "random"\npoints = 4\n', "table takes a"),
        (b"replicates = 0\n[parameters]\nE_crAgs = [1]\n", "replicates"),
        (b"replicates = '2'\n[parameters]\nE_crAgs = [1]\n", "replicates"),
        (b"steps = -1\n[parameters]\nE_crAgs = [1]\n", "steps"),
        (b"steps = 1.5\n[parameters]\nE_crAgs = [1]\n", "steps"),
        (b"[parameters\n", "bad.toml"),
        (b"[parameters]\nE_crAgs = {a = 1}\n", "not dict"),
        (b"[parameters]\nE_crAgs = 1979-05-27\n", "not date"),
        (b"[parameters]\nE_crAgs = [[1, 2]]\n", "not list"),
        (b"[parameters]\nE_crAgs = [1]\nE_nothing = 2\n", "E_nothing: no control"),
        (b"[parameters]\nCB_migrate = 2\n", "CB_migrate"),
        (b"[parameters]\nE_crAgs = [1]\n# \xff\xfe\n", "utf-8"),
        (b'measures = ["pattern"]\n[parameters]\nE_crAgs = [1]\n', "'pattern': no measure of that name"),
        (b'measures = "patterns"\n[parameters]\nE_crAgs = [1]\n', "a list of measure names"),
        (b'measures = ["patterns", "patterns"]\n[parameters]\nE_crAgs = [1]\n', "given twice"),
        (b"track_threshold = 5\n[parameters]\nE_crAgs = [1]\n", "which measures does not name"),
        (b'measures = ["patterns"]\ntrack_threshold = nan\n[parameters]\nE_crAgs = [1]\n', "a finite number"),
        (b'measures = ["patterns"]\ntrack_threshold = "22"\n[parameters]\nE_crAgs = [1]\n', "a finite number"),
    ]:
        bad.write_bytes(text)
        with pytest.raises(SweepFileError, match=message):
            read_sweep_file(bad)
        out = tmp_path / "never.csv"
        with pytest.raises(SystemExit) as exited:
            main([str(bad), "--out", str(out), "--quiet"])
        error = capsys.readouterr().err
        assert exited.value.code == 2 and not out.exists(), text
        assert error.count("\n") == 1 and message in error, error
    for out, message in [(tmp_path / "missing" / "out.csv", "does not exist"), (tmp_path, "directory")]:
        with pytest.raises(SystemExit) as exited:
            main([str(good), "--out", str(out), "--quiet"])
        assert exited.value.code == 2 and message in capsys.readouterr().err


def test_the_command_stopped_keeps_its_runs_and_resumed_writes_the_whole_table(client, tmp_path):
    parameters = {"E_CProbab": [0.1, "abc"], "E_crAgs": list(range(1, 11)), "Edit_size": 10}
    (tmp_path / "sweep.toml").write_text(
        'replicates = 2\nsteps = 30\n[parameters]\nE_CProbab = [0.1, "abc"]\n'
        f"E_crAgs = {list(range(1, 11))}\nEdit_size = 10\n"
    )
    out = tmp_path / "results.csv"
    journal = tmp_path / "results.csv.journal"
    whole = landuse.sweep(parameters, replicates=2, steps=30, progress=False, client=client)

    # Stopped as at a job's time limit once some runs are in the journal.
    command = [sys.executable, "-m", "landuse.sweep", tmp_path / "sweep.toml", "--out", out, "--quiet", "--workers", 1]
    stopped = subprocess.Popen(
        list(map(str, command)), env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT), stderr=subprocess.PIPE, text=True
    )
    deadline = time.monotonic() + 120
    while not journal.exists() or journal.read_text().count("\n") < 3:
        assert time.monotonic() < deadline and stopped.poll() is None
        time.sleep(0.05)
    stopped.terminate()
    _, errors = stopped.communicate(timeout=60)
    assert stopped.returncode == 143 and "--resume" in errors and not out.exists(), errors
    kept = journal.read_text().count("\n") - 1
    assert 2 <= kept < 40

    status, errors = run_command([tmp_path / "sweep.toml", "--out", out, "--quiet"])
    assert status == 2 and "--resume" in errors and not out.exists()
    status, errors = run_command(
        [tmp_path / "sweep.toml", "--out", out, "--quiet", "--resume", "--workers", 1],
        preexec_fn=lambda: os.umask(0o002),
    )
    assert status == 1 and "40 runs (20 failed)" in errors, errors
    assert out.stat().st_mode & 0o777 == 0o664 and not journal.exists()
    assert out.read_text() == whole.to_csv(index=False)
    status, errors = run_command([tmp_path / "sweep.toml", "--out", out, "--quiet", "--resume"])
    assert status == 0 and "nothing to resume" in errors


def test_ctrl_c_at_the_terminal_stops_the_command_quietly(tmp_path):
    """Ctrl-C reaches the whole process group, the local cluster's worker processes
    too: the command alone says it was interrupted, and no worker prints a traceback."""
    (tmp_path / "sweep.toml").write_text(
        "replicates = 2\nsteps = 200\n[parameters]\nEdit_size = 10\n" f"E_crAgs = {list(range(1, 11))}\n"
    )
    journal = tmp_path / "results.csv.journal"
    command = [
        sys.executable,
        "-m",
        "landuse.sweep",
        tmp_path / "sweep.toml",
        "--out",
        tmp_path / "results.csv",
        "--quiet",
        "--workers",
        2,
    ]
    sweep_process = subprocess.Popen(
        list(map(str, command)),
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
        stderr=subprocess.PIPE,
        text=True,
        start_new_session=True,
    )
    try:
        deadline = time.monotonic() + 120
        while not journal.exists() or journal.read_text().count("\n") < 3:
            assert time.monotonic() < deadline and sweep_process.poll() is None
            time.sleep(0.05)
        os.killpg(sweep_process.pid, signal.SIGINT)
        _, errors = sweep_process.communicate(timeout=60)
    finally:
        if sweep_process.poll() is None:
            os.killpg(sweep_process.pid, signal.SIGKILL)
            sweep_process.wait()
    assert sweep_process.returncode == 130 and "Traceback" not in errors, errors
    assert errors.strip().splitlines() == [
        f"python3 -m landuse.sweep: interrupted; the finished runs are kept in "
        f"{journal}: the same command with --resume runs the others"
    ]


def test_an_unreachable_scheduler_and_a_script_on_stdin(tmp_path):
    (tmp_path / "sweep.toml").write_text("steps = 2\n[parameters]\nE_crAgs = [1]\n")
    status, errors = run_command(
        [tmp_path / "sweep.toml", "--out", tmp_path / "out.csv", "--scheduler", "tcp://127.0.0.1:1"]
    )
    assert status == 3 and errors.count("\n") == 1 and "cannot reach" in errors and "after 10 s" in errors, errors

    # From stdin a worker process cannot import the main module again: the workers are threads.
    script = "import landuse\nprint(len(landuse.sweep({'E_crAgs': [1, 2]}, steps=2, progress=False)))\n"
    done = subprocess.run(
        [sys.executable, "-"],
        input=script,
        capture_output=True,
        text=True,
        timeout=120,
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
    )
    assert done.returncode == 0 and done.stdout == "4\n", done.stderr


def test_landuse_sweep_runs_a_sweep_when_called_and_stays_so():
    package = landuse.sweep
    assert callable(package) and package.__call__.__func__ is not None
    importlib.import_module("landuse.sweep.cli")
    importlib.import_module("landuse.sweep.__main__")  # as a local cluster's worker process imports it
    assert landuse.sweep is package and callable(landuse.sweep)
    assert "replicates" in str(inspect.signature(landuse.sweep))


def test_the_slurm_script_exits_with_the_sweeps_status(tmp_path):
    """Against stand-ins for srun, dask and python3: a stale scheduler file is never
    read, the address is waited for until it is complete, every node and the sweep
    are given the job's own TLS key in a folder only its user reads, removed at the
    end, and the job ends with the sweep's status."""
    script = ROOT / "scripts" / "slurm-sweep.sh"
    assert subprocess.run(["bash", "-n", str(script)]).returncode == 0
    stubs = tmp_path / "bin"
    stubs.mkdir()
    calls = tmp_path / "calls"
    (stubs / "srun").write_text('#!/bin/sh\nexec "$@"\n')
    # The scheduler writes half of its file first, then all of it.
    (stubs / "dask").write_text(
        f"""#!/bin/sh
echo "dask $*" >> {calls}
if [ "$1" = scheduler ]; then
    while [ "$1" != --scheduler-file ]; do shift; done
    sleep 0.3; printf '{{"address": "tcp://10.0.0' > "$2"; sleep 0.3
    printf '{{"address": "tcp://10.0.0.7:40001"}}' > "$2"
fi
exec sleep 60
"""
    )
    (stubs / "python3").write_text(
        f"""#!/bin/sh
if [ "$1" = -c ]; then exec {sys.executable} "$@"; fi
echo "python3 $*" >> {calls}
for a; do case $a in */key.pem) stat -c "mode %a %n" "${{a%/*}}" "$a" >> {calls};; esac; done
for i in $(seq 100); do grep -q "dask worker" {calls} && break; sleep 0.1; done  # the workers' start is logged
exit "$SWEEP_STATUS"
"""
    )
    for stub in stubs.iterdir():
        stub.chmod(0o755)
    scheduler_file = tmp_path / "scheduler.json"
    for status in (0, 1):
        scheduler_file.write_text('{"address": "tcp://10.9.9.9:8786"}')  # a requeued job's stale file
        calls.write_text("")
        environment = dict(
            os.environ,
            PATH=f"{stubs}:{os.environ['PATH']}",
            SWEEP_STATUS=str(status),
            LANDUSE_SCHEDULER_FILE=str(scheduler_file),
        )
        done = subprocess.run(
            ["bash", str(script), "sweep.toml", "out.csv"],
            env=environment,
            capture_output=True,
            text=True,
            timeout=60,
            cwd=tmp_path,
        )
        assert done.returncode == status, done.stderr
        lines = calls.read_text().splitlines()
        keys = [line.split()[-1] for line in lines if line.startswith("mode 600 ")]
        assert len(keys) == 1 and keys[0].startswith(f"{tmp_path}/landuse-tls-"), lines
        folder = os.path.dirname(keys[0])
        tls = f"--tls-ca-file {folder}/cert.pem --tls-cert {folder}/cert.pem --tls-key {folder}/key.pem"
        no_pages = "--no-dashboard --dashboard-address 127.0.0.1:0"
        assert f"mode 700 {folder}" in lines, lines
        assert any(line.startswith(f"dask scheduler --protocol tls --port 0 {tls} {no_pages} ") for line in lines)
        assert any(
            line.startswith(f"dask worker --scheduler-file {scheduler_file} --nthreads 1 {tls} {no_pages}")
            for line in lines
        ), lines
        assert (
            f"python3 -m landuse.sweep sweep.toml --out out.csv --scheduler tcp://10.0.0.7:40001 {tls} --resume"
            in lines
        ), lines
        assert not scheduler_file.exists() and not os.path.exists(folder)


@contextlib.contextmanager
def scheduler_with_workers(directory, workers, tls=()):
    """A `dask scheduler` and `dask worker` processes (no nanny, one thread each) on
    localhost, as on a cluster of machines; every process ends with the block. With
    `tls` (Dask's --tls-* options), all of them speak TLS."""
    from distributed import Client
    from landuse.sweep.cli import tls_security

    environment = dict(
        os.environ, PYTHONPATH=os.pathsep.join(filter(None, [PACKAGE_PARENT, os.environ.get("PYTHONPATH")]))
    )
    scheduler_file = directory / "scheduler.json"
    log = open(directory / "dask.log", "w")
    processes = []
    client = None

    def start(module, *arguments):
        processes.append(
            subprocess.Popen(
                [sys.executable, "-m", f"distributed.cli.{module}", *arguments],
                env=environment,
                stdout=log,
                stderr=subprocess.STDOUT,
            )
        )
        return processes[-1]

    try:
        start(
            "dask_scheduler",
            "--host",
            "127.0.0.1",
            "--port",
            "0",
            "--no-dashboard",
            "--scheduler-file",
            str(scheduler_file),
            *(["--protocol", "tls", *tls] if tls else []),
        )
        worker_processes = {}
        for i in range(workers):
            worker_processes[f"worker-{i}"] = start(
                "dask_worker",
                "--scheduler-file",
                str(scheduler_file),
                "--host",
                "127.0.0.1",
                "--nthreads",
                "1",
                "--no-nanny",
                "--no-dashboard",
                "--name",
                f"worker-{i}",
                *tls,
            )
        deadline = time.monotonic() + 120
        while not scheduler_file.exists():
            assert time.monotonic() < deadline, "the scheduler did not start"
            time.sleep(0.1)
        security = tls_security(*tls[1::2]) if tls else None
        client = Client(scheduler_file=str(scheduler_file), timeout=120, security=security)
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
        "replicates = 3\nsteps = 120\n[parameters]\nEdit_size = 5\nE_CProbab = [0.05, 0.3]\nE_crAgs = [1, 2, 6, 9]\n"
    )
    points = landuse.sweep.sweep_points({"Edit_size": 5, "E_CProbab": [0.05, 0.3], "E_crAgs": [1, 2, 6, 9]})
    out = tmp_path / "results.csv"

    with scheduler_with_workers(tmp_path, workers=2) as (client, workers):
        sweep_process = subprocess.Popen(
            [
                sys.executable,
                "-m",
                "landuse.sweep",
                str(tmp_path / "sweep.toml"),
                "--out",
                str(out),
                "--scheduler",
                client.scheduler.address,
            ],
            env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
            stderr=subprocess.PIPE,
            text=True,
        )
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


def test_the_command_reaches_a_tls_scheduler_with_the_files_it_is_given(tmp_path):
    from distributed.security import Security

    temporary = Security.temporary()
    (tmp_path / "cert.pem").write_text(temporary.tls_client_cert)
    (tmp_path / "key.pem").write_text(temporary.tls_client_key)
    tls = [
        "--tls-ca-file",
        str(tmp_path / "cert.pem"),
        "--tls-cert",
        str(tmp_path / "cert.pem"),
        "--tls-key",
        str(tmp_path / "key.pem"),
    ]
    (tmp_path / "sweep.toml").write_text("steps = 2\n[parameters]\nE_crAgs = [1, 2]\n")
    with scheduler_with_workers(tmp_path, workers=1, tls=tls) as (client, _):
        assert client.scheduler.address.startswith("tls://")
        for options, status, message in [
            ([], 3, "cannot reach the cluster"),
            (tls[:4], 2, "given together"),
            (tls, 0, "2 runs (0 failed)"),
        ]:
            found, errors = run_command(
                [
                    tmp_path / "sweep.toml",
                    "--out",
                    tmp_path / "out.csv",
                    "--quiet",
                    "--scheduler",
                    client.scheduler.address,
                    *options,
                ]
            )
            assert found == status and message in errors and errors.count("\n") == 1, errors
    status, errors = run_command([tmp_path / "sweep.toml", "--out", tmp_path / "out.csv", *tls])
    assert status == 2 and "with --scheduler" in errors


# Refused before any run: a sweep that reached this client would fail on it.
NOT_A_CLIENT = object()
ONE = "steps = 2\n[parameters]\nE_crAgs = [1]\n"
RANDOM = '[design]\nkind = "random"\npoints = 4\nseed = 0\n[ranges]\n'


@pytest.mark.parametrize(
    "text, message",
    [
        ("steps = 2147483648\n[parameters]\nE_crAgs = [1]\n", "0..2147483647"),
        ("steps = 99999999999999\n[parameters]\nE_crAgs = [1]\n", "0..2147483647"),
        ("replicates = 100000000000000\n[parameters]\nE_crAgs = [1]\n", "LARGEST_SWEEP"),
        ("replicates = 1000\n[parameters]\nE_crAgs = " + str(list(range(100001))) + "\n", "LARGEST_SWEEP"),
        ('[design]\nkind = "random"\npoints = 1000000000\n[ranges]\nE_crAgs = [1, 3, "int"]\n', "LARGEST_DESIGN"),
        ('[design]\nkind = "sobol"\npoints = 1099511627776\n[ranges]\nE_crAgs = [1, 3, "int"]\n', "LARGEST_DESIGN"),
        (RANDOM + "E_CProbab = [-1e308, 1e308]\n", "wider than the largest number"),
        (RANDOM + 'TrB_thresh = [0, 200, "int"]\n', "TrB_thresh = 200, from its range"),
        (RANDOM + "CB_migrate = {choices = [0, 2]}\n", "CB_migrate = 2, from its range"),
        ('stop_when = "agents > nan"\n' + ONE, "'nan' is no number"),
        ('stop_when = "agents < infinity"\n' + ONE, "'infinity' is no number"),
        ('stop_when = "agents > 1e999"\n' + ONE, "'1e999' is past the largest number"),
        ('stop_when = "' + "agents > 1 and " * 7000 + '"\n' + ONE, "\u2026: a comparison is COLUMN OPERATOR NUMBER"),
        ('stop_when = "agents > 1 ' + "x" * 100000 + '"\n' + ONE, "\u2026: expected 'and' or 'or'"),
        ('[parameters]\nE_CProbab = ["0\\u00001"]\n', "control character '\\x00'"),
        ('[[points]]\n"StringGrid1.2.1" = "0,5\\n"\n', "control character '\\n'"),
    ],
)
def test_a_sweep_file_past_a_limit_is_refused_in_one_short_line(tmp_path, capsys, text, message):
    bad = tmp_path / "bad.toml"
    bad.write_text(text)
    with pytest.raises(SweepFileError, match=re.escape(message)):
        read_sweep_file(bad)
    with pytest.raises(SystemExit) as exited:
        main([str(bad), "--out", str(tmp_path / "never.csv"), "--quiet"])
    error = capsys.readouterr().err
    assert exited.value.code == 2 and error.count("\n") == 1 and len(error) < 400 and message in error, error[:500]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: landuse.sweep({"E_crAgs": [1]}, steps=2**31, client=NOT_A_CLIENT), ValueError, "0..2147483647"),
        (
            lambda: landuse.sweep({"E_crAgs": [1]}, steps=99999999999999, client=NOT_A_CLIENT),
            ValueError,
            "0..2147483647",
        ),
        (
            lambda: landuse.sweep({"E_crAgs": [1, 2]}, replicates=10**14, client=NOT_A_CLIENT),
            ValueError,
            "LARGEST_SWEEP",
        ),
        (
            lambda: landuse.sweep({"E_crAgs": range(10**4)}, replicates=10**5, client=NOT_A_CLIENT),
            ValueError,
            "1000000000 runs",
        ),
        (
            lambda: landuse.sweep(
                dict.fromkeys(
                    ["E_crAgs", "E_migTh", "E_crServ", "E_crIndu", "E_stop", "Edit_anzAg", "E_decay"], range(1000)
                ),
                client=NOT_A_CLIENT,
            ),
            ValueError,
            "LARGEST_SWEEP",
        ),
        (lambda: landuse.sweep({"E_crAgs": [1]}, client="nonsense::"), ValueError, "no scheduler address"),
        (lambda: landuse.sweep({"E_crAgs": [1]}, client="tcp://"), ValueError, "no scheduler address"),
        (
            lambda: landuse.sweep({"E_crAgs": [1]}, steps=2, stop_when="agents > nan", client=NOT_A_CLIENT),
            ValueError,
            "no number",
        ),
        (
            lambda: landuse.sweep({"E_crAgs": [1]}, steps=2, stop_when="agents >= 1e999", client=NOT_A_CLIENT),
            ValueError,
            "past the largest number",
        ),
        (
            lambda: landuse.sweep({"E_CProbab": ["0\x001"]}, steps=2, client=NOT_A_CLIENT),
            landuse.ControlValueError,
            "control character",
        ),
        (lambda: landuse.designs.random({"E_CProbab": (-1e308, 1e308)}, 4), ValueError, "wider than"),
        (lambda: landuse.designs.random({"E_crAgs": (0, 10**400, int)}, 4), ValueError, "finite numbers"),
        (
            lambda: landuse.designs.latin_hypercube({"TrB_thresh": (0, 200, int)}, 4),
            landuse.ControlValueError,
            "TrB_thresh = 200",
        ),
        (
            lambda: landuse.designs.random({"CB_migrate": [0, 2]}, 1, seed=0),
            landuse.ControlValueError,
            "CB_migrate = 2",
        ),
        (
            lambda: landuse.designs.random({"E_crAgs": (1, 3, int)}, landuse.designs.LARGEST_DESIGN + 1),
            ValueError,
            "LARGEST_DESIGN",
        ),
        (lambda: landuse.designs.sobol_design({"E_crAgs": (1, 3, int)}, 2**40), ValueError, "LARGEST_DESIGN"),
        (lambda: landuse.designs.grid({"E_crAgs": range(1001), "E_migTh": range(1000)}), ValueError, "LARGEST_DESIGN"),
        (lambda: landuse.sensitivity.saltelli_design({"E_crAgs": (1, 3, int)}, 2**19), ValueError, "LARGEST_DESIGN"),
        (lambda: landuse.Simulation(E_CProbab="0\x001"), landuse.ControlValueError, "control character '\\\\x00'"),
        (lambda: landuse.Simulation(**{"E_CProbab\x00": 1}), landuse.ControlValueError, "control character"),
        (lambda: landuse.Simulation().set("StringGrid1.2.1", "0,5\n"), landuse.ControlValueError, "control character"),
        (lambda: landuse.check_controls({"E_crAgs": "1\x7f"}), landuse.ControlValueError, "control character"),
    ],
)
def test_the_python_api_refuses_the_same_before_any_run(call, error, message):
    with pytest.raises(error, match=message) as refused:
        call()
    assert "\n" not in str(refused.value) and len(str(refused.value)) < 400


@pytest.mark.parametrize("address", ["nonsense::", "tcp://", "tcp://127.0.0.1:8786/x", "udp://127.0.0.1:8786"])
def test_a_malformed_scheduler_address_is_a_mistake_in_the_command(tmp_path, address):
    (tmp_path / "sweep.toml").write_text(ONE)
    status, errors = run_command([tmp_path / "sweep.toml", "--out", tmp_path / "out.csv", "--scheduler", address])
    assert status == 2 and errors.count("\n") == 1 and "--scheduler" in errors and "Traceback" not in errors, errors


def _damaged(lines, number, change):
    """The journal's lines with line `number` (1 is the header) changed by change(record, lines) -> record or text."""
    changed = change(json.loads(lines[number - 1]), lines)
    return [*lines[: number - 1], changed if isinstance(changed, str) else json.dumps(changed), *lines[number:]]


def _without(record, *keys):
    inner = record
    for key in keys[:-1]:
        inner = inner[key]
    del inner[keys[-1]]
    return record


@pytest.fixture(scope="module")
def journal_lines(client, tmp_path_factory):
    """A whole journal of 2 points x 2 replicates, 2 steps each."""
    path = tmp_path_factory.mktemp("journal") / "results.csv.journal"
    landuse.sweep({"E_crAgs": [1, 2]}, replicates=2, steps=2, progress=False, client=client, journal=path)
    return path.read_text().splitlines()


@pytest.mark.parametrize(
    "number, change, message",
    [
        (3, lambda r, _: _without(r, "values"), "lacks values"),
        (4, lambda r, _: _without(r, "statistics", "agents"), "statistics lack agents"),
        (2, lambda r, _: {**r, "run": 9}, "is no run of this sweep (0..3)"),
        (5, lambda r, lines: lines[1], "a second time"),
        (2, lambda r, _: {**r, "replicate": 1 - r["replicate"]}, "is not point"),
        (3, lambda r, _: {**r, "draws": "many"}, "draws is not a whole number"),
        (3, lambda r, _: {**r, "stopped": 1}, "stopped is not true or false"),
        (3, lambda r, _: {**r, "statistics": {**r["statistics"], "step": [1]}}, "not of one length"),
        (3, lambda r, _: {**r, "values": [[1]]}, "plain values"),
        (4, lambda r, _: {**r, "measures": [[1, 2]]}, "measures are not"),
        (4, lambda r, _: json.dumps({k: r[k] for k in reversed(list(r))}), 'begin with {"run": N}'),
        (5, lambda r, _: json.dumps(r)[:-1] + ",}", "not JSON"),
    ],
)
def test_a_damaged_journal_line_is_refused_by_number_before_any_run(
    journal_lines, tmp_path, capsys, number, change, message
):
    (tmp_path / "sweep.toml").write_text("replicates = 2\nsteps = 2\n[parameters]\nE_crAgs = [1, 2]\n")
    journal = tmp_path / "results.csv.journal"
    journal.write_text("\n".join(_damaged(journal_lines, number, change)) + "\n")
    before = journal.read_bytes()
    with pytest.raises(SystemExit) as exited:
        main([str(tmp_path / "sweep.toml"), "--out", str(tmp_path / "results.csv"), "--resume", "--quiet"])
    error = capsys.readouterr().err
    assert exited.value.code == 2 and error.count("\n") == 1, error
    assert f"damaged at line {number}: " in error and message in error, error
    with pytest.raises(ValueError, match=f"line {number}: .*{re.escape(message)}"):
        landuse.sweep({"E_crAgs": [1, 2]}, replicates=2, steps=2, progress=False, client=NOT_A_CLIENT, journal=journal)
    assert journal.read_bytes() == before


@pytest.mark.parametrize("seed", range(6))
def test_overlaps_found_from_sorted_starts_are_those_every_pair_shows(seed):
    """Against the check of every pair, on random small sets of replicates."""
    rng = np.random.default_rng(seed)
    for _ in range(40):
        replicates = {int(k) for k in rng.integers(0, 2**32 if seed % 2 else 64, size=rng.integers(0, 12))}
        choices = [
            0,
            1,
            2**31,
            2**31 + 1,
            2**32 - 1,
            2**32,
            2**33,
            rng.integers(2**32),
            rng.integers(2**26),
        ]
        draws = {k: int(choices[rng.integers(len(choices))]) for k in replicates}
        pairs = [
            (a, b)
            for a, b in itertools.combinations(sorted(draws), 2)
            if landuse.streams_overlap(landuse.replicate_seed(a), draws[a], landuse.replicate_seed(b), draws[b])
        ]
        assert landuse.sweep.overlapping_replicates(draws) == pairs
        if pairs:
            involved = len({k for pair in pairs for k in pair})
            with pytest.warns(
                landuse.sweep.StreamOverlapWarning, match=rf"\({involved} of the {len(draws)} replicates"
            ):
                landuse.sweep.warn_of_overlaps(draws)


def test_the_cluster_a_sweep_starts_samples_no_profiles_in_this_process():
    """Dask's profiler would sample the local scheduler's event loop here and keep
    its profiles, for a dashboard the local cluster does not serve."""
    script = """import threading, landuse
from landuse.sweep import clusters
started = clusters.local_client
def watched(workers):
    client, cluster = started(workers)
    print("Profile" in [thread.name for thread in threading.enumerate()])
    return client, cluster
clusters.local_client = watched
landuse.sweep({"E_crAgs": [1]}, steps=1, progress=False)
"""
    done = subprocess.run(
        [sys.executable, "-c", script],
        capture_output=True,
        text=True,
        timeout=120,
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
    )
    assert done.returncode == 0 and done.stdout == "False\n", done.stderr[-2000:]
