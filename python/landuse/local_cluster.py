"""The Dask cluster a sweep starts on this machine when it is given none."""

import contextlib
import logging
import multiprocessing.process
import os
import sys
import time

# Seconds to wait for the local cluster's workers.
WORKER_START_TIMEOUT = 30


def default_workers():
    """One worker per CPU this process may use."""
    return len(os.sched_getaffinity(0))


def main_is_importable():
    """Whether a new process can import this program's main module again, as the
    local cluster's worker processes do: not for a script read from stdin."""
    main = sys.modules.get("__main__")
    if getattr(getattr(main, "__spec__", None), "name", None):
        return True
    path = getattr(main, "__file__", None)
    return path is None or os.path.isfile(path)


def local_client(workers):
    """A client of a new local cluster: one single-threaded worker process per run
    at a time, listening on the loopback interface only, serving no web pages (no
    HTTP server at all). Its scheduler, workers and client speak TLS with a
    certificate made for this cluster alone and ask it of whoever connects, so no
    other process, of this user or another, can join the cluster or run code on it.
    Where the worker processes could not import the main module (a script on
    stdin), the workers are threads of this process, reached without any network;
    the model's steps let go of the interpreter, so they still run side by side."""
    import dask
    from distributed import Client, Nanny, SpecCluster
    from distributed.security import Security

    from .cluster_nodes import QuietScheduler, QuietWorker, QuietWorkerProcess

    if getattr(multiprocessing.process.current_process(), "_inheriting", False):
        raise RuntimeError("landuse.sweep was called while a worker process was starting: in a script, "
                           "call it under `if __name__ == \"__main__\":`")
    processes = main_is_importable()
    if processes:
        try:
            security = Security.temporary()
        except ImportError:
            raise RuntimeError("the local cluster's TLS certificate needs cryptography (Debian: "
                               "python3-cryptography)") from None
        where = {"host": "127.0.0.1", "protocol": "tls://", "security": security}
    else:
        security = None
        where = {"protocol": "inproc://"}
    # The scheduler runs in this process: its debugging logs, a few entries per run
    # up to 100 000 by default, would grow its memory for the first 100 000 runs.
    short_logs = {"distributed.scheduler.transition-log-length": 1000,
                  "distributed.scheduler.events-log-length": 1000}
    options = {**where, "nthreads": 1 if processes else workers, "memory_limit": "auto", "dashboard": False,
               "silence_logs": logging.WARN}
    if processes:
        worker = {"cls": Nanny, "options": {**options, "worker_class": QuietWorkerProcess}}
    else:
        worker = {"cls": QuietWorker, "options": options}
    scheduler = {"cls": QuietScheduler, "options": {**where, "port": 0, "dashboard": False}}
    with dask.config.set(short_logs):
        cluster = SpecCluster(scheduler=scheduler, workers={}, worker=worker, security=security,
                              silence_logs=logging.WARN)
        cluster.scale(workers if processes else 1)
    # Waited for here, not by the client, which would wait for ever for workers that cannot start.
    wanted, deadline = workers if processes else 1, time.monotonic() + WORKER_START_TIMEOUT
    while len(cluster.scheduler.workers) < wanted:
        if time.monotonic() > deadline:
            with contextlib.suppress(Exception):
                cluster.close(timeout=10)
            raise RuntimeError(f"the local cluster's workers did not start within {WORKER_START_TIMEOUT} s; in a "
                               "script, call landuse.sweep under `if __name__ == \"__main__\":`")
        time.sleep(0.05)
    client = Client(cluster, security=security)
    return client, cluster
