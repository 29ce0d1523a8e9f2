"""A sweep's table: its columns, a run's rows from its record, and the whole
table, in memory or written from a journal a batch of runs at a time."""

from __future__ import annotations

import os
from collections.abc import Callable, Iterable, Sequence
from typing import IO, TYPE_CHECKING

import pandas as pd

from ..controls import STATISTICS_COLUMNS
from ..measures import measure_table
from .journal import journal_records
from .points import RUN_COLUMNS, STATISTICS_INTEGERS

if TYPE_CHECKING:
    from .points import SweepPoints

__all__ = ["TableLayout", "make_table", "run_frame", "table_columns", "write_journal_table"]


class TableLayout:
    """The columns of a sweep's table: run, the design's point and coordinates (for
    a design), the swept controls, the run's own columns, the statistics, the
    measures (in the order they first appear, by run), stopped and error.

    Parameters
    ----------
    names : sequence of str
        The swept controls.
    coordinate_names : sequence of str, default ()
        A design's coordinates' columns.
    measure_names : sequence of str, default ()
        The measures' columns known so far.

    Examples
    --------
    >>> TableLayout(["E_crAgs"]).columns()[:3]
    ['run', 'E_crAgs', 'replicate']
    """

    def __init__(
        self, names: Sequence[str], coordinate_names: Sequence[str] = (), measure_names: Sequence[str] = ()
    ) -> None:
        """Keeps the columns' names."""
        self.names = list(names)
        self.coordinate_names = list(coordinate_names)
        self.measure_names = list(measure_names)
        self._known = set(self.measure_names)

    @classmethod
    def of(cls, points: SweepPoints, records: Iterable[dict] = ()) -> TableLayout:
        """The layout of a sweep's table, with the measures of ``records``.

        Parameters
        ----------
        points : SweepPoints
            The sweep's points.
        records : iterable of dict, default ()
            Runs' records whose measures are taken.

        Returns
        -------
        TableLayout
            The layout.
        """
        layout = cls(points.names, points.coordinate_names)
        for record in records:
            layout.take_measures(record)
        return layout

    def take_measures(self, record: dict) -> None:
        """Adds the measures' names a record holds that the layout lacks.

        Parameters
        ----------
        record : dict
            A run's record, as ``run_one`` makes it and JSON reads it back.
        """
        known = self._known
        for _, values in record.get("measures", []):
            for name in values:
                if name not in known:
                    self.measure_names.append(name)
                    known.add(name)

    def columns(self) -> list[str]:
        """Every column of the table.

        Returns
        -------
        list of str
            The table's columns, in order.
        """
        design = ["point", *self.coordinate_names] if self.coordinate_names else []
        return ["run", *design, *self.names, *RUN_COLUMNS, *STATISTICS_COLUMNS, *self.measure_names, "stopped", "error"]


def table_columns(names: Sequence[str]) -> list[str]:
    """The columns of a sweep's table of these swept controls and no measures.

    Parameters
    ----------
    names : sequence of str
        The swept controls.

    Returns
    -------
    list of str
        The table's columns.

    Examples
    --------
    >>> table_columns(["E_crAgs"])[-2:]
    ['stopped', 'error']
    """
    return TableLayout(names).columns()


def _statistics_frame(record, layout):
    """A run's rows of the tidy table but the measures' columns, as a dict of
    columns, and the rows' count: one per kept step, and one more carrying the
    error of a run that failed."""
    statistics = record["statistics"]
    steps = len(statistics["step"])
    rows = steps + (1 if record["error"] else 0)
    frame = {"run": pd.Series([record["run"]] * rows, dtype="int64")}
    if layout.coordinate_names:
        frame["point"] = pd.Series([record.get("point", -1)] * rows, dtype="int64")
        for name, value in zip(layout.coordinate_names, record.get("coordinates", [])):
            frame[name] = pd.Series([value] * rows, dtype="float64")
    for name, value in zip(layout.names, record["values"]):
        # Kept as objects, each written as it is: a batch of runs writes the same text as the whole table.
        # make_table gives them numeric types where every value is of one.
        frame[name] = pd.Series([value] * rows, dtype="object")
    frame["replicate"] = pd.Series([record["replicate"]] * rows, dtype="int64")
    frame["seed"] = pd.Series([record["seed"]] * rows, dtype="int64")
    frame["version"] = [record["version"]] * rows
    frame["draws"] = pd.Series([record["draws"]] * rows, dtype="int64")
    padding = [None] * (rows - steps)
    for name in STATISTICS_COLUMNS:
        # Whole numbers as the nullable Int64 in every run's rows: an error row holds none.
        frame[name] = pd.Series(statistics[name] + padding, dtype="Int64" if name in STATISTICS_INTEGERS else "float64")
    stopped = record.get("stopped", False)
    frame["stopped"] = [stopped and i == steps - 1 for i in range(steps)] + [False] * (rows - steps)
    frame["error"] = [""] * steps + [record["error"]] * (rows - steps)
    return frame, rows


def _measure_rows(record, rows):
    """Each of a run's rows' measures, {name: value} ({} on a row not measured)."""
    measured = {step: values for step, values in record.get("measures", [])}
    steps = record["statistics"]["step"]
    return [measured.get(step, {}) for step in steps] + [{}] * (rows - len(steps))


def run_frame(record: dict, layout: TableLayout | Sequence[str]) -> pd.DataFrame:
    """A run's rows of the tidy table: one per kept step, and one more carrying the
    error of a run that failed; its measures as objects, each as the run gave it.

    Parameters
    ----------
    record : dict
        A run's record, as ``run_one`` makes it and JSON reads it back.
    layout : TableLayout or sequence of str
        The table's layout, or the swept controls.

    Returns
    -------
    pandas.DataFrame
        The run's rows.
    """
    if not isinstance(layout, TableLayout):
        layout = TableLayout(layout)
    frame, rows = _statistics_frame(record, layout)
    measure_rows = _measure_rows(record, rows)
    measures = pd.DataFrame(
        {name: pd.Series([row.get(name) for row in measure_rows], dtype="object") for name in layout.measure_names},
        columns=layout.measure_names,
    )
    return pd.concat([pd.DataFrame(frame), measures], axis=1)[layout.columns()]


def make_table(records: Iterable[dict], layout: TableLayout | Sequence[str]) -> pd.DataFrame:
    """The sweep's table from its runs' records, in run order and step order; a
    measure's column as numbers where every value is one. Built a whole column at
    a time: inserting or converting columns one by one costs pandas time in
    proportion to the columns already there, which a measure of many makes quadratic.

    Parameters
    ----------
    records : iterable of dict
        The runs' records, in any order.
    layout : TableLayout or sequence of str
        The table's layout, or the swept controls.

    Returns
    -------
    pandas.DataFrame
        The sweep's table.

    Examples
    --------
    >>> list(make_table([], ["E_crAgs"]).columns[:2])
    ['run', 'E_crAgs']
    """
    records = sorted(records, key=lambda record: record["run"])
    if not isinstance(layout, TableLayout):
        layout = TableLayout(layout)
    for record in records:
        layout.take_measures(record)
    if not records:
        return pd.DataFrame(columns=layout.columns())
    frames, measure_rows = [], []
    for record in records:
        frame, rows = _statistics_frame(record, layout)
        frames.append(pd.DataFrame(frame))
        measure_rows.extend(_measure_rows(record, rows))
    table = pd.concat(frames, ignore_index=True)
    for name in layout.names:
        table[name] = _typed(table[name])
    measures = measure_table(measure_rows, layout.measure_names, table.index)
    return pd.concat([table, measures], axis=1)[layout.columns()]


def _typed(column):
    """A swept control's column as int64 where every value is an int, float64 where
    every value is a float (so that ``table.corr()`` takes it), else as objects.
    Only one Python type at a time: each value is still written as it was given,
    whether a batch of runs or the whole table is written."""
    kinds = set(map(type, column))
    if kinds == {int} and all(-(2**63) <= value < 2**63 for value in column):
        return column.astype("int64")
    if kinds == {float}:
        return column.astype("float64")
    return column


def write_journal_table(
    path: str | os.PathLike[str],
    layout: TableLayout | list[str],
    out: IO[str],
    *,
    keep_table: Callable[[pd.DataFrame], None] | None = None,
) -> None:
    """Writes the table of a journal's runs as CSV to the open file ``out``, a batch
    of runs at a time: the same text as ``make_table`` of all of them would give
    (the measures' columns are gathered from every run first). ``keep_table``, when
    given, is handed each batch's table too (for plots).

    Parameters
    ----------
    path : str or os.PathLike
        The journal.
    layout : TableLayout or list of str
        The table's layout, or the swept controls.
    out : file
        An open text file.
    keep_table : callable, optional
        Given each batch's table.

    Raises
    ------
    OSError
        The journal cannot be read or ``out`` written.
    """
    if not isinstance(layout, TableLayout):
        layout = TableLayout(layout)
    for records in journal_records(path):
        for record in records:
            layout.take_measures(record)
    header = True
    for records in journal_records(path):
        table = make_table(records, layout)
        table.to_csv(out, index=False, header=header)
        if keep_table is not None:
            keep_table(table)
        header = False
    if header:
        make_table([], layout).to_csv(out, index=False)
