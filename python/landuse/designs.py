"""Sampling designs: lists of points that ``landuse.sweep`` takes as it takes a
list of dicts.

    grid({"E_CProbab": [0.05, 0.1], "E_crAgs": [1, 3]})       # every combination
    latin_hypercube(ranges, n=20, seed=1)
    sobol(ranges, n=32, seed=1)                                # n a power of two
    random(ranges, n=20, seed=1)

``ranges`` maps each control to what it takes:

    (low, high)          a real, uniform in [low, high]
    (low, high, int)     a whole number, each of low..high equally likely
    [a, b, c]            one of the choices, each equally likely

e.g. ``{"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 10, int), "rb_rulette": [0, 1]}``.
The samples come from ``scipy.stats.qmc``, in the unit cube; each point keeps its
coordinates there (``design.coordinates``, one row per point), and a sweep of a
design records them as columns ``u_NAME`` beside the design's ``point`` index.
The same seed gives the same design.
"""

import functools
import math
import numbers

import numpy as np

# The most points a design is made with: each point is a dict held in memory (a
# million of three ranges take about 300 MB), so more is refused before any is made.
LARGEST_DESIGN = 10**6


class Design(list):
    """The points of a design (dicts of control values), with their coordinates in
    the unit cube (one row per point, one column per range, named ``u_NAME``)."""

    def __init__(self, points, names=(), coordinates=(), kind="grid"):
        super().__init__(points)
        self.kind = kind
        self.names = list(names)
        self.coordinate_names = [f"u_{name}" for name in self.names]
        self.coordinates = np.asarray(coordinates, dtype=float).reshape(len(self), len(self.names))

    def __repr__(self):
        return f"<landuse.designs.Design {self.kind}: {len(self)} points of {', '.join(self.names) or 'no range'}>"


class Range:
    """How one control's coordinate in [0, 1) becomes its value."""

    def __init__(self, name, spec):
        self.name = name
        if isinstance(spec, list):
            if not spec:
                raise ValueError(f"{name}: a list of choices cannot be empty")
            self.kind, self.choices = "choice", list(spec)
            _check_values(name, self.choices)
            return
        if not isinstance(spec, tuple) or len(spec) not in (2, 3) or (len(spec) == 3 and spec[2] is not int):
            raise ValueError(f"{name}: a range is (low, high), (low, high, int) or a list of choices, "
                             f"not {_shown(spec)}")
        low, high = spec[0], spec[1]
        if not all(isinstance(v, numbers.Real) and not isinstance(v, bool) and _finite(v) for v in (low, high)):
            raise ValueError(f"{name}: the bounds of a range are finite numbers, not {_shown(spec)}")
        if low > high:
            raise ValueError(f"{name}: the low bound {low} is above the high bound {high}")
        if len(spec) == 3:
            if low != int(low) or high != int(high):
                raise ValueError(f"{name}: the bounds of a whole-number range are whole numbers, "
                                 f"not {_shown(spec)}")
            self.kind, self.low, self.high = "int", int(low), int(high)
        else:
            self.kind, self.low, self.high = "real", float(low), float(high)
            # A width past the largest double makes every value infinite (or NaN), and every run fail.
            if not math.isfinite(self.high - self.low):
                raise ValueError(f"{name}: the range {low!r}..{high!r} is wider than the largest number, "
                                 f"{float(np.finfo(float).max)!r}")
        _check_values(name, (self.low, self.high))

    def value(self, u):
        if self.kind == "real":
            return self.low + u * (self.high - self.low)
        count = len(self.choices) if self.kind == "choice" else self.high - self.low + 1
        index = min(int(math.floor(u * count)), count - 1)
        return self.choices[index] if self.kind == "choice" else self.low + index


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
    from . import control_table

    return frozenset(control_table().index)


def _check_values(name, values):
    """A range's ends, or its choices, checked as the control of that name takes
    them, so that a value no run could take is refused before the design is made.
    A name that is no control is left to the sweep (a design may serve any function)."""
    from . import check_controls

    if name in _control_names():
        for value in values:
            try:
                check_controls({name: value})
            except (TypeError, ValueError) as e:
                raise type(e)(f"{name} = {_shown(value)}, from its range: {e}") from None


def _ranges(ranges):
    if not isinstance(ranges, dict) or not ranges:
        raise ValueError("ranges takes a dict of control names to ranges, with at least one range")
    return [Range(name, spec) for name, spec in ranges.items()]


def _count(n, per_point=1):
    """n as an int, refused unless 1 or more and, with ``per_point`` design points
    made for each, no more than LARGEST_DESIGN points in all."""
    if isinstance(n, bool) or not isinstance(n, numbers.Integral) or n < 1:
        raise ValueError(f"n takes a whole number of 1 or more, not {n!r}")
    check_design_size(int(n) * per_point)
    return int(n)


def check_design_size(points):
    if points > LARGEST_DESIGN:
        raise ValueError(f"a design of {points} points is more than the {LARGEST_DESIGN} a design takes "
                         "(landuse.designs.LARGEST_DESIGN)")


def from_unit_cube(ranges, unit, kind):
    """The design whose points lie at the rows of ``unit`` (coordinates in [0, 1))."""
    parsed = _ranges(ranges) if isinstance(ranges, dict) else ranges
    points = [{r.name: r.value(u) for r, u in zip(parsed, row)} for row in unit]
    return Design(points, [r.name for r in parsed], unit, kind)


def latin_hypercube(ranges, n, seed=None):
    """n points, each range cut into n equal strata and every stratum taken once."""
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    unit = qmc.LatinHypercube(d=len(parsed), seed=seed).random(_count(n))
    return from_unit_cube(parsed, unit, "latin_hypercube")


def sobol(ranges, n, seed=None):
    """n points of a scrambled Sobol' sequence; n must be a power of two, where the
    sequence is balanced."""
    from scipy.stats import qmc

    n = _count(n)
    if n & (n - 1):
        raise ValueError(f"a Sobol' design takes a power of two of points (e.g. {1 << n.bit_length()}), not {n}")
    parsed = _ranges(ranges)
    unit = qmc.Sobol(d=len(parsed), scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    return from_unit_cube(parsed, unit, "sobol")


def random(ranges, n, seed=None):
    """n points drawn independently and uniformly."""
    parsed = _ranges(ranges)
    unit = np.random.default_rng(seed).random((_count(n), len(parsed)))
    return from_unit_cube(parsed, unit, "random")


def grid(parameters):
    """Every combination of the value lists (the last name varying fastest), as a
    sweep of a dict of value lists makes them."""
    from .sweeps import SweepPoints

    points = SweepPoints(parameters)  # counted before any point is made
    check_design_size(points.count)
    return Design(points, kind="grid")


def from_table(design):
    """The design a TOML ``[design]`` table with its ``[ranges]`` asks for: kind
    (latin_hypercube, sobol, random), points, seed; ranges as [low, high],
    [low, high, "int"] or {choices = [...]}."""
    kinds = {"latin_hypercube": latin_hypercube, "sobol": sobol, "random": random}
    unknown = sorted(set(design) - {"kind", "points", "seed", "ranges"})
    if unknown:
        raise ValueError(f"[design]: unknown key(s) {', '.join(unknown)}; known: kind, points, seed, ranges")
    kind = design.get("kind")
    if kind not in kinds:
        raise ValueError(f"[design]: kind takes one of {', '.join(kinds)}, not {kind!r}")
    if "points" not in design:
        raise ValueError("[design]: points, the number of points, is missing")
    ranges = {}
    for name, spec in design.get("ranges", {}).items():
        if isinstance(spec, dict) and set(spec) == {"choices"}:
            ranges[name] = list(spec["choices"])
        elif isinstance(spec, list) and len(spec) == 3 and spec[2] == "int":
            ranges[name] = (spec[0], spec[1], int)
        elif isinstance(spec, list) and len(spec) == 2:
            ranges[name] = (spec[0], spec[1])
        else:
            raise ValueError(f"[ranges] {name}: takes [low, high], [low, high, \"int\"] or {{choices = [...]}}, "
                             f"not {_shown(spec)}")
    seed = design.get("seed")
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, int)):
        raise ValueError(f"[design]: seed takes a whole number, not {seed!r}")
    return kinds[kind](ranges, design["points"], seed)
