"""A sweep from a TOML file, written to one CSV table:

    python3 -m landuse.sweep SWEEP.toml --out results.csv [--scheduler ADDRESS] [--workers N] [--quiet]

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
    StringGrid1.2.1 = "0,5"     # usage cells by name; quote names with dots: "StringGrid1.2.1"

Values are texts as the panel takes them ("0,1"), numbers or true/false. The table
is written to a temporary file beside --out and renamed when the sweep is complete,
so --out exists only for a finished sweep. Without --scheduler a local cluster
with one worker process per usable CPU (or --workers N) runs the sweep.
"""

import argparse
import os
import sys
import tempfile
import tomllib
import types

from ._sweep import sweep

KNOWN_KEYS = {"replicates", "steps", "parameters", "points"}


class SweepFileError(Exception):
    pass


def read_sweep_file(path):
    """The sweep() arguments a TOML file gives: parameters, replicates, steps."""
    with open(path, "rb") as f:
        try:
            document = tomllib.load(f)
        except tomllib.TOMLDecodeError as e:
            raise SweepFileError(f"{path}: {e}") from None
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
    return parameters, replicates, steps


def write_atomically(table, out):
    """Writes the table as CSV to a temporary file in out's directory, then renames it to out."""
    directory = os.path.dirname(os.path.abspath(out))
    descriptor, temporary = tempfile.mkstemp(dir=directory, prefix="." + os.path.basename(out) + ".", suffix=".tmp")
    try:
        with os.fdopen(descriptor, "w", newline="") as f:
            table.to_csv(f, index=False)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, out)
    except BaseException:
        os.unlink(temporary)
        raise


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m landuse.sweep",
        description="Runs a parameter sweep of the land-use model described by a TOML file and writes one CSV table.",
        epilog=__doc__.split("\n\n", 1)[1],
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("sweep_file", metavar="SWEEP.toml")
    parser.add_argument("--out", required=True, metavar="FILE", help="the CSV table to write")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, metavar="N", help="worker processes of the local cluster")
    parser.add_argument("--quiet", action="store_true", help="no progress line")
    arguments = parser.parse_args(argv)

    # The package's own module, not this file run as __main__: the tasks must name
    # a function the workers can import.
    import landuse._sweep as implementation

    try:
        parameters, replicates, steps = read_sweep_file(arguments.sweep_file)
    except (OSError, SweepFileError) as e:
        parser.error(str(e))
    client = arguments.scheduler
    cluster = None
    if client is None and arguments.workers is not None:
        if arguments.workers < 1:
            parser.error("--workers takes 1 or more")
        client, cluster = implementation._local_client(arguments.workers)
    try:
        table = implementation.sweep(parameters, replicates, steps, client=client, progress=not arguments.quiet)
    except ValueError as e:
        parser.error(str(e))
    finally:
        if cluster is not None:
            client.close()
            cluster.close()
    write_atomically(table, arguments.out)
    runs = table["run"].nunique()
    failed = table.loc[table["error"] != "", "run"].nunique()
    print(f"landuse sweep: {runs} runs ({failed} failed) written to {arguments.out}", file=sys.stderr)
    return 0


class _CallableModule(types.ModuleType):
    """landuse.sweep names both this module and the sweep function; importing the
    module rebinds the package's name to it, so the module runs the sweep when called."""

    def __call__(self, *arguments, **keywords):
        return sweep(*arguments, **keywords)


sys.modules[__name__].__class__ = _CallableModule

if __name__ == "__main__":
    sys.exit(main())
