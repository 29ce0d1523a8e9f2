"""The command line of sweeps: a TOML file in, one CSV table out.

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

An --out ending in .zarr is a Zarr store instead (see landuse.results_store):
the runs are written into it in batches as they finish, and it is its own
journal: --resume runs the runs it lacks. An existing store is never written
without --resume, and a store of another sweep is refused.

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
import tomllib
import warnings

import pandas as pd

from . import designs, sweeps
from .local_cluster import default_workers
from .files import write_atomically
from .measures import named_measures
from .sweep_journal import check_writable

KNOWN_KEYS = {"replicates", "steps", "parameters", "points", "design", "ranges", "every", "keep", "stop_when",
              "measures", "track_threshold"}
JOURNAL_SUFFIX = ".journal"
STORE_SUFFIX = ".zarr"
FAILED_RUNS, MISTAKE, CANNOT_GO_ON, INTERRUPTED = 1, 2, 3, 130


# The options that give the TLS files of a scheduler's cluster, named as Dask's commands name them.
TLS_OPTIONS = {"--tls-ca-file": "the certificate authority", "--tls-cert": "the certificate",
               "--tls-key": "the private key"}


def tls_security(ca_file, cert, key):
    """The client's security for a cluster's TLS files; with none, Dask's own configuration."""
    if ca_file is None:
        return None
    from distributed.security import Security

    return Security(tls_ca_file=ca_file, tls_client_cert=cert, tls_client_key=key, require_encryption=True)


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
    """The sweep() arguments a TOML file gives: parameters (value lists, points or a
    design) and the keywords replicates, steps, every, keep, stop_when and the
    measures named (with patterns' track_threshold)."""
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
        raise SweepFileError(f"{path}: stop_when takes a condition's text, e.g. \"agents >= 2000\"")
    try:
        measures = named_measures(document.get("measures", []), document.get("track_threshold"))
        plan = sweeps.RunPlan(document.get("steps"), measures, document.get("every", 1), stop_when,
                              document.get("keep", "every"))
        sweeps.check_run_count(sweeps.SweepPoints(parameters), replicates)
    except (TypeError, ValueError) as e:
        raise SweepFileError(f"{path}: {e}") from None
    return parameters, replicates, plan


def write_output(write, out):
    """Calls write(file) to write out: never half a table (see files.write_atomically)."""
    write_atomically(out, write)


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
    parser.add_argument("--out", required=True, metavar="FILE",
                        help="the CSV table to write, or a Zarr store (a name ending in .zarr)")
    parser.add_argument("--resume", action="store_true",
                        help="go on with the journal an interrupted sweep left beside --out")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, metavar="N", help="worker processes of the local cluster")
    for option, meaning in TLS_OPTIONS.items():
        parser.add_argument(option, metavar="FILE", help=f"{meaning} (PEM) for a --scheduler that asks for TLS")
    parser.add_argument("--plot", metavar="DIR", help="PNG plots of the table into DIR (landuse.plot)")
    parser.add_argument("--quiet", action="store_true", help="no progress line")
    arguments = parser.parse_args(argv)
    out = arguments.out
    journal = out + JOURNAL_SUFFIX
    store = out.endswith(STORE_SUFFIX)

    try:
        parameters, replicates, plan = read_sweep_file(arguments.sweep_file)
        points = sweeps.SweepPoints(parameters)
        # A store is a folder: what matters is that its parent takes a new entry, as for a journal beside it.
        check_writable(out + JOURNAL_SUFFIX if store else out, "--out")
    except (SweepFileError, ValueError) as e:
        parser.error(str(e))
    tls_files = [getattr(arguments, option[2:].replace("-", "_")) for option in TLS_OPTIONS]
    if any(tls_files) and (not all(tls_files) or arguments.scheduler is None):
        parser.error(f"{', '.join(TLS_OPTIONS)} are given together, with --scheduler")
    if arguments.workers is not None and arguments.workers < 1:
        parser.error("--workers takes 1 or more")
    if arguments.scheduler is not None:
        try:
            sweeps.check_scheduler_address(arguments.scheduler)
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
    if store:  # the results store's hook: it is its own journal
        from . import results_store

        if os.path.exists(out) and not arguments.resume:
            parser.error(f"{out} exists: --resume goes on with it; remove it to start again")
        if os.path.exists(out):
            try:
                results_store.check_store(out, points, replicates, plan)
            except ValueError as e:
                parser.error(str(e))
    elif os.path.exists(journal) and not arguments.resume:
        parser.error(f"{journal} holds the runs of an interrupted sweep: --resume goes on with it; "
                     "remove it to start again")
    if arguments.resume and not os.path.exists(journal) and os.path.isfile(out):
        print(f"landuse sweep: nothing to resume, {out} is complete", file=sys.stderr)
        return 0
    if arguments.resume and os.path.exists(journal):
        try:  # every line, before the cluster is started
            sweeps.check_journal(journal, points, replicates, plan)
        except ValueError as e:
            parser.error(str(e))
        except OSError as e:
            print(f"{parser.prog}: error: {e}", file=sys.stderr)
            return CANNOT_GO_ON

    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, _stop)
    # The sweep's warnings (overlapping replicates, values the model changed) as one line each.
    warnings.showwarning = lambda message, *_: print(f"{parser.prog}: warning: {message}", file=sys.stderr)
    cluster = None
    try:
        if arguments.scheduler is not None:
            from distributed import Client

            client = Client(arguments.scheduler, timeout=sweeps.CONNECT_TIMEOUT, security=tls_security(*tls_files))
        else:
            client, cluster = sweeps.quiet_local_client(arguments.workers or default_workers())
    except (OSError, RuntimeError, TypeError) as e:  # TypeError: a tls:// address and no TLS files
        print(f"{parser.prog}: error: cannot reach the cluster: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    try:
        tables = []
        if store:
            summary = results_store.run_into_store(points, replicates, plan, client, not arguments.quiet, out)
            if arguments.plot:
                tables.append(results_store.to_table(out))
        else:
            summary = sweeps.run_into_journal(points, replicates, plan, client, not arguments.quiet, journal)
            keep_table = tables.append if arguments.plot else None
            write_output(lambda f: sweeps.write_journal_table(journal, sweeps.TableLayout.of(points), f, keep_table),
                         out)
    except ValueError as e:
        parser.error(str(e))
    except OSError as e:
        print(f"{parser.prog}: error: {e}", file=sys.stderr)
        return CANNOT_GO_ON
    except (KeyboardInterrupt, _Stopped) as e:
        kept = out if store else journal
        print(f"\n{parser.prog}: interrupted; the finished runs are kept in {kept}: the same command with "
              "--resume runs the others", file=sys.stderr)
        return 128 + e.number if isinstance(e, _Stopped) else INTERRUPTED
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    if not store:
        os.unlink(journal)
    if arguments.plot:
        from . import plot

        try:
            written = plot.write_sweep_plots(pd.concat(tables, ignore_index=True), arguments.plot)
        except OSError as e:
            print(f"{parser.prog}: error: the plots: {e}", file=sys.stderr)
            return CANNOT_GO_ON
        print(f"landuse sweep: {len(written)} plots written to {arguments.plot}", file=sys.stderr)
    print(f"landuse {sweeps.__version__} sweep: {summary.runs} runs ({summary.failed} failed) written to {out}",
          file=sys.stderr)
    return FAILED_RUNS if summary.failed else 0
