"""The local cluster's scheduler and workers: Dask's own, with no HTTP server.

Dask starts a web server on every scheduler and worker even without a dashboard;
the local cluster needs none, and a server that does not listen cannot be reached
by anyone. Imported only when a local cluster starts (Dask is optional)."""

import signal

from distributed import Scheduler, Worker

__all__ = [
    "QuietScheduler",
    "QuietWorker",
    "QuietWorkerProcess",
]


class QuietScheduler(Scheduler):
    """A scheduler that never listens for HTTP."""

    def start_http_server(self, routes, dashboard_address, default_port=0, ssl_options=None):
        pass


class QuietWorker(Worker):
    """A worker that never listens for HTTP."""

    def start_http_server(self, routes, dashboard_address, default_port=0, ssl_options=None):
        pass


class QuietWorkerProcess(QuietWorker):
    """The worker of a worker process, made there by its nanny. A Ctrl-C at the
    terminal reaches the whole process group; the sweep's process stops the
    cluster, so the worker processes ignore it rather than print tracebacks."""

    def __init__(self, *args, **kwargs):
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        super().__init__(*args, **kwargs)
