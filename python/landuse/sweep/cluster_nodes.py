"""The local cluster's scheduler and workers: Dask's own, with no HTTP server.

Dask starts a web server on every scheduler and worker even without a dashboard;
the local cluster needs none, and a server that does not listen cannot be reached
by anyone. Imported only when a local cluster starts (Dask is optional)."""

import signal
from typing import Any

from distributed import Scheduler, Worker

__all__ = [
    "QuietScheduler",
    "QuietWorker",
    "QuietWorkerProcess",
]


class _NoHttpServer:
    """Dask's node with its HTTP server left out."""

    def start_http_server(
        self, routes: Any, dashboard_address: Any, default_port: int = 0, ssl_options: Any = None
    ) -> None:
        """Starts nothing: Dask's arguments are taken and ignored.

        Parameters
        ----------
        routes, dashboard_address, default_port, ssl_options
            As Dask passes them.
        """


class QuietScheduler(_NoHttpServer, Scheduler):
    """A scheduler that never listens for HTTP."""


class QuietWorker(_NoHttpServer, Worker):
    """A worker that never listens for HTTP."""


class QuietWorkerProcess(QuietWorker):
    """The worker of a worker process, made there by its nanny. A Ctrl-C at the
    terminal reaches the whole process group; the sweep's process stops the
    cluster, so the worker processes ignore it rather than print tracebacks."""

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        super().__init__(*args, **kwargs)
