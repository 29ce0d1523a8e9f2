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

from __future__ import annotations

from collections.abc import Iterable, Sequence
import math

import numpy as np
from numpy.typing import ArrayLike
from .errors import LanduseValueError
from .ranges import LARGEST_DESIGN, SPELLED, Range, _check_design_size, _count, _is_spelled_range, _ranges, _shown

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


class Design(list):
    """The points of a design (dicts of control values), with their coordinates in
    the unit cube (one row per point, one column per range, named ``u_NAME``).

    Parameters
    ----------
    points : iterable of dict
        The points.
    names : sequence of str, default ()
        The ranges' control names, in the coordinates' order.
    coordinates : array_like, default ()
        One row per point, one column per name.
    kind : str, default "grid"
        How the design was made.

    Examples
    --------
    >>> Design([{"E_crAgs": 1}], ["E_crAgs"], coordinates=[[0.5]], kind="random").coordinate_names
    ['u_E_crAgs']
    """

    def __init__(
        self, points: Iterable[dict], names: Sequence[str] = (), *, coordinates: ArrayLike = (), kind: str = "grid"
    ) -> None:
        """Keeps the points and their coordinates."""
        super().__init__(points)
        self.kind = kind
        self.names = list(names)
        self.coordinate_names = [f"u_{name}" for name in self.names]
        self.coordinates = np.asarray(coordinates, dtype=float).reshape(len(self), len(self.names))

    def __repr__(self) -> str:
        """The design in a line.

        Returns
        -------
        str
            The kind, the count and the ranges' names.
        """
        return f"<landuse.designs.Design {self.kind}: {len(self)} points of {', '.join(self.names) or 'no range'}>"


def decay_of_half_life(half_life: float) -> float:
    """The factor a quantity decays by each step to halve in ``half_life`` steps.

    Parameters
    ----------
    half_life : float
        Steps to halve in.

    Returns
    -------
    float
        The factor per step.

    Examples
    --------
    >>> decay_of_half_life(1)
    0.5
    """
    return 0.5 ** (1.0 / half_life)


def from_unit_cube(ranges: dict | list[Range], unit: ArrayLike, kind: str) -> Design:
    """The design whose points lie at the rows of ``unit`` (coordinates in [0, 1)).

    Parameters
    ----------
    ranges : dict or list of Range
        Control names to ranges: (low, high), (low, high, int), a list of
        choices, ("log", low, high) or ("normal", mean, sd, low, high).
    unit : array_like
        One row per point, one column per range.
    kind : str
        How the design was made.

    Returns
    -------
    Design
        The points.

    Examples
    --------
    >>> from_unit_cube({"E_noise": (0, 60)}, [[0.5]], "random")[0]
    {'E_noise': 30.0}
    """
    parsed = _ranges(ranges) if isinstance(ranges, dict) else ranges
    points = [{r.name: r.value(u) for r, u in zip(parsed, row)} for row in unit]
    return Design(points, [r.name for r in parsed], coordinates=unit, kind=kind)


def latin_hypercube(ranges: dict, n: int, seed: int | None = None) -> Design:
    """n points, each range cut into n equal strata and every stratum taken once.

    Parameters
    ----------
    ranges : dict
        Control names to ranges: (low, high), (low, high, int), a list of
        choices, ("log", low, high) or ("normal", mean, sd, low, high).
    n : int
        Points.
    seed : int, optional
        The sampler's seed.

    Returns
    -------
    Design
        The points.

    Raises
    ------
    LanduseValueError
        A range that is no range, or n out of range.

    Examples
    --------
    >>> len(latin_hypercube({"E_noise": (0, 60)}, 5, seed=1))
    5
    """
    from scipy.stats import qmc

    parsed = _ranges(ranges)
    unit = qmc.LatinHypercube(d=len(parsed), seed=seed).random(_count(n))
    return from_unit_cube(parsed, unit, "latin_hypercube")


def sobol_design(ranges: dict, n: int, seed: int | None = None) -> Design:
    """n points of a scrambled Sobol' sequence; n must be a power of two, where the
    sequence is balanced.

    Parameters
    ----------
    ranges : dict
        Control names to ranges: (low, high), (low, high, int), a list of
        choices, ("log", low, high) or ("normal", mean, sd, low, high).
    n : int
        Points, a power of two.
    seed : int, optional
        The scrambling's seed.

    Returns
    -------
    Design
        The points.

    Raises
    ------
    LanduseValueError
        A range that is no range, or n no power of two.

    Examples
    --------
    >>> len(sobol_design({"E_noise": (0, 60)}, 8, seed=1))
    8
    """
    from scipy.stats import qmc

    n = _count(n)
    if n & (n - 1):
        raise LanduseValueError(f"a Sobol' design takes a power of two of points (e.g. {1 << n.bit_length()}), not {n}")
    parsed = _ranges(ranges)
    unit = qmc.Sobol(d=len(parsed), scramble=True, seed=seed).random_base2(n.bit_length() - 1)
    return from_unit_cube(parsed, unit, "sobol")


def random(ranges: dict, n: int, seed: int | None = None) -> Design:
    """n points drawn independently and uniformly.

    Parameters
    ----------
    ranges : dict
        Control names to ranges: (low, high), (low, high, int), a list of
        choices, ("log", low, high) or ("normal", mean, sd, low, high).
    n : int
        Points.
    seed : int, optional
        The generator's seed.

    Returns
    -------
    Design
        The points.

    Raises
    ------
    LanduseValueError
        A range that is no range, or n out of range.

    Examples
    --------
    >>> random({"E_crAgs": (1, 3, int)}, 2, seed=1).kind
    'random'
    """
    parsed = _ranges(ranges)
    unit = np.random.default_rng(seed).random((_count(n), len(parsed)))
    return from_unit_cube(parsed, unit, "random")


def grid(parameters: dict, levels: int | None = None) -> Design:
    """Every combination of the value lists (the last name varying fastest), as a
    sweep of a dict of value lists makes them. A spelled range (``("log", 0.9,
    0.999)``, see above) takes ``levels`` values, the midpoints of as many equal
    strata of the unit cube mapped as the designs map them; the grid then keeps
    every point's coordinates, as a design does.

    Parameters
    ----------
    parameters : dict
        Value lists, single values or spelled ranges, by control name.
    levels : int, optional
        How many values each spelled range is cut into.

    Returns
    -------
    Design
        Every combination.

    Raises
    ------
    LanduseValueError
        A spelled range without levels, or too large a grid.

    Examples
    --------
    >>> [p["E_crAgs"] for p in grid({"E_crAgs": [1, 2], "Edit_size": 10})]
    [1, 2]
    """
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
    return Design(points, [r.name for r in parsed], coordinates=coordinates, kind="grid")


def from_table(design: dict) -> Design:
    """The design a TOML ``[design]`` table with its ``[ranges]`` asks for: kind
    (latin_hypercube, sobol, random: the kind "sobol" is sobol_design), points, seed; ranges as [low, high],
    [low, high, "int"], ["log", low, high], ["normal", mean, sd, low, high] or
    {choices = [...]}.

    Parameters
    ----------
    design : dict
        The ``[design]`` table with its ``ranges``.

    Returns
    -------
    Design
        The points.

    Raises
    ------
    LanduseValueError
        An unknown key or kind, no points, or a range of no known shape.

    Examples
    --------
    >>> len(from_table({"kind": "sobol", "points": 4, "ranges": {"E_noise": [0, 60]}}))
    4
    """
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
