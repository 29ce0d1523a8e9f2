"""A sweep's journal: every finished run kept on disk as it finishes, so that an
interrupted sweep goes on where it stopped."""

from __future__ import annotations

import json
import os
import re
from collections.abc import Callable, Iterator, Sequence
from typing import TYPE_CHECKING

from .._core import __version__, replicate_seed
from ..controls import STATISTICS_COLUMNS, STATISTICS_DTYPES
from ..errors import LanduseValueError

if TYPE_CHECKING:
    from .summary import SweepSummary

__all__ = [
    "JOURNAL_FORMAT",
    "Journal",
    "RecordShape",
    "check_writable",
    "journal_header",
    "journal_records",
    "read_journal",
]

# A first line that names the sweep, then one JSON line per finished run.
JOURNAL_FORMAT = "landuse sweep journal 1"
# Every run's line begins so; the table is put in run order by reading this alone.
_RUN_PREFIX = re.compile(rb'\{"run": (\d+)')


def check_writable(path: str | os.PathLike[str], what: str) -> None:
    """Raises ValueError unless a file can be written at path (its directory exists and is writable).

    Parameters
    ----------
    path : str or os.PathLike
        The file.
    what : str
        How the message names it.

    Raises
    ------
    LanduseValueError
        A folder, a missing or unwritable folder, or an unwritable file.

    Examples
    --------
    >>> check_writable("/nonexistent/out.csv", "--out")
    Traceback (most recent call last):
    ...
    landuse.errors.LanduseValueError: --out /nonexistent/out.csv: the directory /nonexistent does not exist
    """
    path = os.fspath(path)
    directory = os.path.dirname(os.path.abspath(path))
    if path == "" or os.path.isdir(path):
        raise LanduseValueError(f"{what} {path!r} is a directory, not a file")
    if not os.path.isdir(directory):
        raise LanduseValueError(f"{what} {path}: the directory {directory} does not exist")
    if os.path.exists(path) and not os.access(path, os.W_OK):
        raise LanduseValueError(f"{what} {path} cannot be written")
    if not os.path.exists(path) and not os.access(directory, os.W_OK | os.X_OK):
        raise LanduseValueError(f"{what} {path}: the directory {directory} cannot be written")


class RecordShape:
    """What every run's line of a sweep's journal holds, checked whole when the
    journal is read, so that a damaged line is found before any run rather than
    when the table is made after the last one. Calling it with a record raises
    ValueError saying what is wrong with it.

    Parameters
    ----------
    runs : int
        The sweep's runs.
    replicates : int
        Runs per point.
    values : int
        Swept controls.
    coordinates : int
        A design's coordinates.
    first_replicates : sequence of int, default ()
        Each point's first replicate, for a design that has them.
    """

    def __init__(
        self, runs: int, replicates: int, values: int, coordinates: int, first_replicates: Sequence[int] = ()
    ) -> None:
        """Nothing seen yet."""
        self.runs, self.replicates, self.values, self.coordinates = runs, replicates, values, coordinates
        self.first_replicates = list(first_replicates)
        self.seen = bytearray(runs)

    def __call__(self, record):
        if not isinstance(record, dict):
            raise LanduseValueError("not a run's record")
        missing = sorted(set(_RECORD_TYPES) - set(record))
        if missing:
            raise LanduseValueError(f"it lacks {', '.join(missing)}")
        for key, kind in _RECORD_TYPES.items():
            if not _is(record[key], kind):
                raise LanduseValueError(f"{key} is not {kind[-1]}")
        run = record["run"]
        if not 0 <= run < self.runs:
            raise LanduseValueError(f"run {run} is no run of this sweep (0..{self.runs - 1})")
        if self.seen[run]:
            raise LanduseValueError(f"run {run} a second time")
        point, replicate = divmod(run, self.replicates)
        if self.first_replicates:
            replicate += self.first_replicates[point]
        if (record["point"], record["replicate"]) != (point, replicate):
            raise LanduseValueError(f"run {run} is not point {record['point']}'s replicate {record['replicate']}")
        if record["seed"] != replicate_seed(record["replicate"]) or record["draws"] < 0:
            raise LanduseValueError(f"run {run}'s seed or draws are not its replicate's")
        if len(record["values"]) != self.values or not all(_is(v, _SCALAR) for v in record["values"]):
            raise LanduseValueError(f"run {run} has not {self.values} plain values")
        if len(record["coordinates"]) not in (0, self.coordinates) or not all(
            _is(v, _NUMBER) for v in record["coordinates"]
        ):
            raise LanduseValueError(f"run {run}'s coordinates are not {self.coordinates} numbers")
        self._check_statistics(run, record["statistics"])
        for entry in record["measures"]:
            if not (
                isinstance(entry, list)
                and len(entry) == 2
                and _is(entry[0], _WHOLE)
                and isinstance(entry[1], dict)
                and all(_is(v, _SCALAR) for v in entry[1].values())
            ):
                raise LanduseValueError(f"run {run}'s measures are not [step, {{name: value}}] pairs")
        if not all(
            isinstance(c, list) and len(c) == 3 and all(isinstance(t, str) for t in c) for c in record["changes"]
        ):
            raise LanduseValueError(f"run {run}'s changes are not [name, given, in effect] texts")
        self.seen[run] = 1

    @staticmethod
    def _check_statistics(run, statistics):
        missing = [name for name in STATISTICS_COLUMNS if not isinstance(statistics.get(name), list)]
        if missing:
            raise LanduseValueError(f"run {run}'s statistics lack {', '.join(missing)}")
        if len({len(statistics[name]) for name in STATISTICS_COLUMNS}) != 1:
            raise LanduseValueError(f"run {run}'s statistics columns are not of one length")
        for name in STATISTICS_COLUMNS:
            kind = _WHOLE if STATISTICS_DTYPES[name] == "int64" else _NUMBER
            if not all(_is(v, kind) for v in statistics[name]):
                raise LanduseValueError(f"run {run}'s {name} are not all {kind[-1]}")


# Each kind: the types it takes, then how an error names it.
_WHOLE = (int, "a whole number")
_NUMBER = (int, float, "a number")
_SCALAR = (int, float, str, bool, type(None), "a plain value")
_RECORD_TYPES = {
    "run": _WHOLE,
    "point": _WHOLE,
    "replicate": _WHOLE,
    "seed": _WHOLE,
    "draws": _WHOLE,
    "version": (str, "a text"),
    "values": (list, "a list"),
    "coordinates": (list, "a list"),
    "statistics": (dict, "a table"),
    "measures": (list, "a list"),
    "stopped": (bool, "true or false"),
    "error": (str, "a text"),
    "changes": (list, "a list"),
}


def _is(value, kind):
    # JSON's true and false read as bool, which is an int to Python: a number is no bool.
    if isinstance(value, bool) and bool not in kind:
        return False
    return isinstance(value, kind[:-1])


def read_journal(
    path: str | os.PathLike[str],
    header: str,
    summary: SweepSummary,
    check: Callable[[dict], None] | None = None,
) -> int:
    """Reads a journal's runs into summary (each record checked by ``check`` first,
    when given) and returns the length of its complete lines. Raises ValueError,
    in one line, for a journal of another sweep or a damaged line.

    Parameters
    ----------
    path : str or os.PathLike
        The journal.
    header : str
        The first line this sweep's journal has.
    summary : SweepSummary
        Given each run.
    check : callable, optional
        Raises for a record of the wrong shape.

    Returns
    -------
    int
        The bytes of its complete lines.

    Raises
    ------
    LanduseValueError
        A journal of another sweep or a damaged line.
    OSError
        The journal cannot be read.
    """
    with open(path, "rb") as f:
        if f.readline().rstrip(b"\n").decode(errors="replace") != header:
            raise LanduseValueError(
                f"the journal {path} is of another sweep (or another version of landuse): " "remove it to start again"
            )
        complete = f.tell()
        for number, line in enumerate(f, start=2):
            if not line.endswith(b"\n"):
                break  # cut short
            try:
                record = json.loads(line)
                prefix = _RUN_PREFIX.match(line)
                if prefix is None or not isinstance(record, dict) or int(prefix.group(1)) != record.get("run"):
                    raise LanduseValueError('it does not begin with {"run": N}')
                if check is not None:
                    check(record)
                summary.add(record)
            except (ValueError, KeyError, IndexError, TypeError) as e:
                reason = "not JSON" if isinstance(e, json.JSONDecodeError) else str(e)
                raise LanduseValueError(
                    f"the journal {path} is damaged at line {number}: {reason[:200]}; " "remove it to start again"
                ) from None
            complete += len(line)
    return complete


class Journal:
    """The runs a sweep has finished, one JSON line each after a line naming the
    sweep, each written and flushed to disk as the run finishes. A line cut short
    by a crash is dropped when the journal is opened again; any other line is
    checked whole by ``check`` (a ``RecordShape``), when given. New journals follow the umask.

    Parameters
    ----------
    path : str or os.PathLike
        The journal, made if missing.
    fingerprint : str
        The sweep's digest.
    summary : SweepSummary
        Given each run already in the journal.
    check : callable, optional
        Raises for a record of the wrong shape.

    Raises
    ------
    LanduseValueError
        An unwritable path, a journal of another sweep or a damaged line.
    """

    def __init__(
        self,
        path: str | os.PathLike[str],
        fingerprint: str,
        summary: SweepSummary,
        check: Callable[[dict], None] | None = None,
    ) -> None:
        """Opens the journal, reading the runs it holds."""
        self.path = os.fspath(path)
        check_writable(self.path, "the journal")
        header = journal_header(fingerprint)
        if os.path.exists(self.path):
            complete = read_journal(self.path, header, summary, check)
            self.descriptor = os.open(self.path, os.O_WRONLY | os.O_APPEND)
            os.truncate(self.descriptor, complete)
        else:
            self.descriptor = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_EXCL, 0o666)
            self.append_line(header)

    def append_line(self, line: str) -> None:
        """Appends a run's line and syncs it to disk.

        Parameters
        ----------
        line : str
            A run's record as JSON.
        """
        data = (line + "\n").encode()
        while data:
            data = data[os.write(self.descriptor, data) :]
        os.fsync(self.descriptor)

    def close(self) -> None:
        """Closes the journal."""
        os.close(self.descriptor)


def journal_header(fingerprint: str) -> str:
    """The first line of a sweep's journal.

    Parameters
    ----------
    fingerprint : str
        The sweep's digest.

    Returns
    -------
    str
        The line.

    Examples
    --------
    >>> json.loads(journal_header("abc"))["format"]
    'landuse sweep journal 1'
    """
    return json.dumps({"format": JOURNAL_FORMAT, "sweep": fingerprint, "version": __version__})


def journal_records(path: str | os.PathLike[str], batch: int = 1000) -> Iterator[list[dict]]:
    """The records of a journal in run order, in lists of ``batch``; only the lines'
    places are held in memory, so a journal of any size is read in little.

    Parameters
    ----------
    path : str or os.PathLike
        The journal.
    batch : int, default 1000
        Records per list.

    Yields
    ------
    list of dict
        The next records.
    """
    places = []
    with open(path, "rb") as f:
        f.readline()
        place = f.tell()
        for line in f:
            places.append((int(_RUN_PREFIX.match(line).group(1)), place))
            place += len(line)
        places.sort()
        for first in range(0, len(places), batch):
            records = []
            for _, place in places[first : first + batch]:
                f.seek(place)
                records.append(json.loads(f.readline()))
            yield records
