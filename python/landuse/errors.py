"""The errors and warnings of the package.

Every error the package raises on purpose is a ``LanduseError``; those about a
value also are ``ValueError``s and those about a type ``TypeError``s, so code that
catches the built-in kinds goes on catching them. The model's own errors
(``ConversionError``, ``ControlValueError``, ``RunStateError``) come from the
extension module with the same base.
"""

import numbers

from ._core import ConversionError, ControlValueError, LanduseError, RunStateError

__all__ = [
    "check_count",
    "ClusterError",
    "ControlChangedWarning",
    "ConversionError",
    "ControlValueError",
    "LanduseError",
    "LanduseTypeError",
    "LanduseValueError",
    "LanduseWarning",
    "RunStateError",
    "StreamOverlapWarning",
]


class LanduseValueError(LanduseError, ValueError):
    """A value the package does not take: an argument out of its range, a damaged
    file, a sweep that cannot be run as given."""


class LanduseTypeError(LanduseError, TypeError):
    """An argument of a type the package does not take."""


class ClusterError(LanduseError, RuntimeError):
    """The local Dask cluster could not be started."""


class LanduseWarning(UserWarning):
    """The base of the package's warnings."""


class ControlChangedWarning(LanduseWarning):
    """A swept value that the model changed at set-up (e.g. a grid size over its largest)."""


class StreamOverlapWarning(LanduseWarning):
    """Two replicates of a sweep drew some of the same random numbers."""


def check_count(value: object, name: str) -> int:
    """``value`` as an int when it is a whole number of 1 or more (replicates,
    design points, how often measures are evaluated); else LanduseValueError
    naming ``name``.

    Parameters
    ----------
    value : object
        What was given.
    name : str
        The argument's name, for the message.

    Returns
    -------
    int
        The count.

    Raises
    ------
    LanduseValueError
        Anything but a whole number of 1 or more (a bool included).

    Examples
    --------
    >>> check_count(3, "replicates")
    3
    """
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or value < 1:
        raise LanduseValueError(f"{name} takes a whole number of 1 or more, not {value!r}")
    return int(value)
