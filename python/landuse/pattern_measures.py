"""The pattern of land use as a measure ready made (``patterns``, at the default
track threshold, or ``patterns_with(track_threshold=T)``), and the measures a
sweep file names (``NAMED_MEASURES``)."""

from __future__ import annotations

import numbers
from collections.abc import Callable
from typing import TYPE_CHECKING

import numpy as np

from .controls import DEFAULT_TRACK_THRESHOLD
from .errors import LanduseValueError

if TYPE_CHECKING:
    from .simulation import Simulation

__all__ = ["NAMED_MEASURES", "PatternsWith", "check_track_threshold", "named_measures", "patterns", "patterns_with"]


def patterns(sim: Simulation) -> dict[str, float]:
    """The pattern measures of the run as it stands (``Simulation.patterns()``), as a
    measure: ``sim.run(measures=landuse.patterns)``, ``landuse.sweep(..., measures=landuse.patterns)``.

    Parameters
    ----------
    sim : Simulation
        The run.

    Returns
    -------
    dict of str to float
        Every pattern measure by name.

    Examples
    --------
    >>> table = Simulation(Edit_size=10).run(4, measures=patterns, every=2)
    >>> "built_aggregation" in table
    True
    """
    return sim.patterns()


class PatternsWith:
    """``patterns`` at a track threshold of one's own; picklable, so it travels to a
    sweep's workers, and named by its threshold in errors and journals.

    Parameters
    ----------
    track_threshold : float
        The all-tracks value from which a cell is a track cell.

    Raises
    ------
    LanduseValueError
        A threshold that is no finite number.

    Examples
    --------
    >>> PatternsWith(30)
    patterns_with(track_threshold=30.0)
    """

    def __init__(self, track_threshold: float) -> None:
        """Checks the threshold."""
        self.track_threshold = check_track_threshold(track_threshold)

    def __call__(self, sim: Simulation) -> dict[str, float]:
        """The pattern measures of the run at this threshold.

        Parameters
        ----------
        sim : Simulation
            The run.

        Returns
        -------
        dict of str to float
            Every pattern measure by name.
        """
        return sim.patterns(self.track_threshold)

    def __repr__(self) -> str:
        """The measure as code that makes it again.

        Returns
        -------
        str
            ``patterns_with(track_threshold=T)``.
        """
        return f"patterns_with(track_threshold={self.track_threshold!r})"


def patterns_with(track_threshold: float = DEFAULT_TRACK_THRESHOLD) -> PatternsWith:
    """The measure ``patterns`` with cells counted as tracks from an all-tracks value
    of ``track_threshold`` (the runner's ``--track-threshold``).

    Parameters
    ----------
    track_threshold : float, default DEFAULT_TRACK_THRESHOLD
        The all-tracks value from which a cell is a track cell.

    Returns
    -------
    PatternsWith
        The measure, picklable.

    Raises
    ------
    LanduseValueError
        A threshold that is no finite number.

    Examples
    --------
    >>> patterns_with(track_threshold=30)
    patterns_with(track_threshold=30.0)
    """
    return PatternsWith(track_threshold)


def check_track_threshold(value: float) -> float:
    """A track threshold, checked.

    Parameters
    ----------
    value : float
        A track threshold.

    Returns
    -------
    float
        The threshold as a float.

    Raises
    ------
    LanduseValueError
        A value that is no finite number.

    Examples
    --------
    >>> check_track_threshold(22)
    22.0
    """
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or not np.isfinite(float(value)):
        raise LanduseValueError(f"track_threshold takes a finite number, not {value!r}")
    return float(value)


# The measures a sweep file may name, by name.
NAMED_MEASURES = {"patterns": patterns}


def named_measures(names: list[str], track_threshold: float | None = None) -> Callable[[Simulation], dict] | None:
    """The measure the names of ``NAMED_MEASURES`` make together (None for no
    names); ``track_threshold`` is that of ``patterns``. An unknown name raises
    ``ValueError`` listing the known ones.

    Parameters
    ----------
    names : list of str
        Names of ``NAMED_MEASURES``.
    track_threshold : float, optional
        The track threshold of ``patterns``.

    Returns
    -------
    callable or None
        The measure, or None for no names.

    Raises
    ------
    LanduseValueError
        An unknown name, a name twice, or a threshold without ``patterns``.

    Examples
    --------
    >>> named_measures(["patterns"], 30)
    patterns_with(track_threshold=30.0)
    """
    if isinstance(names, str) or not isinstance(names, (list, tuple)) or not all(isinstance(n, str) for n in names):
        raise LanduseValueError(f"measures takes a list of measure names ({', '.join(NAMED_MEASURES)}), not {names!r}")
    unknown = [name for name in names if name not in NAMED_MEASURES]
    if unknown:
        raise LanduseValueError(
            f"{', '.join(map(repr, unknown))}: no measure of that name " f"(known: {', '.join(NAMED_MEASURES)})"
        )
    if len(set(names)) != len(names):
        raise LanduseValueError(f"measures {names!r}: a name given twice")
    if track_threshold is not None and "patterns" not in names:
        raise LanduseValueError("track_threshold is a setting of the measure patterns, which measures does not name")
    if not names:
        return None
    # One name is all there is to name so far: patterns.
    return patterns if track_threshold is None else patterns_with(track_threshold)
