"""Many sites across a Dask cluster: each worker runs a contiguous part of
the site list through kelmar.batch (the C++ batch on the worker's threads)
with the sites' places in the whole list, so any split gives the numbers of
one batch of the whole list."""
import io
import os
import time
import uuid

import numpy as np
import pandas as pd

import kelmar
from . import _kelmar


# Seconds between a part's looks at the stop event: each look asks the
# scheduler, so not after every site.
STOP_POLL = 0.5


class Stopped(Exception):
    """A part's end when the client stopped the sites (Ctrl-C)."""


def _stopping(stop_name):
    """The progress callback of a part: raises Stopped, which ends the
    part's batch as Ctrl-C ends kelmar.batch, once the client has set the
    event `stop_name`."""
    from distributed import Event
    stop = Event(stop_name)
    last = [time.monotonic()]

    def progress(done, failed, total):
        if time.monotonic() - last[0] < STOP_POLL:
            return
        last[0] = time.monotonic()
        if stop.is_set():
            raise Stopped(f"stopped after {done} of {total} sites")
    return progress


def _run_part(text, folder, seed, first_index, jobs, stop_name=None, start_year=1,
              run_years=_kelmar.MAX_RUN_YEARS):
    """On a worker: the part of the list starting at place `first_index`."""
    try:
        from distributed import get_worker
        worker = get_worker()
        # Newer releases keep the thread count on the worker's state.
        state = getattr(worker, "state", None)
        jobs = jobs or getattr(state, "nthreads", None) or worker.nthreads
    except (ImportError, ValueError, AttributeError):
        pass
    progress = None if stop_name is None else _stopping(stop_name)
    out = _kelmar.batch(text, kelmar.DATAFRAME_LIST_NAME, folder, seed, first_index, first_index, jobs or 0,
                        progress, start_year, run_years)
    return out


def simulate_sites(sites, client=None, partitions=None, seed=None, folder=None, jobs=None, start_year=None,
                   run_years=None):
    """Runs the sites of `sites` (a DataFrame of the site list's columns, or
    a list's path) on the workers of `client` (a distributed.Client; default:
    a LocalCluster of worker processes, closed again at the end) in
    `partitions` parts (default: one per worker) and gives the
    kelmar.BatchResult a one-process kelmar.batch(sites, seed=seed) gives.
    `seed` is the base seed (default: the clock, chosen once here); a bad
    list raises KelmarError before anything is sent; `start_year` and
    `run_years` as kelmar.batch takes them (ValueError before anything is
    sent). Failed sites raise or warn as kelmar.batch's do."""
    start_year, run_years = kelmar._simulated_years(start_year, run_years)
    seed = kelmar._seed(seed)
    if isinstance(sites, (str, os.PathLike)):
        path = os.path.abspath(os.fspath(sites))
        # Read and checked by the batch's reader (its size limit, no device waited on), then split here.
        sites = pd.read_csv(io.BytesIO(_kelmar.site_list_bytes(path)), dtype=str, keep_default_na=False)
        folder = folder if folder is not None else os.path.dirname(path)
    folder = os.path.abspath(folder if folder is not None else os.getcwd())
    text, name, _ = kelmar._site_list_text(sites)
    _kelmar.check_site_list(text, name, folder)  # the list's errors, with its lines, before any run
    if seed is None:
        seed = _kelmar.clock_seed()  # once, for every part

    own_cluster = None
    if client is None:
        from distributed import Client, LocalCluster
        own_cluster = LocalCluster(processes=True)
        client = Client(own_cluster)
    try:
        from distributed import Event
        # Ctrl-C (or any error) here stops the parts on the workers too: the
        # tasks not started are cancelled, and those running see the event.
        stop_event = Event(f"kelmar-stop-{uuid.uuid4().hex}", client=client)
        workers = max(1, len(client.scheduler_info()["workers"]))
        count = max(1, min(int(partitions or workers), len(sites)))
        bounds = np.linspace(0, len(sites), count + 1).astype(int)
        futures = []
        try:
            for start, stop in zip(bounds[:-1], bounds[1:]):
                part_text, _, _ = kelmar._site_list_text(sites.iloc[start:stop])
                futures.append(client.submit(_run_part, part_text, folder, seed, int(start), jobs, stop_event.name,
                                             start_year, run_years, pure=False))
            parts = client.gather(futures)
            stop_event.clear()  # every part has ended: the scheduler may forget the event
        except BaseException:
            stop_event.set()
            client.cancel(futures)
            raise
    finally:
        if own_cluster is not None:
            client.close()
            own_cluster.close()
    return _join(parts, seed)


def _join(parts, seed):
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
