"""A sweep's points (a grid of value lists, a list of points or a design) and the
plan every run follows; both checked before any run."""

from __future__ import annotations

import difflib
import functools
import hashlib
import json
import math
import numbers
import re
from collections.abc import Callable, Iterable, Iterator, Mapping
from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd

from .._core import __version__
from ..controls import LARGEST_STEP, STATISTICS_COLUMNS, STATISTICS_DTYPES, check_controls, control_table, control_text
from ..errors import LanduseTypeError, LanduseValueError, check_count
from ..measures import StopCondition, check_every, check_functions, function_name

if TYPE_CHECKING:
    from ..simulation import Simulation

__all__ = [
    "KEEP_CHOICES",
    "LARGEST_SWEEP",
    "RESERVED_COLUMNS",
    "RUN_COLUMNS",
    "RunPlan",
    "SweepPoints",
    "check_replicates",
    "check_run_count",
    "sweep_points",
    "value_in_effect",
]

STATISTICS_INTEGERS = [name for name in STATISTICS_COLUMNS if STATISTICS_DTYPES[name] == "int64"]
# Around the swept controls' columns: before them "run", after them these, then the statistics and "error".
RUN_COLUMNS = ["replicate", "seed", "version", "draws"]
RESERVED_COLUMNS = {"run", "point", *RUN_COLUMNS, *STATISTICS_COLUMNS, "stopped", "error"}
KEEP_CHOICES = ("every", "final")
# Seconds to wait for a scheduler that does not answer.
CONNECT_TIMEOUT = 10
# The most runs (points times replicates) one sweep takes: the client keeps a byte
# per run, and a journal some kilobytes, so more is a mistake rather than a plan.
LARGEST_SWEEP = 10**8


def _value_list(name, value):
    """A swept control's values: a list, tuple, range, 1-D numpy array or pandas
    Series/Index; anything else is one value for every point."""
    if isinstance(value, (list, tuple, range, pd.Series, pd.Index)):
        return list(value)
    if isinstance(value, np.ndarray):
        if value.ndim != 1:
            raise LanduseTypeError(f"{name}: a list of values is one-dimensional, not an array of shape {value.shape}")
        return list(value)
    return [value]


class SweepPoints:
    """The points of a sweep: the names of the controls it sets, how many points,
    and the points one by one (a grid's are made as they are taken, so a grid of a
    million points costs no memory).

    ``parameters`` is a dict of value lists, whose full grid (in the dict's order,
    the last name varying fastest) is the sweep, or a list of dicts, one per point.
    In a dict, a value that is not a list is one value for every point.

    Every name must be a control of the model and every value one the control can
    hold, checked here before any run; a text that does not convert is found only
    in the run, which then records the error.

    Parameters
    ----------
    parameters : dict or list of dict
        Value lists by control name, or one dict per point; a design keeps its
        coordinates and first replicates.

    Raises
    ------
    LanduseValueError
        No point, a reserved column's name, an unknown control (with the nearest
        names) or a value a control cannot hold.
    LanduseTypeError
        Parameters of neither shape.

    Examples
    --------
    >>> points = SweepPoints({"E_crAgs": [1, 2], "Edit_size": 10})
    >>> len(points), list(points)
    (2, [{'E_crAgs': 1, 'Edit_size': 10}, {'E_crAgs': 2, 'Edit_size': 10}])
    """

    def __init__(self, parameters: Mapping[str, Any] | Iterable[Mapping[str, Any]]) -> None:
        """Checks every point before any run."""
        self.coordinate_names = list(getattr(parameters, "coordinate_names", []))
        self.coordinates = [list(map(float, row)) for row in getattr(parameters, "coordinates", [])]
        # A design may give each point replicates of its own: point i runs replicates first[i] .. first[i] + R - 1.
        self.first_replicates = [int(k) for k in getattr(parameters, "first_replicates", [])]
        if isinstance(parameters, dict):
            self.names = list(parameters)
            self._lists = [_value_list(name, values) for name, values in parameters.items()]
            self._points = None
            self.count = math.prod(len(values) for values in self._lists)
            checks = [{name: value} for name, values in zip(self.names, self._lists) for value in values]
        elif not isinstance(parameters, (str, bytes)) and hasattr(parameters, "__iter__"):
            self._points = list(parameters)
            if not all(isinstance(point, dict) for point in self._points):
                raise LanduseTypeError("parameters takes a dict of value lists or a list of dicts, one per point")
            self._points = [dict(point) for point in self._points]
            self.names = list(dict.fromkeys(name for point in self._points for name in point))
            self.count = len(self._points)
            checks = self._points
        else:
            raise LanduseTypeError("parameters takes a dict of value lists or a list of dicts, one per point")
        if self.count == 0:
            raise LanduseValueError("a sweep needs at least one point")
        taken = sorted(set(self.names) & RESERVED_COLUMNS)
        if taken:
            raise LanduseValueError(f"{', '.join(taken)}: a column of the result, not a control")
        known = set(control_table().index)
        unknown = [name for name in self.names if name not in known]
        if unknown:
            near = difflib.get_close_matches(str(unknown[0]), sorted(known), n=3, cutoff=0.75)
            hint = f"; did you mean {' or '.join(map(repr, near))}?" if near else ""
            raise LanduseValueError(
                f"{', '.join(map(str, unknown))}: no control of that name (see landuse.control_table()){hint}"
            )
        for point in checks:
            try:
                check_controls(point)
            except (TypeError, ValueError) as e:
                raise type(e)(f"{', '.join(point)}: {e}") from None

    def __len__(self) -> int:
        """The number of points."""
        return self.count

    def __iter__(self) -> Iterator[dict[str, Any]]:
        """The points, one by one."""
        if self._points is not None:
            yield from self._points
            return

        # Nested loops rather than itertools.product, which would hold every combination's index.
        def grid(level):
            if level == len(self._lists):
                yield {}
                return
            for value in self._lists[level]:
                for rest in grid(level + 1):
                    yield {self.names[level]: value, **rest}

        yield from grid(0)

    def coordinates_of(self, index: int) -> list[float]:
        """The design coordinates of point `index` ([] for a sweep that is no design).

        Parameters
        ----------
        index : int
            A point's index.

        Returns
        -------
        list of float
            Its coordinates.
        """
        return self.coordinates[index] if self.coordinates else []

    def replicate_of(self, index: int, replicate: int) -> int:
        """The replicate index the ``replicate``-th run of point ``index`` takes.

        Parameters
        ----------
        index : int
            A point's index.
        replicate : int
            Which of its runs, from 0.

        Returns
        -------
        int
            The replicate index, whose seed is ``replicate_seed`` of it.
        """
        return (self.first_replicates[index] if self.first_replicates else 0) + replicate

    def fingerprint(self, replicates: int, steps: Any) -> str:
        """A digest of everything that decides the sweep's runs, to tell whether a journal is this sweep's.

        Parameters
        ----------
        replicates : int
            Runs per point.
        steps : object
            What decides the runs' rows (``RunPlan.description()``).

        Returns
        -------
        str
            A SHA-256 digest in hex.
        """
        if self._points is None:
            values = [[control_text(value) for value in values] for values in self._lists]
        else:
            values = [
                [control_text(point[name]) if name in point else None for name in self.names] for point in self._points
            ]
        description = [
            __version__,
            replicates,
            steps,
            self._points is None,
            self.names,
            values,
            self.coordinate_names,
            self.coordinates,
        ]
        if self.first_replicates:  # only then, so that the journals of earlier sweeps still match
            description.append(self.first_replicates)
        return hashlib.sha256(json.dumps(description).encode()).hexdigest()


def check_replicates(replicates: int) -> int:
    """The replicates as an int, or ValueError.

    Parameters
    ----------
    replicates : int
        Runs per point.

    Returns
    -------
    int
        ``replicates`` as an int.

    Raises
    ------
    LanduseValueError
        Anything but a whole number of 1 or more.

    Examples
    --------
    >>> check_replicates(3)
    3
    """
    return check_count(replicates, "replicates")


def check_run_count(points: SweepPoints, replicates: int) -> int:
    """Raises ValueError for a sweep of more than LARGEST_SWEEP runs, before anything is made for them.

    Parameters
    ----------
    points : SweepPoints
        The sweep's points.
    replicates : int
        Runs per point.

    Returns
    -------
    int
        ``replicates`` as an int.

    Raises
    ------
    LanduseValueError
        Too many runs, or replicates out of range.

    Examples
    --------
    >>> check_run_count(SweepPoints({"E_crAgs": range(10**5)}), 10**4)
    Traceback (most recent call last):
    ...
    landuse.errors.LanduseValueError: a sweep of 100000 point(s) x 10000 replicate(s) is ...
    """
    replicates = check_replicates(replicates)
    runs = points.count * replicates  # not len(), which a grid of more than 2**63 points would overflow
    if runs > LARGEST_SWEEP:
        raise LanduseValueError(
            f"a sweep of {points.count} point(s) x {replicates} replicate(s) is {runs} runs, more than "
            f"the {LARGEST_SWEEP} a sweep takes (landuse.sweeps.LARGEST_SWEEP)"
        )
    return replicates


def sweep_points(parameters: Mapping[str, Any] | Iterable[Mapping[str, Any]]) -> list[dict[str, Any]]:
    """The sweep's points as a list of dicts (see ``SweepPoints``).

    Parameters
    ----------
    parameters : dict or list of dict
        As for ``SweepPoints``.

    Returns
    -------
    list of dict
        The points.

    Raises
    ------
    LanduseValueError
        As ``SweepPoints`` raises.

    Examples
    --------
    >>> sweep_points({"E_crAgs": [1, 2]})
    [{'E_crAgs': 1}, {'E_crAgs': 2}]
    """
    return list(SweepPoints(parameters))


def _plain(value):
    """A value as the plain Python type JSON writes and reads back unchanged."""
    return value.item() if isinstance(value, np.generic) else value


def value_in_effect(text: str) -> int | float | str:
    """A control's text as the number it reads as (a decimal comma read as a point), or the text.

    Parameters
    ----------
    text : str
        A control's text.

    Returns
    -------
    int, float or str
        The number, or the text.

    Examples
    --------
    >>> value_in_effect("0,5"), value_in_effect("12"), value_in_effect("abc")
    (0.5, 12, 'abc')
    """
    if re.fullmatch(r"[+-]?\d+", text.strip()):
        return int(text)
    try:
        return float(text.replace(",", "."))
    except ValueError:
        return text


@functools.lru_cache(maxsize=1)
def _defaults():
    return dict(control_table()["default"])


def _recorded_values(point, names, in_effect):
    """Each swept control's value for the table: as given where the model holds it as
    given, else the value in effect (and the change); the default in effect for a
    control this point leaves out. ``in_effect`` None (the run never got through its
    set-up): as given, and the table's default for a control left out."""
    values, changes = [], []
    for name in names:
        given = control_text(point[name]) if name in point else None
        if in_effect is not None:
            text = in_effect[name]
        else:
            text = given if given is not None else _defaults()[name]
        if given is not None and text == given:
            values.append(_plain(point[name]))
        else:
            values.append(value_in_effect(text))
            if given is not None:
                changes.append([name, given, text])
    return values, changes


class RunPlan:
    """What every run of a sweep does besides its point: how many steps, the
    measures and the stop condition with how often they are evaluated, and which
    rows it keeps ("every" step, or only the "final" one).

    Parameters
    ----------
    steps : int, optional
        Steps per run; None runs each to its stop time.
    measures : callable, optional
        ``f(sim) -> dict``.
    every : int, default 1
        How often measures and the stop condition are evaluated.
    stop_when : callable or str, optional
        ``g(sim) -> bool`` or a condition's text.
    keep : {"every", "final"} or list of int, default "every"
        Which rows each run keeps.

    Raises
    ------
    LanduseValueError
        Steps, every or keep out of range.
    LanduseTypeError
        Functions that are not callable.

    Examples
    --------
    >>> RunPlan(10, keep="final").description()
    [10, None, None, 1, 'final']
    """

    def __init__(
        self,
        steps: int | None = None,
        *,
        measures: Callable[[Simulation], dict] | None = None,
        every: int = 1,
        stop_when: Callable[[Simulation], bool] | str | None = None,
        keep: str | list[int] = "every",
    ) -> None:
        """Checks the plan."""
        if steps is not None and (
            isinstance(steps, bool) or not isinstance(steps, numbers.Integral) or not 0 <= steps <= LARGEST_STEP
        ):
            raise LanduseValueError(
                f"steps takes a whole number 0..{LARGEST_STEP} (the step count ends there), " f"not {steps!r}"
            )
        if isinstance(keep, (list, tuple)):
            # Only these steps' rows (and the last): a sensitivity analysis needs one step of every run, not all.
            if not all(isinstance(k, numbers.Integral) and not isinstance(k, bool) and k >= 0 for k in keep):
                raise LanduseValueError(f"keep takes 'every', 'final' or a list of steps, not {keep!r}")
            keep = sorted({int(k) for k in keep})
        elif keep not in KEEP_CHOICES:
            raise LanduseValueError(f"keep takes 'every', 'final' or a list of steps, not {keep!r}")
        self.steps = None if steps is None else int(steps)
        self.measures, self.stop_when = check_functions(measures, stop_when)
        self.every = check_every(every)
        self.keep = keep

    def description(self) -> list[Any]:
        """What decides the runs' rows, for the journal's fingerprint.

        Returns
        -------
        list
            Steps, the functions' names, every and keep.
        """
        # A stop condition whole (its repr), not cut as an error shows it: two long ones may begin alike.
        named = [
            None if f is None else repr(f) if isinstance(f, StopCondition) else function_name(f)
            for f in (self.measures, self.stop_when)
        ]
        return [self.steps, *named, self.every, self.keep]
