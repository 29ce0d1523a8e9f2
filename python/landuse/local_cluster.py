"""The Dask cluster a sweep starts on this machine when it is given none."""

import contextlib
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
    at a time, listening on the loopback interface only, serving no web pages.
    Where the worker processes could not import the main module (a script on
    stdin), the workers are threads of this process; the model's steps let go of
    the interpreter, so they still run side by side."""
    import dask
    from distributed import Client, LocalCluster

    if getattr(multiprocessing.process.current_process(), "_inheriting", False):
        raise RuntimeError("landuse.sweep was called while a worker process was starting: in a script, "
                           "call it under `if __name__ == \"__main__\":`")
    processes = main_is_importable()
    # Worker processes talk over TCP on the loopback interface; threads need no network at all.
    where = {"host": "127.0.0.1"} if processes else {"protocol": "inproc://"}
    # Every node's web server listens on the loopback interface only and has no pages.
    loopback_only = "127.0.0.1:0"
    no_pages = {"distributed.scheduler.http.routes": [], "distributed.worker.http.routes": []}
    # The scheduler runs in this process: its debugging logs, a few entries per run
    # up to 100 000 by default, would grow its memory for the first 100 000 runs.
    short_logs = {"distributed.scheduler.transition-log-length": 1000,
                  "distributed.scheduler.events-log-length": 1000}
    with dask.config.set({**no_pages, **short_logs}):
        cluster = LocalCluster(n_workers=0, threads_per_worker=1 if processes else workers, processes=processes,
                               dashboard_address=None, scheduler_kwargs={"dashboard_address": loopback_only},
                               memory_limit="auto", **where)
        # The workers' web servers too: LocalCluster would give them a dashboard with an address of their own.
        cluster.new_spec["options"].update(dashboard=False, dashboard_address=loopback_only)
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
    client = Client(cluster)
    return client, cluster
