"""The land-use model driven by walking agents, from Python.

    import landuse
    sim = landuse.Simulation(seed=landuse.replicate_seed(3), Edit_size=10, E_CProbab=0.2)
    sim.run()                      # to the stop time (E_stop, 800 by default)
    sim.statistics                 # one row per step, as the headless runner's CSV
    grids = sim.cells()            # numpy arrays [row, column]

The package calls the model's own simulation library (the extension module
``landuse._core``); nothing of the model is written again in Python.

Where things live: ``Simulation`` in ``landuse.simulation``; the controls, the
statistics' columns and their helpers in ``landuse.controls``; errors and
warnings in ``landuse.errors``; sweeps in the package ``landuse.sweep`` (called,
it runs one); designs, measures, sensitivity, screening, calibration and plots
in modules of their own.
"""

import importlib

from . import designs, measures
from ._core import __version__, draws_between, replicate_seed, streams_overlap
from .controls import (
    DEFAULT_TRACK_THRESHOLD,
    LARGEST_SEED,
    LARGEST_STEP,
    MAX_STATE_FILE_BYTES,
    PATTERN_MEASURES,
    STATISTICS_COLUMNS,
    STATISTICS_DTYPES,
    THREADS,
    check_controls,
    control_settings,
    control_table,
    control_text,
    read_statistics,
)
from .errors import (
    ClusterError,
    ControlChangedWarning,
    ControlValueError,
    ConversionError,
    LanduseError,
    LanduseTypeError,
    LanduseValueError,
    LanduseWarning,
    RunStateError,
    StreamOverlapWarning,
)
from .files import FileSizeError
from .measures import MeasureError, StopConditionError, patterns, patterns_with
from .simulation import Simulation
from . import sweep  # noqa: I100  (after Simulation, which the sweep's runs use)
from .sweep.results import open_results, to_table

__all__ = [
    "ClusterError",
    "ControlChangedWarning",
    "ControlValueError",
    "ConversionError",
    "DEFAULT_TRACK_THRESHOLD",
    "FileSizeError",
    "LARGEST_SEED",
    "LARGEST_STEP",
    "LanduseError",
    "LanduseTypeError",
    "LanduseValueError",
    "LanduseWarning",
    "MAX_STATE_FILE_BYTES",
    "MeasureError",
    "PATTERN_MEASURES",
    "RunStateError",
    "STATISTICS_COLUMNS",
    "STATISTICS_DTYPES",
    "THREADS",
    "Simulation",
    "StopConditionError",
    "StreamOverlapWarning",
    "__version__",
    "calibrate",
    "check_controls",
    "control_settings",
    "control_table",
    "control_text",
    "designs",
    "draws_between",
    "measures",
    "patterns",
    "open_results",
    "patterns_with",
    "plot",
    "plot_analysis",
    "read_statistics",
    "replicate_seed",
    "screening",
    "sensitivity",
    "streams_overlap",
    "sweep",
    "to_table",
]

# Imported when first used: they need scipy (sensitivity, screening, calibrate) or matplotlib (the plots).
_LAZY_MODULES = ("sensitivity", "plot", "screening", "calibrate", "plot_analysis")


def __getattr__(name):
    """landuse.sensitivity, .screening, .calibrate (scipy) and landuse.plot, .plot_analysis (matplotlib) are
    imported when first used."""
    if name in _LAZY_MODULES:
        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'landuse' has no attribute {name!r}")
