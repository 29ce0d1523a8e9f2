"""Parameter sweeps of the model on Dask distributed.

``landuse.sweep`` is this package and, called, runs a sweep: ``landuse.sweep(...)``
is ``landuse.sweep.run_sweep(...)``. ``python3 -m landuse.sweep`` is its command
line (``landuse.sweep.cli``). The package's parts, one job each:

- ``points``: the sweep's points and the plan every run follows, checked before any run;
- ``running``: a sweep's runs, into a table or a journal;
- ``tasks``: one run as a task, and the tasks streamed on a cluster;
- ``tables``: the tidy table made from the runs' records;
- ``journal``: every finished run kept on disk, so that an interrupted sweep goes on;
- ``summary``: the overlapping random streams and changed values a sweep warns of;
- ``clusters``: the local cluster a sweep starts when given none, and connecting to one;
- ``cli``: the command line, a TOML file in and one CSV table out.
"""

import inspect
import sys
import types

from ..errors import ControlChangedWarning, StreamOverlapWarning
from .clusters import CONNECT_TIMEOUT, check_scheduler_address, default_workers, local_client, quiet_local_client
from .journal import Journal, RecordShape, check_writable, journal_header, journal_records, read_journal
from .points import (
    KEEP_CHOICES,
    LARGEST_SWEEP,
    RESERVED_COLUMNS,
    RUN_COLUMNS,
    RunPlan,
    SweepPoints,
    check_replicates,
    check_run_count,
    sweep_points,
    value_in_effect,
)
from .running import check_journal, record_shape, run_into_journal, run_sweep
from .summary import CYCLE, SweepSummary, overlapping_replicates, warn_of_changes, warn_of_overlaps
from .tables import TableLayout, make_table, run_frame, table_columns, write_journal_table
from .tasks import run_one, stream_runs

__all__ = [
    "CONNECT_TIMEOUT",
    "CYCLE",
    "ControlChangedWarning",
    "Journal",
    "KEEP_CHOICES",
    "LARGEST_SWEEP",
    "RESERVED_COLUMNS",
    "RUN_COLUMNS",
    "RecordShape",
    "RunPlan",
    "StreamOverlapWarning",
    "SweepPoints",
    "SweepSummary",
    "TableLayout",
    "check_journal",
    "check_replicates",
    "check_run_count",
    "check_scheduler_address",
    "check_writable",
    "default_workers",
    "journal_header",
    "journal_records",
    "local_client",
    "make_table",
    "overlapping_replicates",
    "quiet_local_client",
    "read_journal",
    "record_shape",
    "run_frame",
    "run_into_journal",
    "run_one",
    "run_sweep",
    "stream_runs",
    "sweep_points",
    "table_columns",
    "value_in_effect",
    "warn_of_changes",
    "warn_of_overlaps",
    "write_journal_table",
]


class _CallableModule(types.ModuleType):
    """This package's type: a module that, called, runs a sweep."""

    def __call__(self, *args, **kwargs):
        return run_sweep(*args, **kwargs)


sys.modules[__name__].__class__ = _CallableModule
# help() and inspect show the sweep's own signature.
__signature__ = inspect.signature(run_sweep)
