"""The sweep file: a TOML file that describes a sweep, read into the arguments of
``landuse.sweep`` (see ``python3 -m landuse.sweep --help`` for its keys)."""

from __future__ import annotations

import os
import tomllib
from typing import Any

from .. import designs
from ..errors import LanduseError
from ..measures import named_measures
from .points import RunPlan, SweepPoints, check_run_count

__all__ = ["KNOWN_KEYS", "SweepFileError", "read_sweep_file"]

KNOWN_KEYS = {
    "replicates",
    "steps",
    "parameters",
    "points",
    "design",
    "ranges",
    "every",
    "keep",
    "stop_when",
    "measures",
    "track_threshold",
}


class SweepFileError(LanduseError):
    """A sweep file that cannot be read, or that does not describe a sweep."""


def read_sweep_file(path: str | os.PathLike[str]) -> tuple[Any, int, RunPlan]:
    """The sweep() arguments a TOML file gives: parameters (value lists, points or a
    design) and the keywords replicates, steps, every, keep, stop_when and the
    measures named (with patterns' track_threshold).

    Parameters
    ----------
    path : str or os.PathLike
        The TOML file.

    Returns
    -------
    tuple
        The parameters (value lists, points or a design), the replicates and the run plan.

    Raises
    ------
    SweepFileError
        A file that cannot be read or describes no sweep.

    Examples
    --------
    >>> read_sweep_file("sweep.toml")  # doctest: +SKIP
    """
    try:
        with open(path, "rb") as f:
            document = tomllib.load(f)
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as e:
        raise SweepFileError(f"{path}: {e}") from None
    except OSError as e:
        raise SweepFileError(f"{path}: {e.strerror}") from None
    unknown = sorted(set(document) - KNOWN_KEYS)
    if unknown:
        raise SweepFileError(f"{path}: unknown key(s) {', '.join(unknown)}; known: {', '.join(sorted(KNOWN_KEYS))}")
    given = [key for key in ("parameters", "points", "design") if key in document]
    if len(given) != 1:
        raise SweepFileError(f"{path}: give one of a [parameters] table, [[points]] tables or a [design] table")
    if ("ranges" in document) != ("design" in document):
        raise SweepFileError(f"{path}: a [design] table takes a [ranges] table, and [ranges] a [design]")
    parameters = document.get("parameters", document.get("points"))
    if "parameters" in document and not isinstance(parameters, dict):
        raise SweepFileError(f"{path}: parameters must be a table")
    if "points" in document and not (isinstance(parameters, list) and all(isinstance(p, dict) for p in parameters)):
        raise SweepFileError(f"{path}: points must be an array of tables ([[points]])")
    if "design" in document:
        if not isinstance(document["design"], dict) or not isinstance(document["ranges"], dict):
            raise SweepFileError(f"{path}: design and ranges must be tables")
        try:
            parameters = designs.from_table({**document["design"], "ranges": document["ranges"]})
        except (TypeError, ValueError) as e:
            raise SweepFileError(f"{path}: {e}") from None
    replicates = document.get("replicates", 1)
    if not isinstance(replicates, int) or isinstance(replicates, bool) or replicates < 1:
        raise SweepFileError(f"{path}: replicates takes a whole number of 1 or more")
    stop_when = document.get("stop_when")
    if stop_when is not None and not isinstance(stop_when, str):
        raise SweepFileError(f'{path}: stop_when takes a condition\'s text, e.g. "agents >= 2000"')
    try:
        measures = named_measures(document.get("measures", []), document.get("track_threshold"))
        plan = RunPlan(
            document.get("steps"),
            measures=measures,
            every=document.get("every", 1),
            stop_when=stop_when,
            keep=document.get("keep", "every"),
        )
        check_run_count(SweepPoints(parameters), replicates)
    except (TypeError, ValueError) as e:
        raise SweepFileError(f"{path}: {e}") from None
    return parameters, replicates, plan
