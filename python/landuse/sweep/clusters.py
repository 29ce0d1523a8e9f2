"""The Dask cluster a sweep starts on this machine when it is given none."""

from __future__ import annotations

import ast
import contextlib
import logging
import multiprocessing.process
import os
import re
import sys
import time
import warnings
from typing import TYPE_CHECKING

from ..errors import ClusterError, LanduseValueError, LanduseWarning

if TYPE_CHECKING:
    from distributed import Client, SpecCluster

__all__ = [
    "CONNECT_TIMEOUT",
    "WORKER_START_TIMEOUT",
    "check_scheduler_address",
    "connect",
    "default_workers",
    "local_client",
    "main_is_importable",
    "main_runs_again",
    "quiet_local_client",
]

# Seconds to wait for a scheduler that does not answer.
CONNECT_TIMEOUT = 10
# Seconds to wait for the local cluster's workers.
WORKER_START_TIMEOUT = 30


def default_workers() -> int:
    """One worker per CPU this process may use.

    Returns
    -------
    int
        The CPUs this process may use.

    Examples
    --------
    >>> default_workers() >= 1
    True
    """
    return len(os.sched_getaffinity(0))


def main_is_importable() -> bool:
    """Whether a new process can import this program's main module again, as the
    local cluster's worker processes do: not for a script read from stdin.

    Returns
    -------
    bool
        False for a script read from stdin.

    Examples
    --------
    >>> main_is_importable()  # doctest: +SKIP
    True
    """
    main = sys.modules.get("__main__")
    if getattr(getattr(main, "__spec__", None), "name", None):
        return True
    path = getattr(main, "__file__", None)
    return path is None or os.path.isfile(path)


def _is_main_test(test):
    """Whether an if's test is ``__name__ == "__main__"`` (either way round)."""
    if not (isinstance(test, ast.Compare) and len(test.ops) == 1 and isinstance(test.ops[0], ast.Eq)):
        return False
    sides = [test.left, test.comparators[0]]
    names = [side.id for side in sides if isinstance(side, ast.Name)]
    texts = [side.value for side in sides if isinstance(side, ast.Constant)]
    return names == ["__name__"] and texts == ["__main__"]


def _guarded(body, line):
    """Whether ``line`` of a module lies in the body of an ``if __name__ == "__main__":``
    among the statements ``body`` (looked for in nested blocks too)."""
    for statement in body:
        if not statement.lineno <= line <= statement.end_lineno:
            continue
        if isinstance(statement, ast.If) and _is_main_test(statement.test):
            if statement.body[0].lineno <= line <= statement.body[-1].end_lineno:
                return True
        blocks = [getattr(statement, field, []) for field in ("body", "orelse", "finalbody")]
        blocks += [handler.body for handler in getattr(statement, "handlers", [])]
        return any(_guarded(block, line) for block in blocks if isinstance(block, list))
    return False


def _outside_the_package():
    """The stack level, from the caller's frame, of the first frame outside the
    landuse package: where a warning points the user."""
    package = os.path.dirname(os.path.dirname(os.path.abspath(__file__))) + os.sep
    level, frame = 1, sys._getframe(1)
    while frame is not None and os.path.abspath(frame.f_code.co_filename).startswith(package):
        level, frame = level + 1, frame.f_back
    return level


def main_runs_again() -> bool:
    """Whether a worker process, importing the main module again as every new process
    of a local cluster does, would run this very call again: the main module is a
    script whose top level is making the call outside an ``if __name__ ==
    "__main__":`` block. Such a worker would try to start a cluster of its own and
    die, and its nanny would start it again, until the cluster gave up.

    Returns
    -------
    bool
        True for a call outside the guard at a script's top level.

    Examples
    --------
    >>> main_runs_again()  # doctest: +SKIP
    False
    """
    main = sys.modules.get("__main__")
    path = getattr(main, "__file__", None)
    if path is None or not os.path.isfile(path):
        return False
    line, frame = None, sys._getframe(1)
    while frame is not None:
        if frame.f_globals is main.__dict__ and frame.f_code.co_name == "<module>":
            line = frame.f_lineno
        frame = frame.f_back
    if line is None:
        return False
    try:
        with open(path, "rb") as f:
            tree = ast.parse(f.read())
    except (OSError, SyntaxError, ValueError):
        return False
    return not _guarded(tree.body, line)


def _workers_are_processes():
    """Whether the local cluster's workers can be processes rather than threads of this
    one; warns where they cannot because they would run the calling script again."""
    if getattr(multiprocessing.process.current_process(), "_inheriting", False):
        raise ClusterError(
            "landuse.sweep was called while a worker process was starting: in a script, "
            'call it under `if __name__ == "__main__":`'
        )
    processes = main_is_importable()
    if processes and main_runs_again():
        warnings.warn(
            "landuse.sweep runs its workers as threads of this process: worker processes would run "
            'this script\'s top level again (in a script, call it under `if __name__ == "__main__":` '
            "for worker processes)",
            LanduseWarning,
            stacklevel=_outside_the_package(),
        )
        processes = False
    return processes


def _temporary_security():
    """TLS settings with a certificate made for one cluster alone."""
    from distributed.security import Security

    try:
        return Security.temporary()
    except ImportError:
        raise ClusterError(
            "the local cluster's TLS certificate needs cryptography (Debian: " "python3-cryptography)"
        ) from None


def _wait_for_workers(cluster, wanted):
    """Waits until the cluster has its workers; closes it and raises when they are late."""
    deadline = time.monotonic() + WORKER_START_TIMEOUT
    while len(cluster.scheduler.workers) < wanted:
        if time.monotonic() > deadline:
            with contextlib.suppress(Exception):
                cluster.close(timeout=10)
            raise ClusterError(
                f"the local cluster's workers did not start within {WORKER_START_TIMEOUT} s; in a "
                'script, call landuse.sweep under `if __name__ == "__main__":`'
            )
        time.sleep(0.05)


def local_client(workers: int) -> tuple[Client, SpecCluster]:
    """A client of a new local cluster: one single-threaded worker process per run
    at a time, listening on the loopback interface only, serving no web pages (no
    HTTP server at all). Its scheduler, workers and client speak TLS with a
    certificate made for this cluster alone and ask it of whoever connects, so no
    other process, of this user or another, can join the cluster or run code on it.
    Where the worker processes could not import the main module (a script on
    stdin), the workers are threads of this process, reached without any network;
    the model's steps let go of the interpreter, so they still run side by side.

    Parameters
    ----------
    workers : int
        Worker processes (or threads).

    Returns
    -------
    tuple of (distributed.Client, distributed.SpecCluster)
        The client and its cluster, both to close.

    Raises
    ------
    ClusterError
        Called while a worker process starts, no cryptography for the
        certificate, or workers that did not start in time.

    Warns
    -----
    LanduseWarning
        The workers are threads, as the call would run again in worker processes.

    Examples
    --------
    >>> client, cluster = local_client(2)  # doctest: +SKIP
    """
    import dask
    from distributed import Client, Nanny, SpecCluster

    from .cluster_nodes import QuietScheduler, QuietWorker, QuietWorkerProcess

    processes = _workers_are_processes()
    if processes:
        security = _temporary_security()
        where = {"host": "127.0.0.1", "protocol": "tls://", "security": security}
    else:
        security = None
        where = {"protocol": "inproc://"}
    # The scheduler runs in this process: its debugging logs, a few entries per run
    # up to 100 000 by default, would grow its memory for the first 100 000 runs.
    short_logs = {"distributed.scheduler.transition-log-length": 1000, "distributed.scheduler.events-log-length": 1000}
    options = {
        **where,
        "nthreads": 1 if processes else workers,
        "memory_limit": "auto",
        "dashboard": False,
        "silence_logs": logging.WARN,
    }
    if processes:
        worker = {"cls": Nanny, "options": {**options, "worker_class": QuietWorkerProcess}}
    else:
        worker = {"cls": QuietWorker, "options": options}
    scheduler = {"cls": QuietScheduler, "options": {**where, "port": 0, "dashboard": False}}
    with dask.config.set(short_logs):
        cluster = SpecCluster(
            scheduler=scheduler, workers={}, worker=worker, security=security, silence_logs=logging.WARN
        )
        cluster.scale(workers if processes else 1)
    # Waited for here, not by the client, which would wait for ever for workers that cannot start.
    _wait_for_workers(cluster, workers if processes else 1)
    client = Client(cluster, security=security)
    return client, cluster


def quiet_local_client(workers: int) -> tuple[Client, SpecCluster]:
    """``local_client(workers)`` without Dask's statistical profiler, which samples
    the event loop of this process (where the local scheduler runs) every 10 ms and
    keeps the last 1000 one-second profiles: some hundreds of bytes more per run of a
    sweep for its first quarter of an hour, for a dashboard the local cluster never serves.

    Parameters
    ----------
    workers : int
        Worker processes (or threads).

    Returns
    -------
    tuple of (distributed.Client, distributed.SpecCluster)
        As ``local_client``.

    Raises
    ------
    ClusterError
        As ``local_client``.
    """
    import dask
    import distributed  # noqa: F401  (its defaults in the configuration first, or leaving the block would drop them)

    with dask.config.set({"distributed.worker.profile.enabled": False}):
        return local_client(workers)


def check_scheduler_address(address: str) -> None:
    """Raises ValueError, in one line, unless address reads as a scheduler's
    ("tcp://host:8786", the scheme tcp unless given): found before any cluster is
    started or run made, rather than as Dask's traceback when connecting.

    Parameters
    ----------
    address : str
        A scheduler's address.

    Raises
    ------
    LanduseValueError
        An address of no known scheme, host or port.

    Examples
    --------
    >>> check_scheduler_address("tcp://127.0.0.1:8786")
    """
    from distributed.comm import registry
    from distributed.comm.addressing import parse_address, parse_host_port

    shown = repr(address[:80] + ("\u2026" if len(address) > 80 else ""))
    try:
        scheme, location = parse_address(address)
        if scheme not in set(registry.backends) - {"inproc"}:
            raise LanduseValueError(f"no scheme {scheme!r}")
        host, port = parse_host_port(location)
        if not host or re.search(r"[\s\x00-\x1f\x7f]", host) or not 1 <= port <= 65535:
            raise LanduseValueError("a host and a port 1..65535 are needed")
    except ValueError as e:
        raise LanduseValueError(f"{shown} is no scheduler address like tcp://host:8786 ({e})") from None


def connect(client: Client | str | None) -> tuple[Client, SpecCluster | None, bool]:
    """(client, cluster to close or None, whether the client is ours to close).

    Parameters
    ----------
    client : distributed.Client, str or None
        A client, a scheduler's address, or None for a local cluster.

    Returns
    -------
    tuple
        The client, the cluster to close or None, and whether the client is ours to close.

    Raises
    ------
    LanduseValueError
        A malformed address.
    ClusterError
        The local cluster could not be started.
    """
    from distributed import Client

    if client is None:
        client, cluster = quiet_local_client(default_workers())
        return client, cluster, True
    if isinstance(client, str):
        check_scheduler_address(client)
        return Client(client, timeout=CONNECT_TIMEOUT), None, True
    return client, None, False
