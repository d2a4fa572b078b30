#!/usr/bin/env python3
"""The Python module's overhead, measured against the C++ underneath it.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [SITES] [REPEATS]

1. kelmar.simulate of the example site, 500 simulated years, with both
   DataFrames made, against the extension's bare run (the C++ run and the
   copy of its records into arrays) plus a DataFrame made of those arrays.
2. kelmar.batch of SITES sites (default 1,000: the rows of
   examples/region/sites.csv repeated under new ids) against
   `kelmar-cli batch` of the same list, both on every core.
3. What a Dask local cluster of two worker processes adds: starting it, and
   kelmar.dask.simulate_sites on it against kelmar.batch.
Each figure is the best of REPEATS runs (default 5; 3 for the batches).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas as pd

import kelmar
import kelmar.dask
from kelmar import _kelmar

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")
CLI = os.environ.get("KELMAR_CLI", os.path.join(ROOT, "build", "src", "cli", "kelmar-cli"))


def best(repeats, action):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times)


def bare_frames(out):
    """The DataFrames a user would make of the run's arrays by hand."""
    frames = []
    for kind in ("monthly", "annual"):
        years, months, values = out[kind]
        columns = {"year": years, "month": months}
        columns.update({f["column"]: values[:, i] for i, f in enumerate(_kelmar.RESULT_FIELDS)})
        frames.append(pd.DataFrame(columns))
    return frames


def main():
    sites_count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    site = kelmar.read_site(os.path.join(EXAMPLES, "soil.sit"))
    climate = kelmar.read_climatology(os.path.join(EXAMPLES, "climat.cld"))

    out = _kelmar.simulate(site._impl, climate._impl, None, 1)

    def through_module():
        result = kelmar.simulate(site, climate, seed=1)
        return result.monthly, result.annual

    # Interleaved rounds, the best of each: the machine's other load falls on all three alike.
    bare_run = frames = module = float("inf")
    for _ in range(repeats * 20):
        bare_run = min(bare_run, best(1, lambda: _kelmar.simulate(site._impl, climate._impl, None, 1)))
        frames = min(frames, best(1, lambda: bare_frames(out)))
        module = min(module, best(1, through_module))
    print(f"simulate, 500 years: module {module * 1e3:.2f} ms; C++ run {bare_run * 1e3:.2f} ms + "
          f"DataFrames {frames * 1e3:.2f} ms = {(bare_run + frames) * 1e3:.2f} ms; ratio {module / (bare_run + frames):.2f}")

    region = pd.read_csv(os.path.join(EXAMPLES, "region", "sites.csv"))
    rows = [region.iloc[i % len(region)].copy() for i in range(sites_count)]
    sites = pd.DataFrame(rows).reset_index(drop=True)
    sites["site_id"] = [f"s{i:05d}" for i in range(sites_count)]
    sites["climate_file"] = os.path.join(EXAMPLES, "climat.cld")
    work = tempfile.mkdtemp(prefix="kelmar-python-bench-")
    try:
        sites.to_csv(os.path.join(work, "sites.csv"), index=False)

        def program():
            shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
            subprocess.run([CLI, "batch", "--sites", "sites.csv", "--out", "out", "--seed", "1", "--quiet"],
                           cwd=work, check=True)

        batch_repeats = max(1, min(repeats, 3))
        cli_time = best(batch_repeats, program)
        module_time = best(batch_repeats, lambda: kelmar.batch(sites, seed=1))
        print(f"batch, {sites_count} sites: module {module_time:.2f} s; kelmar-cli batch {cli_time:.2f} s; "
              f"ratio {module_time / cli_time:.2f}")

        from distributed import Client, LocalCluster
        start = time.perf_counter()
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
        started = time.perf_counter() - start
        try:
            dask_time = best(batch_repeats, lambda: kelmar.dask.simulate_sites(sites, client=client, seed=1))
        finally:
            client.close()
            cluster.close()
        print(f"dask, 2 worker processes: cluster start {started:.2f} s; simulate_sites {dask_time:.2f} s "
              f"against kelmar.batch {module_time:.2f} s (+{dask_time - module_time:.2f} s)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
