"""Batches of image files on a Dask distributed cluster.

>>> from dask.distributed import Client
>>> import ocrb.dask
>>> client = Client("tcp://scheduler:8786")          # or a LocalCluster
>>> results = ocrb.dask.read_files(paths, client=client, dpi=300)
>>> for path, r in zip(paths, results):
...     print(path, r.text if r.ok else r.error)

Every worker process creates one :class:`ocrb.Engine` per set of parameters, once, when the
batch is registered with it; each file is read by a task on some worker, and the results
come back in the order of ``paths``. A file that cannot be read, or that takes longer than
``timeout`` seconds, becomes a :class:`ReadFailure` in its place; the rest of the batch is
still read. The files must be
reachable under the same paths from every worker (a shared file system), and ``ocrb`` must
be importable there.
"""

from __future__ import annotations

import threading
from dataclasses import dataclass, field
from typing import Any, Iterable, Optional, Union

from distributed import WorkerPlugin

import ocrb

__all__ = ["read_files", "ReadFailure"]

_LIMITS = ("max_memory", "max_file_size", "max_pixels", "max_pages")
_READ_OPTIONS = ("dpi", "single_line", "line", "binarise", "deskew", "orientation") + _LIMITS

# Engines made in this process, by plugin name; a lock per engine, since a worker may run
# several tasks at once on its threads and an engine serves one thread at a time.
_engines: dict[str, tuple[ocrb.Engine, threading.Lock]] = {}
_engines_made = 0
_engines_lock = threading.Lock()


@dataclass(frozen=True)
class ReadFailure:
    """A file of the batch that could not be read: ``error`` is the message, ``kind`` the
    exception's class name (``ImageError``, ``FileNotFoundError``, ...), ``status`` the
    engine's status for ``ocrb`` errors (0 otherwise). When some pages of a TIFF or PDF were
    read, ``result`` holds them, and the failed ones with their ``error``."""

    source: str
    error: str
    kind: str
    status: int = 0
    ok: bool = field(default=False, init=False)
    result: Optional[ocrb.Result] = None


def _engine(name: str, parameters: dict[str, Any]) -> tuple[ocrb.Engine, threading.Lock]:
    global _engines_made
    with _engines_lock:
        if name not in _engines:
            _engines[name] = (ocrb.Engine(**parameters), threading.Lock())
            _engines_made += 1
        return _engines[name]


def engines_made() -> int:
    """How many engines this process has made (for checking that workers make one)."""
    return _engines_made


class _EnginePlugin(WorkerPlugin):
    """Makes the worker's engine when the plugin is registered, so that tasks find it ready."""

    def __init__(self, name: str, parameters: dict[str, Any]) -> None:
        self.name = name
        self.parameters = parameters

    def setup(self, worker: Any) -> None:
        _engine(self.name, self.parameters)


def _read_one(path: str, plugin: str, parameters: dict[str, Any],
              options: dict[str, Any]) -> Union[ocrb.Result, ReadFailure]:
    try:
        engine, lock = _engine(plugin, parameters)  # made by the plugin; made here if it was not
        with lock:
            return engine.read(path, **options)
    except ocrb.ImageError as e:
        return ReadFailure(str(path), e.reason, type(e).__name__, e.status, e.result)
    except ocrb.Error as e:
        return ReadFailure(str(path), e.reason, type(e).__name__, e.status)
    except Exception as e:  # noqa: BLE001 - one file's failure must not end the batch
        return ReadFailure(str(path), str(e), type(e).__name__)


def read_files(paths: Iterable[Any], client: Optional[Any] = None,
               timeout: Optional[float] = None,
               **params: Any) -> list[Union[ocrb.Result, ReadFailure]]:
    """Reads every file of ``paths`` on the cluster of ``client`` and returns one
    :class:`ocrb.Result` or :class:`ReadFailure` per path, in the order of ``paths``.

    ``timeout`` is the seconds each file may take, decoding and reading all its pages
    (``ocrb``'s --timeout by default); a file past it becomes a ``ReadFailure`` and the
    batch goes on. ``params`` are the parameters of :class:`ocrb.Engine` and the options
    ``dpi``, ``single_line``, ``line``, ``binarise``, ``deskew``, ``orientation``,
    ``max_memory``, ``max_file_size``, ``max_pixels`` and ``max_pages`` of
    :meth:`ocrb.Engine.read`. Without ``client``, the
    current client is used (``dask.distributed.get_client``), or a temporary
    ``LocalCluster`` of one worker process per core when there is none.
    Bad parameters raise ``TypeError`` or ``ValueError`` here, before anything is sent.
    """
    from distributed import Client, LocalCluster, get_client

    paths = [str(p) for p in paths]
    options = {k: params.pop(k) for k in _READ_OPTIONS if k in params}
    seconds = ocrb._ocrb.DEFAULT_TIMEOUT if timeout is None else timeout
    # The file's time bounds its decoding too, so that a page cannot take it all.
    options.update(timeout=seconds, file_timeout=seconds)
    ocrb.Engine(**params)  # refuses bad parameters in the caller, not on every worker
    ocrb._limits(seconds, seconds, *(options.get(k) for k in _LIMITS))
    name = "ocrb-engine-" + "-".join(f"{k}={params[k]}" for k in sorted(params))

    own_cluster = None
    if client is None:
        try:
            client = get_client()
        except ValueError:
            own_cluster = LocalCluster(threads_per_worker=1, processes=True)
            client = Client(own_cluster)
    try:
        client.register_worker_plugin(_EnginePlugin(name, params), name=name)
        futures = client.map(_read_one, paths, plugin=name, parameters=params, options=options,
                             pure=False)
        results: list[Union[ocrb.Result, ReadFailure]] = []
        for path, future in zip(paths, futures):
            try:
                results.append(future.result())
            except Exception as e:  # noqa: BLE001 - a lost worker costs its own files only
                results.append(ReadFailure(path, str(e), type(e).__name__))
        return results
    finally:
        if own_cluster is not None:
            client.close()
            own_cluster.close()
