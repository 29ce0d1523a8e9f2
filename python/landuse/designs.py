"""Sampling designs: lists of points that ``landuse.sweep`` takes as it takes a
list of dicts.

    grid({"E_CProbab": [0.05, 0.1], "E_crAgs": [1, 3]})       # every combination
    latin_hypercube(ranges, n=20, seed=1)
    sobol_design(ranges, n=32, seed=1)                              # n a power of two
    random(ranges, n=20, seed=1)

``ranges`` maps each control to what it takes:

    (low, high)          a real, uniform in [low, high]
    (low, high, int)     a whole number, each of low..high equally likely
    [a, b, c]            one of the choices, each equally likely
    ("log", low, high)   a real whose logarithm is uniform (0 < low <= high)
    ("normal", mean, sd, low, high)
                         a normal of that mean and sd cut to [low, high]
                         (scipy.stats.truncnorm)

A spelled range may end with a function of the sampled value, which gives the
control's value: ``("log", 7, 700, decay_of_half_life)`` samples a half-life in
steps log-uniformly and gives the control the decay factor of that half-life.

e.g. ``{"E_CProbab": (0.01, 0.5), "E_crAgs": (1, 10, int), "rb_rulette": [0, 1]}``.
The samples come from ``scipy.stats.qmc``, in the unit cube; each point keeps its
coordinates there (``design.coordinates``, one row per point), and a sweep of a
design records them as columns ``u_NAME`` beside the design's ``point`` index.
The same seed gives the same design. ``grid`` takes ranges too, each cut into
``levels`` strata whose midpoints it maps as the designs map their samples.
"""

import functools
import math
import numbers

import numpy as np
from .errors import LanduseValueError

__all__ = [
    "LARGEST_DESIGN",
    "Design",
    "Range",
    "decay_of_half_life",
    "from_table",
    "from_unit_cube",
    "grid",
    "latin_hypercube",
    "random",
    "sobol_design",
]

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


def decay_of_half_life(half_life):
    """The factor a quantity decays by each step to halve in ``half_life`` steps."""
    return 0.5 ** (1.0 / half_life)


# Ranges spelled by their kind first, and how many numbers each takes.
SPELLED = {"uniform": 2, "int": 2, "log": 2, "normal": 4}


def _is_spelled_range(spec):
    return isinstance(spec, tuple) and bool(spec) and isinstance(spec[0], str) and spec[0] in SPELLED


class Range:
    """How one control's coordinate in [0, 1) becomes its value."""

    def __init__(self, name, spec):
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

    def value(self, u):
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
    if isinstance(n, bool) or not isinstance(n, numbers.Integral) or n < 1:
        raise LanduseValueError(f"n takes a whole number of 1 or more, not {n!r}")
    _check_design_size(int(n) * per_point)
    return int(n)


def _check_design_size(points):
    if points > LARGEST_DESIGN:
        raise LanduseValueError(
            f"a design of {points} points is more than the {LARGEST_DESIGN} a design takes "
            "(landuse.designs.LARGEST_DESIGN)"
        )


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


def sobol_design(ranges, n, seed=None):
    """n points of a scrambled Sobol' sequence; n must be a power of two, where the
    sequence is balanced."""
    from scipy.stats import qmc

    n = _count(n)
    if n & (n - 1):
        raise LanduseValueError(f"a Sobol' design takes a power of two of points (e.g. {1 << n.bit_length()}), not {n}")
    parsed = _ranges(ranges)
    unit = qmc.Sobol(d=len(parsed), scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    return from_unit_cube(parsed, unit, "sobol")


def random(ranges, n, seed=None):
    """n points drawn independently and uniformly."""
    parsed = _ranges(ranges)
    unit = np.random.default_rng(seed).random((_count(n), len(parsed)))
    return from_unit_cube(parsed, unit, "random")


def grid(parameters, levels=None):
    """Every combination of the value lists (the last name varying fastest), as a
    sweep of a dict of value lists makes them. A spelled range (``("log", 0.9,
    0.999)``, see above) takes ``levels`` values, the midpoints of as many equal
    strata of the unit cube mapped as the designs map them; the grid then keeps
    every point's coordinates, as a design does."""
    from .sweep.points import SweepPoints

    spelled = {name: spec for name, spec in parameters.items() if _is_spelled_range(spec)}
    if not spelled:
        points = SweepPoints(parameters)  # counted before any point is made
        _check_design_size(points.count)
        return Design(points, kind="grid")
    if levels is None:
        raise LanduseValueError(f"{', '.join(spelled)}: a range in a grid takes levels=, the values it is cut into")
    levels = _count(levels)
    lists = {
        name: (
            [spec] if not isinstance(spec, (list, tuple, range, np.ndarray)) or isinstance(spec, str) else list(spec)
        )
        for name, spec in parameters.items()
        if name not in spelled
    }
    _check_design_size(levels ** len(spelled) * math.prod(len(v) for v in lists.values()))
    mids = (np.arange(levels) + 0.5) / levels
    parsed = [Range(name, spec) for name, spec in spelled.items()]
    unit = np.array(np.meshgrid(*[mids] * len(parsed), indexing="ij")).reshape(len(parsed), -1).T
    points, coordinates = [], []
    for fixed in SweepPoints(lists) if lists else [{}]:
        for row in unit:
            point = dict(fixed)
            point.update({r.name: r.value(u) for r, u in zip(parsed, row)})
            points.append({name: point[name] for name in parameters})
            coordinates.append(row)
    return Design(points, [r.name for r in parsed], coordinates, "grid")


def from_table(design):
    """The design a TOML ``[design]`` table with its ``[ranges]`` asks for: kind
    (latin_hypercube, sobol, random: the kind "sobol" is sobol_design), points, seed; ranges as [low, high],
    [low, high, "int"], ["log", low, high], ["normal", mean, sd, low, high] or
    {choices = [...]}."""
    kinds = {"latin_hypercube": latin_hypercube, "sobol": sobol_design, "random": random}
    unknown = sorted(set(design) - {"kind", "points", "seed", "ranges"})
    if unknown:
        raise LanduseValueError(f"[design]: unknown key(s) {', '.join(unknown)}; known: kind, points, seed, ranges")
    kind = design.get("kind")
    if kind not in kinds:
        raise LanduseValueError(f"[design]: kind takes one of {', '.join(kinds)}, not {kind!r}")
    if "points" not in design:
        raise LanduseValueError("[design]: points, the number of points, is missing")
    ranges = {}
    for name, spec in design.get("ranges", {}).items():
        if isinstance(spec, dict) and set(spec) == {"choices"}:
            ranges[name] = list(spec["choices"])
        elif isinstance(spec, list) and spec and isinstance(spec[0], str) and spec[0] in SPELLED:
            ranges[name] = tuple(spec)
        elif isinstance(spec, list) and len(spec) == 3 and spec[2] == "int":
            ranges[name] = (spec[0], spec[1], int)
        elif isinstance(spec, list) and len(spec) == 2:
            ranges[name] = (spec[0], spec[1])
        else:
            raise LanduseValueError(
                f'[ranges] {name}: takes [low, high], [low, high, "int"], ["log", low, high], '
                f'["normal", mean, sd, low, high] or {{choices = [...]}}, '
                f"not {_shown(spec)}"
            )
    seed = design.get("seed")
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, int)):
        raise LanduseValueError(f"[design]: seed takes a whole number, not {seed!r}")
    return kinds[kind](ranges, design["points"], seed)
