"""The command line of sweeps: a TOML file in, one CSV table out.

    python3 -m landuse.sweep SWEEP.toml --out results.csv [--resume] [--scheduler ADDRESS] [--workers N] [--quiet]

The file (every key but one of the two tables is optional):

    replicates = 5        # runs per point, replicate k from seed replicate_seed(k); default 1
    steps = 200           # steps per run; default: each run to its stop time (E_stop)

    [parameters]          # the full grid of these lists, the last name varying fastest
    E_CProbab = [0.05, 0.1, 0.2]
    E_crAgs = [1, 3, 10]
    Edit_size = 10        # a single value: the same for every run

or, instead of [parameters], one table per point:

    [[points]]
    E_CProbab = 0.1
    "StringGrid1.2.1" = "0,5"   # usage cells by name; quote names with dots

Values are texts as the panel takes them ("0,1"), numbers or true/false.

Each finished run is appended to the journal results.csv.journal as it finishes;
after an interruption (Ctrl-C, a lost scheduler, a job out of time) the same
command with --resume runs only the runs the journal lacks. When every run is
done the table is written to a temporary file beside --out and renamed, so --out
exists only for a finished sweep, and the journal is removed. Without
--scheduler a local cluster with one worker process per usable CPU (or --workers
N) runs the sweep, on the loopback interface only.

Exit status: 0 every run went well; 1 the table is written but some runs failed
(their "error" says why); 2 a mistake in the command or the sweep file, found
before any run; 3 the cluster could not be reached or a file could not be
written; 130 interrupted by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP (the journal
keeps the finished runs).
"""

import argparse
import os
import signal
import sys
import tempfile
import tomllib
import warnings

from . import sweeps
from .local_cluster import default_workers, local_client
from .sweep_journal import check_writable, current_umask

KNOWN_KEYS = {"replicates", "steps", "parameters", "points"}
JOURNAL_SUFFIX = ".journal"
FAILED_RUNS, MISTAKE, CANNOT_GO_ON, INTERRUPTED = 1, 2, 3, 130


class SweepFileError(Exception):
    pass


class _Stopped(BaseException):
    """SIGTERM or SIGHUP (a job's time limit, a closed terminal): the sweep stops as on Ctrl-C
    (a BaseException, as KeyboardInterrupt is, so that no handler of failed runs takes it)."""

    def __init__(self, number):
        super().__init__(signal.Signals(number).name)
        self.number = number


def _stop(number, frame):
    raise _Stopped(number)


def read_sweep_file(path):
    """The sweep() arguments a TOML file gives: parameters, replicates, steps."""
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
    if ("parameters" in document) == ("points" in document):
        raise SweepFileError(f"{path}: give either a [parameters] table or [[points]] tables")
    parameters = document.get("parameters", document.get("points"))
    if "parameters" in document and not isinstance(parameters, dict):
        raise SweepFileError(f"{path}: parameters must be a table")
    if "points" in document and not (isinstance(parameters, list) and all(isinstance(p, dict) for p in parameters)):
        raise SweepFileError(f"{path}: points must be an array of tables ([[points]])")
    replicates = document.get("replicates", 1)
    steps = document.get("steps")
    if not isinstance(replicates, int) or isinstance(replicates, bool) or replicates < 1:
        raise SweepFileError(f"{path}: replicates takes a whole number of 1 or more")
    if steps is not None and (not isinstance(steps, int) or isinstance(steps, bool) or steps < 0):
        raise SweepFileError(f"{path}: steps takes a whole number of 0 or more")
    try:
        sweeps.SweepPoints(parameters)
    except (TypeError, ValueError) as e:
        raise SweepFileError(f"{path}: {e}") from None
    return parameters, replicates, steps


def write_output(write, out):
    """Calls write(file) to write out, with the permissions the umask leaves. A
    regular file (or a new one) is written to a temporary file beside it and renamed,
    so out never holds half a table; anything else (a device, a pipe) is written into."""
    if os.path.exists(out) and not os.path.isfile(out):
        with open(out, "w", newline="") as f:
            write(f)
        return
    directory = os.path.dirname(os.path.abspath(out))
    descriptor, temporary = tempfile.mkstemp(dir=directory, prefix="." + os.path.basename(out) + ".", suffix=".tmp")
    try:
        os.fchmod(descriptor, 0o666 & ~current_umask())
        with os.fdopen(descriptor, "w", newline="") as f:
            write(f)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, out)
    except BaseException:
        os.unlink(temporary)
        raise


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(MISTAKE, f"{self.prog}: error: {message}\n")


def main(argv=None):
    parser = _Parser(
        prog="python3 -m landuse.sweep",
        description="Runs a parameter sweep of the land-use model described by a TOML file and writes one CSV table.",
        epilog=__doc__.split("\n\n", 1)[1],
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("sweep_file", metavar="SWEEP.toml")
    parser.add_argument("--out", required=True, metavar="FILE", help="the CSV table to write")
    parser.add_argument("--resume", action="store_true",
                        help="go on with the journal an interrupted sweep left beside --out")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, metavar="N", help="worker processes of the local cluster")
    parser.add_argument("--quiet", action="store_true", help="no progress line")
    arguments = parser.parse_args(argv)
    out = arguments.out
    journal = out + JOURNAL_SUFFIX

    try:
        parameters, replicates, steps = read_sweep_file(arguments.sweep_file)
        points = sweeps.SweepPoints(parameters)
        check_writable(out, "--out")
    except (SweepFileError, ValueError) as e:
        parser.error(str(e))
    if arguments.workers is not None and arguments.workers < 1:
        parser.error("--workers takes 1 or more")
    if os.path.exists(journal) and not arguments.resume:
        parser.error(f"{journal} holds the runs of an interrupted sweep: --resume goes on with it; "
                     "remove it to start again")
    if arguments.resume and not os.path.exists(journal) and os.path.isfile(out):
        print(f"landuse sweep: nothing to resume, {out} is complete", file=sys.stderr)
        return 0

    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, _stop)
    # The sweep's warnings (overlapping replicates, values the model changed) as one line each.
    warnings.showwarning = lambda message, *_: print(f"{parser.prog}: warning: {message}", file=sys.stderr)
    cluster = None
    try:
        if arguments.scheduler is not None:
            from distributed import Client

            client = Client(arguments.scheduler, timeout=sweeps.CONNECT_TIMEOUT)
        else:
            client, cluster = local_client(arguments.workers or default_workers())
    except (OSError, RuntimeError) as e:
        print(f"{parser.prog}: error: cannot reach the cluster: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    try:
        summary = sweeps.run_into_journal(points, replicates, steps, client, not arguments.quiet, journal)
        write_output(lambda f: sweeps.write_journal_table(journal, points.names, f), out)
    except ValueError as e:
        parser.error(str(e))
    except OSError as e:
        print(f"{parser.prog}: error: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    except (KeyboardInterrupt, _Stopped) as e:
        print(f"\n{parser.prog}: interrupted; the finished runs are kept in {journal}: the same command with "
              "--resume runs the others", file=sys.stderr)
        return 128 + e.number if isinstance(e, _Stopped) else INTERRUPTED
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    os.unlink(journal)
    print(f"landuse {sweeps.__version__} sweep: {summary.runs} runs ({summary.failed} failed) written to {out}",
          file=sys.stderr)
    return FAILED_RUNS if summary.failed else 0
