"""A sweep's journal: every finished run kept on disk as it finishes, so that an
interrupted sweep goes on where it stopped."""

import json
import os
import re

from . import __version__

# A first line that names the sweep, then one JSON line per finished run.
JOURNAL_FORMAT = "landuse sweep journal 1"


def check_writable(path, what):
    """Raises ValueError unless a file can be written at path (its directory exists and is writable)."""
    path = os.fspath(path)
    directory = os.path.dirname(os.path.abspath(path))
    if path == "" or os.path.isdir(path):
        raise ValueError(f"{what} {path!r} is a directory, not a file")
    if not os.path.isdir(directory):
        raise ValueError(f"{what} {path}: the directory {directory} does not exist")
    if os.path.exists(path) and not os.access(path, os.W_OK):
        raise ValueError(f"{what} {path} cannot be written")
    if not os.path.exists(path) and not os.access(directory, os.W_OK | os.X_OK):
        raise ValueError(f"{what} {path}: the directory {directory} cannot be written")


class Journal:
    """The runs a sweep has finished, one JSON line each after a line naming the
    sweep, each written and flushed to disk as the run finishes. A line cut short
    by a crash is dropped when the journal is opened again. New journals follow the umask."""

    def __init__(self, path, fingerprint, summary):
        self.path = os.fspath(path)
        check_writable(self.path, "the journal")
        header = json.dumps({"format": JOURNAL_FORMAT, "sweep": fingerprint, "version": __version__})
        if os.path.exists(self.path):
            self._read(header, summary)
        else:
            self.descriptor = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_EXCL, 0o666)
            self.append_line(header)

    def _read(self, header, summary):
        complete = 0
        with open(self.path, "rb") as f:
            if f.readline().rstrip(b"\n").decode(errors="replace") != header:
                raise ValueError(f"the journal {self.path} is of another sweep (or another version of landuse): "
                                 "remove it to start again")
            complete = f.tell()
            for line in f:
                if not line.endswith(b"\n"):
                    break  # cut short
                try:
                    summary.add(json.loads(line))
                except (ValueError, KeyError, IndexError):
                    raise ValueError(f"the journal {self.path} is damaged: remove it to start again") from None
                complete += len(line)
        self.descriptor = os.open(self.path, os.O_WRONLY | os.O_APPEND)
        os.truncate(self.descriptor, complete)

    def append_line(self, line):
        data = (line + "\n").encode()
        while data:
            data = data[os.write(self.descriptor, data):]
        os.fsync(self.descriptor)

    def close(self):
        os.close(self.descriptor)


def journal_records(path, batch=1000):
    """The records of a journal in run order, in lists of ``batch``; only the lines'
    places are held in memory, so a journal of any size is read in little."""
    places = []
    with open(path, "rb") as f:
        f.readline()
        place = f.tell()
        for line in f:
            places.append((int(re.match(rb'\{"run": (\d+)', line).group(1)), place))
            place += len(line)
        places.sort()
        for first in range(0, len(places), batch):
            records = []
            for _, place in places[first:first + batch]:
                f.seek(place)
                records.append(json.loads(f.readline()))
            yield records


