"""A design's ranges: how one control's coordinate in the unit cube becomes its
value (see ``landuse.designs`` for the ranges a design takes)."""

from __future__ import annotations

import functools
import math
import numbers
from typing import Any

import numpy as np

from .errors import LanduseValueError, check_count

__all__ = ["LARGEST_DESIGN", "SPELLED", "Range"]

# The most points a design is made with: each point is a dict held in memory (a
# million of three ranges take about 300 MB), so more is refused before any is made.
LARGEST_DESIGN = 10**6


# Ranges spelled by their kind first, and how many numbers each takes.
SPELLED = {"uniform": 2, "int": 2, "log": 2, "normal": 4}


def _is_spelled_range(spec):
    return isinstance(spec, tuple) and bool(spec) and isinstance(spec[0], str) and spec[0] in SPELLED


class Range:
    """How one control's coordinate in [0, 1) becomes its value.

    Parameters
    ----------
    name : str
        The control.
    spec : tuple or list
        (low, high), (low, high, int), a list of choices, ("log", low, high) or
        ("normal", mean, sd, low, high), perhaps with a function of the value last.

    Raises
    ------
    LanduseValueError
        A range of no shape above, or bounds out of order.

    Examples
    --------
    >>> Range("E_crAgs", (1, 4, int)).value(0.99)
    4
    """

    def __init__(self, name: str, spec: tuple | list) -> None:
        """Reads the range."""
        self.name = name
        self.then = None
        if isinstance(spec, list):
            if not spec:
                raise LanduseValueError(f"{name}: a list of choices cannot be empty")
            self.kind, self.choices = "choice", list(spec)
            _check_values(name, self.choices)
            return
        if _is_spelled_range(spec):
            self._spelled(name, spec)
            return
        if not isinstance(spec, tuple) or len(spec) not in (2, 3) or (len(spec) == 3 and spec[2] is not int):
            raise LanduseValueError(
                f"{name}: a range is (low, high), (low, high, int), a list of choices, "
                f'("log", low, high) or ("normal", mean, sd, low, high), not {_shown(spec)}'
            )
        self._bounds(name, spec, spec[0], spec[1], "int" if len(spec) == 3 else "real")
        _check_values(name, (self.low, self.high))

    def _bounds(self, name, spec, low, high, kind):
        if not all(isinstance(v, numbers.Real) and not isinstance(v, bool) and _finite(v) for v in (low, high)):
            raise LanduseValueError(f"{name}: the bounds of a range are finite numbers, not {_shown(spec)}")
        if low > high:
            raise LanduseValueError(f"{name}: the low bound {low} is above the high bound {high}")
        if kind == "int":
            if low != int(low) or high != int(high):
                raise LanduseValueError(
                    f"{name}: the bounds of a whole-number range are whole numbers, " f"not {_shown(spec)}"
                )
            self.kind, self.low, self.high = "int", int(low), int(high)
            return
        self.kind, self.low, self.high = kind, float(low), float(high)
        # A width past the largest double makes every value infinite (or NaN), and every run fail.
        if not math.isfinite(self.high - self.low):
            raise LanduseValueError(
                f"{name}: the range {low!r}..{high!r} is wider than the largest number, "
                f"{float(np.finfo(float).max)!r}"
            )

    def _spelled(self, name, spec):
        kind, count = spec[0], SPELLED[spec[0]]
        numbers_given = spec[1 : 1 + count]
        rest = spec[1 + count :]
        if len(numbers_given) != count or len(rest) > 1 or (rest and not callable(rest[0])):
            raise LanduseValueError(
                f"{name}: a {kind!r} range takes {count} numbers and perhaps a function of the "
                f"value, not {_shown(spec)}"
            )
        self.then = rest[0] if rest else None
        if kind == "normal":
            mean, sd, low, high = numbers_given
            if (
                not all(isinstance(v, numbers.Real) and not isinstance(v, bool) and _finite(v) for v in (mean, sd))
                or sd <= 0
            ):
                raise LanduseValueError(
                    f"{name}: a normal range takes a finite mean and an sd above 0, not {_shown(spec)}"
                )
            self._bounds(name, spec, low, high, "normal")
            if self.low == self.high:
                raise LanduseValueError(f"{name}: a normal range needs low below high, not {_shown(spec)}")
            from scipy.stats import truncnorm

            self.distribution = truncnorm((self.low - mean) / sd, (self.high - mean) / sd, loc=mean, scale=sd)
        else:
            self._bounds(name, spec, *numbers_given, {"uniform": "real", "int": "int", "log": "log"}[kind])
            if kind == "log" and self.low <= 0:
                raise LanduseValueError(f"{name}: a log range takes bounds above 0, not {_shown(spec)}")
        _check_values(name, [self._then(v) for v in (self.low, self.high)])

    def _then(self, value):
        return value if self.then is None else self.then(value)

    def value(self, u: float) -> Any:
        """The value at coordinate ``u``.

        Parameters
        ----------
        u : float
            A coordinate in [0, 1).

        Returns
        -------
        int, float or object
            The control's value.
        """
        if self.kind == "real":
            return self._then(self.low + u * (self.high - self.low))
        if self.kind == "log":
            return self._then(float(self.low * (self.high / self.low) ** u))
        if self.kind == "normal":
            return self._then(float(np.clip(self.distribution.ppf(u), self.low, self.high)))
        count = len(self.choices) if self.kind == "choice" else self.high - self.low + 1
        index = min(int(math.floor(u * count)), count - 1)
        return self.choices[index] if self.kind == "choice" else self._then(self.low + index)


def _shown(value, length=80):
    """A value as an error shows it, cut after ``length`` characters."""
    text = repr(value)
    return text if len(text) <= length else text[:length] + "\u2026"


def _finite(value):
    """Whether a number is finite and a double can hold it (a whole number of any size can be given)."""
    try:
        return math.isfinite(value)
    except OverflowError:
        return False


@functools.lru_cache(maxsize=1)
def _control_names():
    from .controls import control_table

    return frozenset(control_table().index)


def _check_values(name, values):
    """A range's ends, or its choices, checked as the control of that name takes
    them, so that a value no run could take is refused before the design is made.
    A name that is no control is left to the sweep (a design may serve any function)."""
    from .controls import check_controls

    if name in _control_names():
        for value in values:
            try:
                check_controls({name: value})
            except (TypeError, ValueError) as e:
                raise type(e)(f"{name} = {_shown(value)}, from its range: {e}") from None


def _ranges(ranges):
    if not isinstance(ranges, dict) or not ranges:
        raise LanduseValueError("ranges takes a dict of control names to ranges, with at least one range")
    return [Range(name, spec) for name, spec in ranges.items()]


def _count(n, per_point=1):
    """n as an int, refused unless 1 or more and, with ``per_point`` design points
    made for each, no more than LARGEST_DESIGN points in all."""
    n = check_count(n, "n")
    _check_design_size(n * per_point)
    return n


def _check_design_size(points):
    if points > LARGEST_DESIGN:
        raise LanduseValueError(
            f"a design of {points} points is more than the {LARGEST_DESIGN} a design takes "
            "(landuse.designs.LARGEST_DESIGN)"
        )
