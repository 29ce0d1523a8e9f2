"""The package's shape: every module imports on its own and names its public
parts, every error it raises on purpose is a LanduseError, a misspelt control
name is answered with the nearest ones, and a sweep called from a script's top
level runs rather than starting worker processes that run the script again."""

import ast
import importlib
import inspect
import os
import pkgutil
import subprocess
import sys
import textwrap

import pytest

import landuse
from landuse import designs, measures, sensitivity
from landuse.sweep import clusters
from landuse.sweep.cli import SweepFileError, read_sweep_file

PACKAGE_PARENT = os.path.dirname(os.path.dirname(landuse.__file__))
ENVIRONMENT = dict(os.environ, PYTHONPATH=PACKAGE_PARENT)
MODULES = ["landuse"] + [
    info.name for info in pkgutil.walk_packages(landuse.__path__, "landuse.") if not info.name.endswith("_core")
]


def test_each_module_imports_first_and_names_what_it_defines():
    # Each one first in a fresh interpreter: an import cycle fails whichever module starts it.
    script = "import importlib, sys\nfor name in sys.argv[1:]:\n    importlib.import_module(name)\n"
    for name in MODULES:
        done = subprocess.run([sys.executable, "-c", script, name], capture_output=True, text=True, env=ENVIRONMENT)
        assert done.returncode == 0, f"{name}: {done.stderr[-1500:]}"
    for name in MODULES:
        if name.endswith("__main__"):
            continue
        module = importlib.import_module(name)
        assert hasattr(module, "__all__"), name
        missing = [n for n in module.__all__ if not hasattr(module, n)]
        assert not missing, f"{name}.__all__ names what it lacks: {missing}"
        defined = [
            n
            for n, value in vars(module).items()
            if not n.startswith("_")
            and (inspect.isfunction(value) or inspect.isclass(value))
            and value.__module__ == name
        ]
        unlisted = sorted(set(defined) - set(module.__all__))
        assert not unlisted, f"{name} defines public {unlisted} outside its __all__"


def raises_of(call):
    try:
        call()
    except Exception as e:
        return e
    raise AssertionError("nothing raised")


@pytest.mark.parametrize(
    "call, kind, words",
    [
        (lambda: landuse.Simulation(seed=-1), ValueError, "seed takes"),
        (lambda: landuse.Simulation(E_CProbab=object()), TypeError, "a control takes"),
        (lambda: landuse.Simulation(Edit_sise=3), ValueError, "did you mean 'Edit_size'"),
        (lambda: landuse.Simulation(CB_showAg=7), landuse.ControlValueError, "CB_showAg"),
        (lambda: landuse.Simulation.from_state(b"no state"), landuse.RunStateError, ""),
        (lambda: landuse.Simulation(Edit_size=10).run(steps=-1), ValueError, "run takes"),
        (lambda: landuse.sweep({"E_CProbb": [1]}), ValueError, "did you mean 'E_CProbab'"),
        (lambda: landuse.sweep({"E_crAgs": [1]}, 0), ValueError, "replicates"),
        (lambda: landuse.sweep({"E_crAgs": [1]}, client="nowhere:x"), ValueError, "scheduler address"),
        (lambda: designs.sobol_design({"E_crAgs": (1, 3, int)}, 3), ValueError, "power of two"),
        (lambda: measures.StopCondition("agents >"), landuse.StopConditionError, "agents"),
        (lambda: measures.check_functions(3, None), TypeError, "measures takes"),
        (lambda: sensitivity.Output("agents at step"), ValueError, "output takes"),
        (lambda: read_sweep_file("/nonexistent/sweep.toml"), SweepFileError, "sweep.toml"),
    ],
)
def test_every_error_raised_on_purpose_is_a_landuse_error(call, kind, words):
    error = raises_of(call)
    assert isinstance(error, landuse.LanduseError) and isinstance(error, kind), repr(error)
    assert words in str(error)


def test_the_warnings_and_the_model_s_errors_share_the_package_s_bases():
    for error in (landuse.ConversionError, landuse.ControlValueError, landuse.RunStateError):
        assert issubclass(error, landuse.LanduseError) and issubclass(error, ValueError)
    for warning in (landuse.ControlChangedWarning, landuse.StreamOverlapWarning):
        assert issubclass(warning, landuse.LanduseWarning) and issubclass(warning, UserWarning)
    assert landuse.sweep.ControlChangedWarning is landuse.ControlChangedWarning


@pytest.mark.parametrize(
    "source, line, guarded",
    [
        ("import landuse\nlanduse.sweep({})\n", 2, False),
        ('if __name__ == "__main__":\n    run()\n', 2, True),
        ('if "__main__" == __name__:\n    run()\n', 2, True),
        ('if __name__ == "__main__":\n    pass\nelse:\n    run()\n', 4, False),
        ('if __name__ != "__main__":\n    run()\n', 2, False),
        ('try:\n    if __name__ == "__main__":\n        run()\nexcept OSError:\n    pass\n', 3, True),
        ("def main():\n    run()\n\n\nmain()\n", 5, False),
        ('with open("f") as f:\n    if __name__ == "__main__":\n        main()\n', 3, True),
    ],
)
def test_a_call_under_the_main_guard_is_told_from_one_outside_it(source, line, guarded):
    assert clusters._guarded(ast.parse(source).body, line) is guarded


def test_a_sweep_at_a_script_s_top_level_runs_without_worker_processes(tmp_path):
    # Worker processes would import the script again and call the sweep again, each.
    script = tmp_path / "unguarded.py"
    script.write_text(
        textwrap.dedent(
            """\
            import landuse
            table = landuse.sweep({"E_crAgs": [1, 2]}, steps=2, progress=False)
            print(len(table), table["error"].eq("").all())
            """
        )
    )
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=300, env=ENVIRONMENT)
    assert done.returncode == 0 and done.stdout == "4 True\n", done.stderr[-3000:]
    # One warning, pointing at the script's own line, and no traceback.
    assert "Traceback" not in done.stderr and done.stderr.count("LanduseWarning") == 1, done.stderr[-3000:]
    assert f"{script}:2: LanduseWarning" in done.stderr, done.stderr[-3000:]


@pytest.mark.parametrize("name", [name for name in MODULES if not name.endswith("__main__")])
def test_the_examples_in_the_docstrings_hold(name, tmp_path, monkeypatch):
    import doctest

    monkeypatch.chdir(tmp_path)
    module = importlib.import_module(name)
    names = {**vars(landuse), **{n: getattr(landuse, n) for n in landuse.__all__}, **vars(module)}
    failed, _ = doctest.testmod(module, extraglobs=names, optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    assert failed == 0
