"""The sweep command run in a process of its own, as the tests of sweeps and of
their store run it."""

import os
import pathlib
import subprocess
import sys

import landuse

PACKAGE_PARENT = str(pathlib.Path(landuse.__file__).resolve().parents[1])


def run_command(arguments, **keywords):
    """The sweep command in a process of its own: (exit status, stderr)."""
    done = subprocess.run(
        [sys.executable, "-m", "landuse.sweep", *map(str, arguments)],
        capture_output=True,
        text=True,
        env=dict(os.environ, PYTHONPATH=PACKAGE_PARENT),
        timeout=300,
        **keywords,
    )
    return done.returncode, done.stderr
