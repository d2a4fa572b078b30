"""Many sites across a Dask cluster. Into a folder (out=), each worker runs
its share of the list as a shard of the batch (kelmar-cli batch --shard
K/N), writing the chunks of its share into the folder's parts itself, and
the client joins them (kelmar-cli merge): the results never pass through
the client, and any split gives the bytes of one batch. Without a folder,
each worker runs a contiguous part of the list through kelmar.batch with
the sites' places in the whole list, and the client joins the tables."""
from __future__ import annotations

import io
import os
import time
import uuid
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd

import kelmar
from . import _folder, _grid, _kelmar

if TYPE_CHECKING:
    from distributed import Client, LocalCluster


# Seconds between a part's looks at the stop event: each look asks the
# scheduler, so not after every site.
STOP_POLL = 0.5


class Stopped(Exception):
    """A part's end when the client stopped the sites (Ctrl-C)."""


def _stopping(stop_name: str) -> Callable[[int, int, int], None]:
    """The progress callback of a part: raises Stopped, which ends the
    part's batch as Ctrl-C ends kelmar.batch, once the client has set the
    event `stop_name`."""
    from distributed import Event
    stop = Event(stop_name)
    last = [time.monotonic()]

    def progress(done: int, failed: int, total: int) -> None:
        if time.monotonic() - last[0] < STOP_POLL:
            return
        last[0] = time.monotonic()
        if stop.is_set():
            raise Stopped(f"stopped after {done} of {total} sites")
    return progress


def _worker_jobs(jobs: int | None) -> int:
    """The threads of a part: those asked for, or the worker's."""
    try:
        from distributed import get_worker
        worker = get_worker()
        # Newer releases keep the thread count on the worker's state.
        state = getattr(worker, "state", None)
        jobs = jobs or getattr(state, "nthreads", None) or worker.nthreads
    except (ImportError, ValueError, AttributeError):
        pass
    return int(jobs or 0)


def _run_part(text: str, folder: str, seed: int, first_index: int, jobs: int | None, stop_name: str | None = None,
              start_year: int = 1, run_years: int = _kelmar.MAX_RUN_YEARS, estimate_climate: bool = False,
              reference: str = "") -> dict[str, Any]:
    """On a worker: the part of the list starting at place `first_index`."""
    progress = None if stop_name is None else _stopping(stop_name)
    return _kelmar.batch(text, kelmar.DATAFRAME_LIST_NAME, folder, seed, first_index, first_index,
                         _worker_jobs(jobs), progress, start_year, run_years, estimate_climate, reference)


def _run_shard(shard: str, options: dict[str, Any], stop_name: str) -> dict[str, Any]:
    """On a worker: shard `shard` ("K/N") of the batch into the folder,
    its chunks written into the folder's parts by this process."""
    options = dict(options, jobs=_worker_jobs(options["jobs"]))
    return _kelmar.run_batch(shard=shard, progress=_stopping(stop_name), **options)


class _Cluster:
    """The client given, or a LocalCluster of worker processes made for
    the call and closed again on leaving."""

    def __init__(self, client: Client | None) -> None:
        self.own: LocalCluster | None = None
        self.client = client

    def __enter__(self) -> Client:
        if self.client is None:
            from distributed import Client, LocalCluster
            self.own = LocalCluster(processes=True)
            self.client = Client(self.own)
        return self.client

    def __exit__(self, *exc: object) -> None:
        if self.own is not None and self.client is not None:
            self.client.close()
            self.own.close()


def _gather(client: Client, submit: Callable[[str], list[Any]]) -> list[Any]:
    """The results of the tasks `submit` sends (given the name of the stop
    event). Ctrl-C (or any error) here stops them on the workers too: the
    tasks not started are cancelled, and those running see the event."""
    from distributed import Event
    stop_event = Event(f"kelmar-stop-{uuid.uuid4().hex}", client=client)
    futures = []
    try:
        futures = submit(stop_event.name)
        results = client.gather(futures)
        stop_event.clear()  # every task has ended: the scheduler may forget the event
        return results
    except BaseException:
        stop_event.set()
        client.cancel(futures)
        raise


def simulate_sites(sites: pd.DataFrame | str | os.PathLike[str], client: Client | None = None,
                   partitions: int | None = None, seed: int | None = None,
                   folder: str | os.PathLike[str] | None = None, jobs: int | None = None,
                   start_year: int | None = None, run_years: int | None = None, *,
                   out: str | os.PathLike[str] | None = None, format: str = "csv", scenarios: Any = None,
                   replicates: int | None = None, rng: str = "lcg32", summary: bool = False,
                   netcdf_precision: str = "double", netcdf_deflate: int = 0, csv_digits: int | None = None,
                   resume: bool = False, keep_parts: bool = False, estimate_climate: bool = False,
                   reference: "tuple[int, int] | None" = None, save_climate: bool = False, grid: Any = None,
                   grid_options: "dict[str, Any] | None" = None) -> kelmar.BatchResult | _folder.BatchFolder:
    """Runs the sites of `sites` (a DataFrame of the site list's columns, or
    a list's path) on the workers of `client` (a distributed.Client; default:
    a LocalCluster of worker processes, closed again at the end) in
    `partitions` parts (default: one per worker).

    With `out`, a folder every worker can write, each part is a shard of
    the batch `kelmar-cli batch --sites LIST --out FOLDER` (--shard K/N),
    written by the worker into the folder's parts, then joined here as
    `kelmar-cli merge FOLDER` joins them: the folder holds the bytes of
    that batch run on one machine, and the kelmar.BatchFolder of
    kelmar.batch(..., out=) is returned. The batch options (`format`,
    `scenarios`, `replicates`, `rng`, `summary`, `netcdf_precision`,
    `netcdf_deflate`, `csv_digits`, `resume`, `keep_parts`,
    `estimate_climate`, `reference`, `save_climate`, `grid` and
    `grid_options`) are kelmar.batch's; resume=True after a stopped run
    runs only the chunks still missing. The list's files, and a list or
    grid given as a path, must lie under the same paths on every worker (a
    grid given as an xarray Dataset is written into the folder while the
    batch runs); each worker takes the records of the whole list from the
    grid before its share runs.

    Without `out`, it gives the kelmar.BatchResult a one-process
    kelmar.batch(sites, seed=seed) gives, for the lists kelmar.batch holds
    in memory. `seed` is the base seed (default: the clock, chosen once
    here); a bad list raises KelmarError before anything is sent;
    `start_year` and `run_years` as kelmar.batch takes them (ValueError
    before anything is sent). Failed sites raise or warn as kelmar.batch's
    do. `jobs` is the threads of each part (default: the worker's).

    >>> from distributed import Client
    >>> runs = kelmar.dask.simulate_sites("sites.csv", Client("tcp://head:8786"), seed=1, out="/shared/runs")
    >>> runs.annual().tsoil_degC.mean().compute()"""
    first_year, years = kelmar._simulated_years(start_year, run_years)
    start_year, run_years = first_year, years
    seed = kelmar._seed(seed)
    if out is not None:
        _folder.check_options(format, scenarios, replicates, rng, summary, csv_digits, netcdf_precision,
                              netcdf_deflate)
        options = dict(format=format, replicates=replicates or 0, rng=rng, summary=summary,
                       start_year=start_year, run_years=run_years, seed=seed, jobs=jobs,
                       netcdf_precision=netcdf_precision, netcdf_deflate=netcdf_deflate,
                       csv_digits=csv_digits or 0, resume=resume, keep_parts=keep_parts,
                       estimate_climate=estimate_climate, reference=kelmar._reference(reference),
                       save_climate=save_climate)
        out = os.path.abspath(os.fspath(out))
        if grid is None:
            if grid_options:
                raise kelmar.KelmarValueError("grid_options belong to grid=: give the grid as well.")
            return _shards(sites, client, partitions, out, folder, scenarios, options)
        if isinstance(grid, (str, os.PathLike)):
            grid = os.path.abspath(os.fspath(grid))
        elif isinstance(grid, (list, tuple)):
            grid = [os.path.abspath(os.fspath(g)) if isinstance(g, (str, os.PathLike)) else g for g in grid]
        with _grid.batch_grid(grid, out, dict(grid_options or {})) as gridded:
            return _shards(sites, client, partitions, out, folder, scenarios, dict(options, **gridded))
    for name, value, default in (("format", format, "csv"), ("scenarios", scenarios, None),
                                 ("replicates", replicates, None), ("rng", rng, "lcg32"),
                                 ("summary", summary, False), ("csv_digits", csv_digits, None),
                                 ("resume", resume, False), ("keep_parts", keep_parts, False),
                                 ("save_climate", save_climate, False), ("grid", grid, None)):
        if value != default:
            raise kelmar.KelmarValueError(f"{name} belongs to a batch into a folder: give out=FOLDER as well.")
    kelmar._check_in_memory(sites, years)
    if isinstance(sites, (str, os.PathLike)):
        path = os.path.abspath(os.fspath(sites))
        # Read and checked by the batch's reader (its size limit, no device waited on), then split here.
        table = pd.read_csv(io.BytesIO(_kelmar.site_list_bytes(path)), dtype=str, keep_default_na=False)
        folder = folder if folder is not None else os.path.dirname(path)
    else:
        table = sites
    folder = os.path.abspath(folder if folder is not None else os.getcwd())
    text, name, _ = kelmar._site_list_text(table)
    _kelmar.check_site_list(text, name, folder)  # the list's errors, with its lines, before any run
    if seed is None:
        seed = _kelmar.clock_seed()  # once, for every part

    with _Cluster(client) as cluster:
        workers = max(1, len(cluster.scheduler_info()["workers"]))
        count = max(1, min(int(partitions or workers), len(table)))
        bounds = np.linspace(0, len(table), count + 1).astype(int)

        def submit(stop_name: str) -> list[Any]:
            futures = []
            for start, stop in zip(bounds[:-1], bounds[1:]):
                part_text, _, _ = kelmar._site_list_text(table.iloc[start:stop])
                futures.append(cluster.submit(_run_part, part_text, folder, seed, int(start), jobs, stop_name,
                                             start_year, run_years, estimate_climate,
                                             kelmar._reference(reference), pure=False))
            return futures
        parts = _gather(cluster, submit)
    return _join(parts, seed)


def _shards(sites: pd.DataFrame | str | os.PathLike[str], client: Client | None, partitions: int | None, out: str,
            folder: str | os.PathLike[str] | None, scenarios: Any, options: dict[str, Any]) -> _folder.BatchFolder:
    """The batch into `out` as shards on the workers, joined here."""
    folder = os.fspath(folder) if folder is not None else None
    if isinstance(sites, (str, os.PathLike)):
        sites = os.path.abspath(os.fspath(sites))  # the workers' working folders are not this one
    if isinstance(scenarios, (str, os.PathLike)):
        scenarios = os.path.abspath(os.fspath(scenarios))
    list_path, scenario_path, ids = _folder.batch_inputs(sites, folder, scenarios, out)
    with _Cluster(client) as cluster:
        workers = max(1, len(cluster.scheduler_info()["workers"]))
        count = max(1, int(partitions or workers))
        # A share per worker; shards beyond the list's chunks would have nothing to run.
        count = min(count, max(1, -(-len(ids) // _folder.CHUNK_SITES)))
        shard_options = dict(options, sites=list_path, out=out, scenarios=scenario_path)

        def submit(stop_name: str) -> list[Any]:
            return [cluster.submit(_run_shard, f"{k}/{count}", shard_options, stop_name, pure=False)
                    for k in range(count)]
        shards = _gather(cluster, submit)
    for told in shards:
        _folder.warn_notes(told["notes"])
    # A share of one (a list of one chunk) is the whole batch: it joined its outputs itself.
    if count > 1:
        told = _kelmar.merge_batch(out, options["keep_parts"])
        _folder.warn_notes(told["notes"])
    return _folder.judged(_folder.BatchFolder(out, ids, told["failed"]))


def _join(parts: list[dict[str, Any]], seed: int) -> kelmar.BatchResult:
    ids = [i for part in parts for i in part["ids"]]
    offsets = np.cumsum([0] + [len(part["ids"]) for part in parts])
    seeds = np.concatenate([part["seeds"] for part in parts])
    tables = {}
    for kind in ("monthly", "annual"):
        codes = np.concatenate([part[kind][0] + offsets[k] for k, part in enumerate(parts)])
        years = np.concatenate([part[kind][1] for part in parts])
        months = np.concatenate([part[kind][2] for part in parts])
        values = np.concatenate([part[kind][3] for part in parts])
        tables[kind] = kelmar._frame(codes, ids, years, months, values, kind == "annual", seeds[codes])
    errors = pd.DataFrame({"site_id": pd.Series([i for p in parts for i in p["error_ids"]], dtype=object),
                           "message": pd.Series([m for p in parts for m in p["error_messages"]], dtype=object)})
    return kelmar._judged(kelmar.BatchResult(tables["monthly"], tables["annual"], errors, seed))
