"""What a sensitivity analysis, a screening or a calibration measures of a run:
an output's text ("residential at step 400") read, and the measures that give
the outputs asked for, checked before any run."""

from __future__ import annotations

import re
from collections.abc import Callable
from typing import TYPE_CHECKING

import pandas as pd

from .controls import PATTERN_MEASURES, STATISTICS_COLUMNS
from .errors import LanduseValueError
from .sweep.results import as_table

if TYPE_CHECKING:
    from .simulation import Simulation

__all__ = ["Output", "wanted_outputs"]

_AT_STEP = re.compile(r"^\s*([A-Za-z_][A-Za-z_0-9.]*)\s*(?:at\s+step\s+(\d+))?\s*$")


class Output:
    """What a sensitivity analysis measures of a run: a statistics column or a
    measure's column, at a step ("residential at step 400") or at each run's last
    step ("residential").

    Parameters
    ----------
    text : str
        "COLUMN" or "COLUMN at step N".

    Raises
    ------
    LanduseValueError
        A text of neither form.

    Examples
    --------
    >>> output = Output("residential at step 400")
    >>> output.column, output.step
    ('residential', 400)
    """

    def __init__(self, text: str) -> None:
        """Reads the output's text."""
        match = _AT_STEP.match(text) if isinstance(text, str) else None
        if not match:
            raise LanduseValueError(f"output takes 'COLUMN' or 'COLUMN at step N', not {text!r}")
        self.text = text
        self.column = match.group(1)
        self.step = None if match.group(2) is None else int(match.group(2))

    def of_runs(self, table: pd.DataFrame) -> pd.Series:
        """The output of every run of a sweep's table, by run.

        Parameters
        ----------
        table : pandas.DataFrame
            A sweep's table.

        Returns
        -------
        pandas.Series
            The output by run, as floats.

        Raises
        ------
        LanduseValueError
            No such column, runs that failed, or a run without a value at the step.
        """
        table = as_table(table)  # a store's Dataset made into the sweep's table
        if self.column not in table.columns:
            raise LanduseValueError(f"output {self.text!r}: the table has no column {self.column!r}")
        failed = table.loc[table["error"] != "", "run"].unique()
        if len(failed):
            errors = table.loc[table["error"] != "", "error"].iloc[0]
            raise LanduseValueError(f"{len(failed)} run(s) failed, e.g. run {failed[0]}: {errors}")
        rows = table if self.step is None else table[table["step"] == self.step]
        rows = rows.dropna(subset=[self.column])
        values = rows.groupby("run")[self.column].last()
        missing = sorted(set(table["run"]) - set(values.index))
        if missing:
            where = f"at step {self.step}" if self.step is not None else "at its last step"
            raise LanduseValueError(f"output {self.text!r}: run {missing[0]} has no value {where}")
        return values.astype(float)


def wanted_outputs(
    output: str | list[str], measures: Callable[[Simulation], dict] | None, steps: int | None
) -> tuple[list[Output], Callable[[Simulation], dict] | None]:
    """The outputs an analysis asks for (a text or a list of texts) and the
    measures that give them: the pattern measures when an output names one and no
    measures are given. Mistakes the runs would show only at their end (a column
    nothing gives, a step past the last) are refused before them.

    Parameters
    ----------
    output : str or list of str
        The outputs' texts.
    measures : callable or None
        The analysis's measures.
    steps : int or None
        Steps per run.

    Returns
    -------
    tuple
        The outputs and the measures that give them.

    Raises
    ------
    LanduseValueError
        No output, a column nothing gives, or a step past the runs' end.

    Examples
    --------
    >>> wanted, measures = wanted_outputs("residential at step 5", None, 10)
    >>> wanted[0].step, measures
    (5, None)
    """
    texts = [output] if isinstance(output, str) else list(output)
    if not texts:
        raise LanduseValueError("output takes an output or a list of them, not an empty list")
    wanted = [Output(text) for text in texts]
    if measures is None and any(w.column in PATTERN_MEASURES.index for w in wanted):
        from .measures import patterns as measures
    for w in wanted:
        if measures is None and w.column not in STATISTICS_COLUMNS:
            raise LanduseValueError(
                f"output {w.text!r}: {w.column!r} is no statistics column "
                f"({', '.join(STATISTICS_COLUMNS)}), no pattern measure and no measures are given"
            )
        if steps is not None and w.step is not None and w.step > steps:
            raise LanduseValueError(f"output {w.text!r}: the runs end at step {steps}, before step {w.step}")
    return wanted, measures
