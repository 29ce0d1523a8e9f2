"""Shared helpers: the headless runner to compare with, and its output tables."""

import io
import os
import pathlib
import shlex
import subprocess

import pandas as pd
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def runner_path():
    path = os.environ.get("LANDUSE_HEADLESS", str(ROOT / "build" / "app" / "landuse-headless"))
    return path if os.access(path, os.X_OK) else None


@pytest.fixture(scope="session")
def runner():
    path = runner_path()
    if path is None:
        pytest.skip("the headless runner is not built (set LANDUSE_HEADLESS)")
    return path


def run_runner(runner, arguments):
    """The runner's tables (statistics, and agents and cells when asked for) as DataFrames."""
    done = subprocess.run([runner, *arguments], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    sections = done.stdout.split("\n\n")
    tables = [pd.read_csv(io.StringIO(section), float_precision="round_trip") for section in sections]
    names = ["statistics"]
    if "--agents" in arguments:
        names.append("agents")
    if "--cells" in arguments:
        names.append("cells")
    return dict(zip(names, tables))


def recorded_scenes():
    """The configurations the project compares builds on, one argument list each."""
    lines = (ROOT / "scripts" / "compare_configurations.txt").read_text().splitlines()
    return [shlex.split(line) for line in lines if line.strip()]


def scene_controls(arguments):
    """The --set options of an argument list, as Simulation keywords; and the steps."""
    controls, steps = {}, None
    for option, value in zip(arguments, arguments[1:]):
        if option == "--set":
            name, text = value.split("=", 1)
            controls[name] = text
        elif option == "--steps":
            steps = int(value)
    return controls, steps


@pytest.fixture(scope="module")
def client():
    """A local cluster of two workers for a test module's sweeps."""
    from landuse.sweep import clusters

    client, cluster = clusters.local_client(2)
    yield client
    client.close()
    cluster.close()
