"""The command line of sweeps: a TOML file in, one CSV table or Zarr store out.

    python3 -m landuse.sweep SWEEP.toml --out results.csv|results.zarr [--resume] [--scheduler ADDRESS] [--workers N]
                             [--tls-ca-file FILE --tls-cert FILE --tls-key FILE] [--plot DIR] [--quiet]

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

or, instead of either, a sampling design over ranges (see landuse.designs):

    [design]
    kind = "latin_hypercube"   # or "sobol" (points a power of two) or "random"
    points = 20
    seed = 1
    [ranges]
    E_CProbab = [0.01, 0.5]    # a real in [low, high]
    E_crAgs = [1, 10, "int"]   # a whole number low..high
    rb_rulette = {choices = [0, 1]}

and, with any of them:

    every = 10                 # how often the stop condition and the measures are looked at; default 1
    keep = "final"             # one row per run, its last; default "every" step
    stop_when = "agents >= 2000 or step >= 600"   # ends a run early (see landuse.measures)
    measures = ["patterns"]    # columns of named measures, every `every` steps: the pattern measures
    track_threshold = 30       # the all-tracks value of a track cell for patterns; default 22

A stop condition compares statistics columns with numbers (< <= > >= == !=),
joined by "and" and "or"; a condition the grammar does not take is a mistake in
the file (exit 2).

Each finished run is appended to the journal results.csv.journal as it finishes;
after an interruption (Ctrl-C, a lost scheduler, a job out of time) the same
command with --resume runs only the runs the journal lacks. When every run is
done the table is written to a temporary file beside --out and renamed, so --out
exists only for a finished sweep, and the journal is removed. Without
--scheduler a local cluster with one worker process per usable CPU (or --workers
N) runs the sweep, on the loopback interface only, with TLS and a certificate
made for it alone: no other process can join it. A scheduler that asks for TLS
(tls://host:port) is reached with the CA, certificate and key of --tls-ca-file,
--tls-cert and --tls-key, as `dask scheduler` and `dask worker` take them.

An --out ending in .zarr is a Zarr store instead (landuse.open_results opens it
as an xarray Dataset): the runs are written into it in batches as they finish,
and it is its own journal: --resume runs the runs it lacks. An existing store is
never written without --resume, and a store of another sweep is refused.

Exit status: 0 every run went well; 1 the table is written but some runs failed
(their "error" says why); 2 a mistake in the command or the sweep file, found
before any run; 3 the cluster could not be reached or a file could not be
written; 130 interrupted by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP (the journal
keeps the finished runs).
"""

from __future__ import annotations

import argparse
import os
import signal
import sys
import warnings
from typing import TYPE_CHECKING

import pandas as pd

from .._core import __version__

from ..files import write_atomically
from .clusters import CONNECT_TIMEOUT, check_scheduler_address, default_workers, quiet_local_client
from .journal import check_writable
from .points import SweepPoints
from .running import check_journal, run_into_journal
from .results import to_table
from .store import check_store, run_into_store
from .sweep_file import KNOWN_KEYS, SweepFileError, read_sweep_file
from .tables import TableLayout, write_journal_table

if TYPE_CHECKING:
    from distributed.security import Security

__all__ = [
    "CANNOT_GO_ON",
    "FAILED_RUNS",
    "INTERRUPTED",
    "JOURNAL_SUFFIX",
    "KNOWN_KEYS",
    "MISTAKE",
    "TLS_OPTIONS",
    "STORE_SUFFIX",
    "SweepFileError",
    "main",
    "read_sweep_file",
    "tls_security",
]

JOURNAL_SUFFIX = ".journal"
STORE_SUFFIX = ".zarr"
FAILED_RUNS, MISTAKE, CANNOT_GO_ON, INTERRUPTED = 1, 2, 3, 130


# The options that give the TLS files of a scheduler's cluster, named as Dask's commands name them.
TLS_OPTIONS = {
    "--tls-ca-file": "the certificate authority",
    "--tls-cert": "the certificate",
    "--tls-key": "the private key",
}


def tls_security(ca_file: str | None, cert: str | None, key: str | None) -> Security | None:
    """The client's security for a cluster's TLS files; with none, Dask's own configuration.

    Parameters
    ----------
    ca_file, cert, key : str or None
        The PEM files of the certificate authority, the certificate and its key.

    Returns
    -------
    distributed.security.Security or None
        The security, or None for Dask's own configuration.

    Examples
    --------
    >>> tls_security(None, None, None) is None
    True
    """
    if ca_file is None:
        return None
    from distributed.security import Security

    return Security(tls_ca_file=ca_file, tls_client_cert=cert, tls_client_key=key, require_encryption=True)


class _Stopped(BaseException):
    """SIGTERM or SIGHUP (a job's time limit, a closed terminal): the sweep stops as on Ctrl-C
    (a BaseException, as KeyboardInterrupt is, so that no handler of failed runs takes it)."""

    def __init__(self, number):
        super().__init__(signal.Signals(number).name)
        self.number = number


def _stop(number, frame):
    raise _Stopped(number)


def _write_output(write, out):
    """Calls write(file) to write out: never half a table (see files.write_atomically)."""
    write_atomically(out, write)


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(MISTAKE, f"{self.prog}: error: {message}\n")


def main(argv: list[str] | None = None) -> int:
    """Runs the sweep a TOML file describes and writes its table.

    Parameters
    ----------
    argv : list of str, optional
        The arguments; by default the command line's.

    Returns
    -------
    int
        The exit status (see the module's text).

    Examples
    --------
    >>> main(["sweep.toml", "--out", "results.csv"])  # doctest: +SKIP
    0
    """
    parser = _parser()
    arguments = parser.parse_args(argv)
    out = arguments.out
    store = out.endswith(STORE_SUFFIX)
    try:
        parameters, replicates, plan = read_sweep_file(arguments.sweep_file)
        points = SweepPoints(parameters)
        # A store is a folder: what matters is that its parent takes a new entry, as for a journal beside it.
        check_writable(out + JOURNAL_SUFFIX if store else out, "--out")
    except (SweepFileError, ValueError) as e:
        parser.error(str(e))
    tls_files = _check_options(parser, arguments)
    done = (_check_store if store else _check_journal)(parser, arguments, points, replicates, plan)
    if done is not None:
        return done

    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, _stop)
    # The sweep's warnings (overlapping replicates, values the model changed) as one line each.
    warnings.showwarning = lambda message, *_: print(f"{parser.prog}: warning: {message}", file=sys.stderr)
    try:
        client, cluster = _cluster(arguments, tls_files)
    except (OSError, RuntimeError, TypeError) as e:  # TypeError: a tls:// address and no TLS files
        print(f"{parser.prog}: error: cannot reach the cluster: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    try:
        summary, tables = _run(arguments, points, replicates, plan, client, store)
    except ValueError as e:
        parser.error(str(e))
    except OSError as e:
        print(f"{parser.prog}: error: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    except (KeyboardInterrupt, _Stopped) as e:
        kept = out if store else out + JOURNAL_SUFFIX
        print(
            f"\n{parser.prog}: interrupted; the finished runs are kept in {kept}: the same command with "
            "--resume runs the others",
            file=sys.stderr,
        )
        return 128 + e.number if isinstance(e, _Stopped) else INTERRUPTED
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    if arguments.plot and not _write_plots(parser.prog, tables, arguments.plot):
        return CANNOT_GO_ON
    print(
        f"landuse {__version__} sweep: {summary.runs} runs ({summary.failed} failed) written to {out}", file=sys.stderr
    )
    return FAILED_RUNS if summary.failed else 0


def _check_journal(parser, arguments, points, replicates, plan):
    """Refuses a journal an interrupted sweep left without --resume and checks every
    line of one to resume, before the cluster is started; an exit status where
    nothing is left to do."""
    out = arguments.out
    journal = out + JOURNAL_SUFFIX
    if os.path.exists(journal) and not arguments.resume:
        parser.error(
            f"{journal} holds the runs of an interrupted sweep: --resume goes on with it; remove it to start again"
        )
    if arguments.resume and not os.path.exists(journal) and os.path.isfile(out):
        print(f"landuse sweep: nothing to resume, {out} is complete", file=sys.stderr)
        return 0
    if arguments.resume and os.path.exists(journal):
        return _refused(parser, check_journal, journal, points, replicates, plan)
    return None


def _check_store(parser, arguments, points, replicates, plan):
    """A store is its own journal: an existing one is written only with --resume,
    and only when it holds this very sweep."""
    out = arguments.out
    if os.path.exists(out) and not arguments.resume:
        parser.error(f"{out} exists: --resume goes on with it; remove it to start again")
    if os.path.exists(out):
        return _refused(parser, check_store, out, points, replicates, plan)
    return None


def _refused(parser, check, *arguments):
    """Checks what an earlier sweep left before the cluster starts: a mistake
    (another sweep, a damaged line) ends the command as a usage error, a file that
    cannot be read with CANNOT_GO_ON; None when it holds."""
    try:
        check(*arguments)
    except ValueError as e:
        parser.error(str(e))
    except OSError as e:
        print(f"{parser.prog}: error: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    return None


def _run(arguments, points, replicates, plan, client, store):
    """Runs the sweep into its store, or into its journal and then the table; the
    summary, and the table for plots when --plot asks for them."""
    out = arguments.out
    progress = not arguments.quiet
    tables = []
    if store:
        summary = run_into_store(points, replicates, plan, client, progress, out)
        if arguments.plot:
            tables.append(to_table(out))
        return summary, tables
    journal = out + JOURNAL_SUFFIX
    summary = run_into_journal(points, replicates, plan, client=client, progress=progress, path=journal)
    keep_table = tables.append if arguments.plot else None
    _write_output(lambda f: write_journal_table(journal, TableLayout.of(points), f, keep_table=keep_table), out)
    os.unlink(journal)
    return summary, tables


def _parser():
    """The command's options."""
    parser = _Parser(
        prog="python3 -m landuse.sweep",
        description="Runs a parameter sweep of the land-use model described by a TOML file and writes one CSV table.",
        epilog=__doc__.split("\n\n", 1)[1],
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("sweep_file", metavar="SWEEP.toml")
    parser.add_argument(
        "--out", required=True, metavar="FILE", help="the CSV table to write, or a Zarr store (a name ending in .zarr)"
    )
    parser.add_argument(
        "--resume", action="store_true", help="go on with the journal an interrupted sweep left beside --out"
    )
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, metavar="N", help="worker processes of the local cluster")
    for option, meaning in TLS_OPTIONS.items():
        parser.add_argument(option, metavar="FILE", help=f"{meaning} (PEM) for a --scheduler that asks for TLS")
    parser.add_argument("--plot", metavar="DIR", help="PNG plots of the table into DIR (landuse.plot)")
    parser.add_argument("--quiet", action="store_true", help="no progress line")
    return parser


def _check_options(parser, arguments):
    """Refuses options that do not go together or name what cannot be used, before
    any run; the TLS files given."""
    tls_files = [getattr(arguments, option[2:].replace("-", "_")) for option in TLS_OPTIONS]
    if any(tls_files) and (not all(tls_files) or arguments.scheduler is None):
        parser.error(f"{', '.join(TLS_OPTIONS)} are given together, with --scheduler")
    if arguments.workers is not None and arguments.workers < 1:
        parser.error("--workers takes 1 or more")
    if arguments.scheduler is not None:
        try:
            check_scheduler_address(arguments.scheduler)
        except ValueError as e:
            parser.error(f"--scheduler {e}")
    if arguments.plot is not None:
        # Found now rather than after the whole sweep.
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            parser.error("--plot needs matplotlib (Debian: python3-matplotlib)")
        if os.path.exists(arguments.plot) and not os.path.isdir(arguments.plot):
            parser.error(f"--plot {arguments.plot}: not a folder")
        nearest = os.path.abspath(arguments.plot)  # the folder, or the nearest one the plots' folder goes in
        while not os.path.exists(nearest):
            nearest = os.path.dirname(nearest)
        if not os.path.isdir(nearest) or not os.access(nearest, os.W_OK | os.X_OK):
            parser.error(f"--plot {arguments.plot}: no folder this process may write in")
    return tls_files


def _cluster(arguments, tls_files):
    """The client of the --scheduler's cluster, or of a new local one, and the local cluster to close (or None)."""
    if arguments.scheduler is not None:
        from distributed import Client

        return Client(arguments.scheduler, timeout=CONNECT_TIMEOUT, security=tls_security(*tls_files)), None
    return quiet_local_client(arguments.workers or default_workers())


def _write_plots(prog, tables, folder):
    """Writes the table's plots into folder; False, having said why, when they could not be written."""
    from .. import plot

    try:
        written = plot.write_sweep_plots(pd.concat(tables, ignore_index=True), folder)
    except OSError as e:
        print(f"{prog}: error: the plots: {e}", file=sys.stderr)
        return False
    print(f"landuse sweep: {len(written)} plots written to {folder}", file=sys.stderr)
    return True
