#!/usr/bin/env python3
"""A batch into a folder from Python against kelmar-cli batch.

    PYTHONPATH=build/python /usr/bin/python3 bench/batch_folder_bench.py [SITES] [RUN_YEARS] [REPEATS]

1. kelmar.batch(LIST, out=FOLDER) of SITES sites (default 10,000: the rows
   of examples/region/sites.csv repeated under new ids, RUN_YEARS simulated
   years each, default 500) against `kelmar-cli batch` of the same list,
   both on every core: the wall time and the peak resident memory of each
   process (/usr/bin/time's count), and that of an interpreter that only
   imports kelmar (pandas, numpy, the extension), the floor of the module's.
2. kelmar.dask.simulate_sites(LIST, out=FOLDER) on a local cluster of two
   single-thread worker processes (started before the clock starts)
   against `kelmar-cli batch --jobs 2`.
Each run is a process of its own, so that one's peak does not hide the
next's; each figure is the best of REPEATS runs (default 3), the pairs
interleaved so that the machine's other load falls on both alike.
"""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import time

import pandas as pd

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")
CLI = os.environ.get("KELMAR_CLI", os.path.join(ROOT, "build", "src", "cli", "kelmar-cli"))

# The Python side of a run, in a process of its own: it prints its wall
# time in seconds (of the call only, not of the imports or the cluster's start).
MODULE_RUN = """
import sys, time, warnings
import kelmar
warnings.simplefilter("ignore")
start = time.perf_counter()
kelmar.batch(sys.argv[1], out=sys.argv[2], seed=1, run_years=int(sys.argv[3]))
print(time.perf_counter() - start)
"""
DASK_RUN = """
import sys, time, warnings
warnings.simplefilter("ignore")
import kelmar.dask
from distributed import Client, LocalCluster
if __name__ == "__main__":
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    client = Client(cluster)
    start = time.perf_counter()
    kelmar.dask.simulate_sites(sys.argv[1], client, out=sys.argv[2], seed=1, run_years=int(sys.argv[3]))
    print(time.perf_counter() - start)
    client.close()
    cluster.close()
"""


def measured(command: list[str], cwd: str, allowed: tuple[int, ...] = (0,)) -> tuple[float, float, str]:
    """Wall seconds and peak resident MiB of `command` (its own process,
    counted by /usr/bin/time: a child forked from this process would
    start its count at this process's size), and what it printed."""
    with tempfile.NamedTemporaryFile("r", suffix=".peak") as peak_file:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file.name, *command], cwd=cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        wall = time.perf_counter() - start
        if done.returncode not in allowed:
            raise SystemExit(f"{' '.join(command)} exited {done.returncode}")
        peak_kib = float(peak_file.read().split()[-1])
    return wall, peak_kib / 1024, done.stdout


def main() -> None:
    sites_count = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    run_years = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    region = pd.read_csv(os.path.join(EXAMPLES, "region", "sites.csv"))
    sites = pd.DataFrame([region.iloc[i % len(region)] for i in range(sites_count)]).reset_index(drop=True)
    sites["site_id"] = [f"s{i:05d}" for i in range(sites_count)]
    sites["climate_file"] = os.path.join(EXAMPLES, "climat.cld")
    work = tempfile.mkdtemp(prefix="kelmar-folder-bench-")
    python = sys.executable
    # The children run in the work folder: the package's folder by its full name.
    os.environ["PYTHONPATH"] = os.pathsep.join(os.path.abspath(p) for p in sys.path if p and os.path.isdir(p))
    try:
        sites.to_csv(os.path.join(work, "sites.csv"), index=False)

        def fresh(name: str) -> str:
            shutil.rmtree(os.path.join(work, name), ignore_errors=True)
            return name

        cli = lambda *extra: [CLI, "batch", "--sites", "sites.csv", "--out", fresh("cli"), "--seed", "1",  # noqa: E731
                              "--run-years", str(run_years), "--quiet", *extra]
        best = {key: (float("inf"), 0.0) for key in ("cli", "module", "module process", "cli2", "dask")}

        def keep(key: str, wall: float, peak: float) -> None:
            best[key] = (min(best[key][0], wall), max(best[key][1], peak))

        _, floor, _ = measured([python, "-c", "import kelmar"], work)
        for _ in range(repeats):
            wall, peak, _ = measured(cli(), work, (0, 1))  # 1: some sites failed, still a batch
            keep("cli", wall, peak)
            wall, peak, printed = measured([python, "-c", MODULE_RUN, "sites.csv", fresh("py"), str(run_years)],
                                           work)
            keep("module", float(printed), peak)
            keep("module process", wall, peak)
            wall, peak, _ = measured(cli("--jobs", "2"), work, (0, 1))
            keep("cli2", wall, peak)
            _, peak, printed = measured([python, "-c", DASK_RUN, "sites.csv", fresh("dask"), str(run_years)], work)
            keep("dask", float(printed), peak)
        (cli_wall, cli_peak), (py_wall, py_peak) = best["cli"], best["module"]
        print(f"batch into a folder, {sites_count} sites of {run_years} years: kelmar.batch {py_wall:.2f} s "
              f"(the process with its imports {best['module process'][0]:.2f} s), peak {py_peak:.1f} MiB; "
              f"kelmar-cli batch {cli_wall:.2f} s, peak {cli_peak:.1f} MiB; "
              f"wall ratio {py_wall / cli_wall:.2f} (target 1.1), memory ratio {py_peak / cli_peak:.2f} (target 2); "
              f"an interpreter importing kelmar alone {floor:.1f} MiB")
        (cli2_wall, _), (dask_wall, dask_peak) = best["cli2"], best["dask"]
        print(f"dask, 2 worker processes: simulate_sites {dask_wall:.2f} s (peak of the client or a worker "
              f"{dask_peak:.1f} MiB); "
              f"kelmar-cli batch --jobs 2 {cli2_wall:.2f} s; ratio {dask_wall / cli2_wall:.2f} (target 1.3)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
