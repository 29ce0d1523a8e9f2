"""The model's controls and statistics as the package reads and writes them: a
control's text for a value, the set-up a dict of controls makes, the control
table, and the statistics table's columns."""

from __future__ import annotations

import difflib
import os
from collections.abc import Mapping
import functools
import numbers
import re

import numpy as np
import pandas as pd

from ._core import ControlValueError
from ._core import check_control_value as _check_control_value
from ._core import control_table as _control_table
from ._core import default_track_threshold as _default_track_threshold
from ._core import fewest_threads as _fewest_threads
from ._core import largest_seed as _largest_seed
from ._core import largest_step as _largest_step
from ._core import max_state_file_bytes as _max_state_file_bytes
from ._core import most_threads as _most_threads
from ._core import pattern_measures as _pattern_measures
from ._core import statistics_columns as _statistics_columns
from .errors import LanduseTypeError

__all__ = [
    "DEFAULT_TRACK_THRESHOLD",
    "LARGEST_SEED",
    "LARGEST_STEP",
    "MAX_STATE_FILE_BYTES",
    "PATTERN_MEASURES",
    "STATISTICS_COLUMNS",
    "STATISTICS_DTYPES",
    "THREADS",
    "check_controls",
    "control_settings",
    "control_table",
    "control_text",
    "read_statistics",
    "unknown_control_message",
]

# The runner's CSV columns, as the model's table of them names them (name, type, unit, meaning).
STATISTICS_COLUMNS = [name for name, *_ in _statistics_columns]
# Whole-number columns are int64, real ones float64.
STATISTICS_DTYPES = {name: ("int64" if kind == "integer" else "float64") for name, kind, *_ in _statistics_columns}
# Every pattern measure in column order, from the model's own table: name (the
# index), unit and meaning.
PATTERN_MEASURES = pd.DataFrame(list(_pattern_measures), columns=["name", "unit", "meaning"]).set_index("name")
# The all-tracks value from which a cell is a track cell, as the runner's default.
DEFAULT_TRACK_THRESHOLD = _default_track_threshold
# The model's limits: the last step count (a 32-bit number), the largest seed (a
# state of the 32-bit generator), the workers of the diffusion.
LARGEST_STEP = _largest_step
LARGEST_SEED = _largest_seed
THREADS = range(_fewest_threads, _most_threads + 1)
# The largest run state file read, as the headless runner's.
MAX_STATE_FILE_BYTES = _max_state_file_bytes
# The model reads control texts as C strings and params files line by line: a NUL
# would cut a text short, a line break would split a line.
_CONTROL_CHARACTER = re.compile(r"[\x00-\x1f\x7f-\x9f]")


def control_text(value: str | float) -> str:
    """The text a control is given for a value: texts as they are, True/False as
    "1"/"0", whole numbers in decimal and other reals in the shortest form that
    reads back as the same double (repr), so 0.1 is the double nearest 0.1.

    Parameters
    ----------
    value : str, int, float or bool
        A control's value.

    Returns
    -------
    str
        The text the control is given.

    Raises
    ------
    LanduseTypeError
        A value of no type a control takes.

    Examples
    --------
    >>> control_text(0.1), control_text(True), control_text("0,5")
    ('0.1', '1', '0,5')
    """
    if isinstance(value, str):
        return value
    if isinstance(value, (bool, np.bool_)):
        return "1" if value else "0"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    raise LanduseTypeError(f"a control takes a text or a number, not {type(value).__name__}")


def control_table() -> pd.DataFrame:
    """Every control the model has, one row each: name, kind, page, default (the
    panel's text), caption, meaning, range and, for a radio button, its partner.
    Usage-table cells are named StringGrid1.C.R (column 1..5, row 1..3).

    Returns
    -------
    pandas.DataFrame
        One row per control, indexed by name.

    Examples
    --------
    >>> control_table().loc["Edit_size", "kind"]
    'integer'
    """
    return pd.DataFrame(_control_table()).set_index("name")


@functools.lru_cache(maxsize=1)
def _control_names():
    return [row["name"] for row in _control_table()]


def unknown_control_message(name: str) -> str:
    """What an error says of ``name``, which is no control: that it is none, and the
    nearest names of the control table, if any are near (difflib).

    Parameters
    ----------
    name : str
        The name given.

    Returns
    -------
    str
        E.g. ``"unknown control 'E_CProbb'; did you mean 'E_CProbab'?"``.

    Examples
    --------
    >>> unknown_control_message("Edit_sise")
    "unknown control 'Edit_sise'; did you mean 'Edit_size'?"
    """
    message = f"unknown control {name!r}"
    near = difflib.get_close_matches(str(name), _control_names(), n=3, cutoff=0.75)
    if near:
        message += f"; did you mean {' or '.join(map(repr, near))}?"
    return message


@functools.lru_cache(maxsize=1)
def _radio_partners():
    # Made once: the table is the model's own and never changes, and every point of a sweep is checked with it.
    return {row["name"]: row["partner"] for row in _control_table() if row["partner"]}


def control_settings(controls: Mapping[str, str | float]) -> list[tuple[str, str]]:
    """The (name, text) pairs that set up ``controls``, in their order. A radio
    button can only be switched on, which switches its partner off; one given as
    off ("0", 0, False) is set as its partner switched on, so that
    ``Simulation(**sim.controls())`` makes the same set-up. A pair given both on
    or both off, or a name or text with a control character (NUL, a line break),
    raises ``ControlValueError``.

    Parameters
    ----------
    controls : mapping of str to str, int, float or bool
        Controls by name.

    Returns
    -------
    list of (str, str)
        The settings, in order.

    Raises
    ------
    ControlValueError
        An unknown control (with the nearest names), a pair both on or both off,
        or a control character.
    LanduseTypeError
        A value of no type a control takes.

    Examples
    --------
    >>> control_settings({"Edit_size": 10, "E_CProbab": 0.2})
    [('Edit_size', '10'), ('E_CProbab', '0.2')]
    """
    partners = _radio_partners()
    known = set(_control_names())
    for name in controls:
        if name not in known and isinstance(name, str) and not _CONTROL_CHARACTER.search(name):
            raise ControlValueError(unknown_control_message(name))
    texts = {name: control_text(value) for name, value in controls.items()}
    for name, text in texts.items():
        for what, found in ((f"the control name {name[:40]!r}", name), (f"{name}'s text {text[:40]!r}", text)):
            bad = _CONTROL_CHARACTER.search(found) if isinstance(found, str) else None
            if bad:
                raise ControlValueError(
                    f"{what} holds the control character {bad.group()!r} at position "
                    f"{bad.start()}: names and texts take printable characters only"
                )
    settings = []
    for name, text in texts.items():
        partner = partners.get(name)
        if partner is None or text != "0":
            settings.append((name, text))
            continue
        if partner in texts:
            if texts[partner] != "1":
                raise ControlValueError(f"{name} and {partner} are a pair: one of them is on, the other off")
            continue  # the partner switched on sets both
        settings.append((partner, "1"))
    for name, partner in partners.items():
        if texts.get(name) == "1" and texts.get(partner) == "1":
            raise ControlValueError(f"{name} and {partner} are a pair: one of them is on, the other off")
    return settings


def check_controls(controls: Mapping[str, str | float]) -> None:
    """Raises for a control that does not exist or a value it cannot hold
    (``ControlValueError``) or a value of no type a control takes (``TypeError``),
    without running anything. A text that does not convert is found only where the
    model reads it.

    Parameters
    ----------
    controls : mapping of str to str, int, float or bool
        Controls by name.

    Raises
    ------
    ControlValueError
        An unknown control or a value it cannot hold.
    LanduseTypeError
        A value of no type a control takes.

    Examples
    --------
    >>> check_controls({"CB_showAg": 2})
    Traceback (most recent call last):
    ...
    landuse._core.ControlValueError: ...
    """
    for name, text in control_settings(controls):
        _check_control_value(name, text)


def read_statistics(path: str | os.PathLike[str]) -> pd.DataFrame:
    """A statistics CSV (the headless runner's or the window's) as a DataFrame with
    every value as written: whole numbers as int64 and max_mark as the very double
    the run computed (pandas' default parser misreads the last digit of some).

    Parameters
    ----------
    path : str or os.PathLike
        The CSV file.

    Returns
    -------
    pandas.DataFrame
        One row per step.

    Raises
    ------
    OSError
        The file cannot be read.

    Examples
    --------
    >>> read_statistics("statistics.csv")  # doctest: +SKIP
    """
    return pd.read_csv(path, dtype=STATISTICS_DTYPES, float_precision="round_trip")
