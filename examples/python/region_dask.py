#!/usr/bin/env python3
"""Runs the region's site list (examples/region/sites.csv, made by its
make_sites.py) across a Dask cluster: a local cluster of worker processes by
default, or the scheduler given as the first argument (tcp://host:8786).
The numbers are those of `kelmar-cli batch --sites sites.csv --seed 1`.

    cd ../region && python3 make_sites.py && cd ../python
    PYTHONPATH=../../build/python /usr/bin/python3 region_dask.py [SCHEDULER]
"""
import os
import sys
import time

import pandas as pd

import kelmar
import kelmar.dask

HERE = os.path.dirname(os.path.abspath(__file__))
REGION = os.path.join(os.path.dirname(HERE), "region")

if __name__ == "__main__":  # worker processes import this file again
    sites = pd.read_csv(os.path.join(REGION, "sites.csv"))
    client = None
    if len(sys.argv) > 1:
        from distributed import Client
        client = Client(sys.argv[1])
    start = time.perf_counter()
    # Paths in the list are relative to its folder.
    result = kelmar.dask.simulate_sites(sites, client=client, seed=1, folder=REGION)
    print(f"{len(sites)} sites in {time.perf_counter() - start:.1f} s, {len(result.errors)} failed")
    annual = result.annual.merge(sites[["site_id", "lat"]], on="site_id")
    means = annual.groupby("site_id", observed=True)[["lat", "t_ms_degC", "w_ms_vol_pct"]].mean()
    print(means.groupby("lat").mean().round(2).to_string())
