"""Measures of one's own and stop conditions, for a run and for every run of a sweep.

A measure is a function ``f(sim) -> dict`` of column names to plain values
(numbers, texts, booleans), evaluated every ``every`` steps and at the last step;
a stop condition is a function ``g(sim) -> bool``, evaluated at the same steps,
that ends the run when it returns true. Both may read anything of the run:
``cells()``, ``agents()``, ``statistics``, the land-use counts among them.

For the command line, a stop condition is written as text in a small grammar
(never given to ``eval``)::

    condition  := clause ("or" clause)*
    clause     := comparison ("and" comparison)*
    comparison := COLUMN OPERATOR NUMBER
    OPERATOR   := "<" | "<=" | ">" | ">=" | "==" | "!="

where COLUMN is a column of the statistics (``agents``, ``residential``, ...)
read at the step just completed, e.g. ``"agents >= 2000"`` or
``"residential > 500 and step >= 100"``; ``and`` binds tighter than ``or``.

The pattern of land use is a measure ready made: ``patterns`` (every measure of
``landuse.PATTERN_MEASURES`` at the default track threshold) or
``patterns_with(track_threshold=T)``. A sweep file names measures by their name
in ``NAMED_MEASURES``.
"""

from __future__ import annotations

import numbers
from collections.abc import Callable, Collection
from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd

from .errors import LanduseError, LanduseTypeError, check_count
from .pattern_measures import (
    NAMED_MEASURES,
    PatternsWith,
    check_track_threshold,
    named_measures,
    patterns,
    patterns_with,
)
from .stop_conditions import OPERATORS, SHOWN_TEXT, StopCondition, StopConditionError, _shown

if TYPE_CHECKING:
    from .simulation import Simulation

__all__ = [
    "NAMED_MEASURES",
    "OPERATORS",
    "SHOWN_TEXT",
    "MeasureError",
    "PatternsWith",
    "StopCondition",
    "StopConditionError",
    "check_every",
    "check_functions",
    "check_track_threshold",
    "function_name",
    "measure_table",
    "named_measures",
    "patterns",
    "patterns_with",
    "step_measured",
]


def function_name(function: Callable[..., Any]) -> str:
    """How an error names a measure or a stop condition.

    Parameters
    ----------
    function : callable
        A measure or a stop condition.

    Returns
    -------
    str
        Its qualified name, or its repr.

    Examples
    --------
    >>> function_name(StopCondition("agents > 3"))
    "StopCondition('agents > 3')"
    """
    if isinstance(function, StopCondition):
        return f"StopCondition({_shown(function.text)})"
    return getattr(function, "__qualname__", None) or getattr(function, "__name__", None) or repr(function)


class MeasureError(LanduseError):
    """A measure or a stop condition that raised or returned what a table cannot hold."""


def _plain_value(name, value, function):
    if isinstance(value, np.generic):
        value = value.item()
    if value is None or isinstance(value, (bool, numbers.Real, str)):
        return value
    raise MeasureError(
        f"{function_name(function)}: the measure {name!r} is a {type(value).__name__}, "
        "not a number, a text or a boolean"
    )


def _measure_column(values):
    """A measure's column (a list, None where not measured) as numbers where every
    value is one (as pandas' to_numeric reads them), else as objects. Plain ints and
    floats, the common case, are read without pandas: its cost per call would make a
    measure of many columns slow to tabulate."""
    kinds = {type(value) for value in values}
    if kinds == {int} and all(-(2**63) <= value < 2**63 for value in values):
        return np.array(values, dtype=np.int64)
    if (kinds and kinds <= {float, type(None)}) or (
        kinds == {int, type(None)} and all(value is None or -(2**53) <= value <= 2**53 for value in values)
    ):
        return np.array([np.nan if value is None else value for value in values], dtype=np.float64)
    column = pd.Series(values, dtype="object")
    numeric = pd.to_numeric(column, errors="coerce")
    return numeric if numeric.notna().sum() == column.notna().sum() else column


def measure_table(rows: list[dict[str, Any]], names: list[str], index: pd.Index | None = None) -> pd.DataFrame:
    """The measures' columns of a table, all at once: ``rows`` holds each row's
    {name: value}, ``names`` the columns in order.

    Parameters
    ----------
    rows : list of dict
        Each row's measures by name ({} for a row not measured).
    names : list of str
        The columns, in order.
    index : pandas.Index, optional
        The table's index.

    Returns
    -------
    pandas.DataFrame
        A column per name, as numbers where every value is one.

    Examples
    --------
    >>> measure_table([{"a": 1}, {}], ["a"])["a"].tolist()
    [1.0, nan]
    """
    return pd.DataFrame(
        {name: _measure_column([row.get(name) for row in rows]) for name in names}, index=index, columns=list(names)
    )


def _evaluate(measures, sim, reserved):
    """The measures' values at this step: {column: value}."""
    try:
        values = measures(sim)
    except Exception as e:
        raise MeasureError(f"{function_name(measures)} raised {type(e).__name__}: {e}") from None
    if not isinstance(values, dict):
        raise MeasureError(f"{function_name(measures)} returned a {type(values).__name__}, not a dict")
    plain = {}
    for name, value in values.items():
        if not isinstance(name, str) or name in reserved:
            raise MeasureError(
                f"{function_name(measures)}: {name!r} cannot be a measure's column "
                "(it is a column of the table already)"
                if isinstance(name, str)
                else f"{function_name(measures)}: a measure's name is a text, not {name!r}"
            )
        plain[name] = _plain_value(name, value, measures)
    return plain


def _should_stop(stop_when, sim):
    try:
        return bool(stop_when(sim))
    except Exception as e:
        raise MeasureError(f"{function_name(stop_when)} raised {type(e).__name__}: {e}") from None


def check_every(every: int) -> int:
    """An evaluation interval, checked.

    Parameters
    ----------
    every : int
        How often measures are evaluated.

    Returns
    -------
    int
        ``every`` as an int.

    Raises
    ------
    LanduseValueError
        Anything but a whole number of 1 or more.

    Examples
    --------
    >>> check_every(5)
    5
    """
    return check_count(every, "every")


def check_functions(
    measures: Callable[[Simulation], dict] | None, stop_when: Callable[[Simulation], bool] | str | None
) -> tuple[Callable[[Simulation], dict] | None, Callable[[Simulation], bool] | None]:
    """A measure and a stop condition, checked.

    Parameters
    ----------
    measures : callable or None
        ``f(sim) -> dict``.
    stop_when : callable, str or None
        ``g(sim) -> bool``, or a condition's text.

    Returns
    -------
    tuple
        The measures and the stop condition, a text made a ``StopCondition``.

    Raises
    ------
    LanduseTypeError
        Either one not callable.
    StopConditionError
        A condition's text the grammar does not take.

    Examples
    --------
    >>> check_functions(None, "agents > 3")
    (None, StopCondition('agents > 3'))
    """
    if measures is not None and not callable(measures):
        raise LanduseTypeError(f"measures takes a function sim -> dict, not {measures!r}")
    if isinstance(stop_when, str):
        stop_when = StopCondition(stop_when)
    if stop_when is not None and not callable(stop_when):
        raise LanduseTypeError(f"stop_when takes a function sim -> bool or a condition's text, not {stop_when!r}")
    return measures, stop_when


def step_measured(
    sim: Simulation,
    steps: int,
    *,
    measures: Callable[[Simulation], dict] | None = None,
    every: int = 1,
    stop_when: Callable[[Simulation], bool] | None = None,
    reserved: Collection[str] = (),
) -> tuple[dict[int, dict[str, Any]], bool]:
    """Runs ``steps`` steps of sim, evaluating the measures and the stop condition
    after every ``every``-th step of the run (by its step count) and after the last
    step. Returns ({step: {column: value}}, stopped): the measures by step, and
    whether the stop condition ended the run. A measure or stop condition that
    raises ends it with MeasureError; the steps run stay in sim.statistics.

    Parameters
    ----------
    sim : Simulation
        The run.
    steps : int
        Steps to run.
    measures : callable, optional
        ``f(sim) -> dict``.
    every : int, default 1
        How often (by the run's step count) both are evaluated.
    stop_when : callable, optional
        ``g(sim) -> bool``.
    reserved : collection of str, default ()
        Names a measure may not take.

    Returns
    -------
    tuple of (dict, bool)
        The measures by step, and whether the stop condition ended the run.

    Raises
    ------
    MeasureError
        A measure or stop condition that raised or returned what is no measure.

    Examples
    --------
    >>> measured, stopped = step_measured(Simulation(Edit_size=10), 4, measures=lambda s: {"n": 1}, every=2)
    >>> measured, stopped
    ({2: {'n': 1}, 4: {'n': 1}}, False)
    """
    measured, stopped = {}, False
    target = sim.step_count + steps
    while sim.step_count < target:
        left = target - sim.step_count
        to_next = every - sim.step_count % every
        sim.step(min(left, to_next))
        due = sim.step_count % every == 0 or sim.step_count == target
        if not due:
            continue
        if stop_when is not None and _should_stop(stop_when, sim):
            stopped = True
        if measures is not None:
            measured[sim.step_count] = _evaluate(measures, sim, reserved)
        if stopped:
            break
    return measured, stopped
