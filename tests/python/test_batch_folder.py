"""kelmar.batch(..., out=FOLDER), kelmar.open_batch and
kelmar.dask.simulate_sites(..., out=FOLDER) against kelmar-cli batch: the
same files byte for byte, tables read lazily that equal the in-memory ones,
and the refusals of a folder that holds no finished batch and of a list too
large for memory.

Lists of 130 sites (three chunks of the batch's 64) run 2 or 3 years each,
so that a stop, a resume and shards have chunks to work on while the suite
stays short.
"""
import filecmp
import os
import re
import warnings

import dask.array
import dask.dataframe as dd
import numpy as np
import pandas as pd
import pytest
import xarray as xr

import kelmar
import kelmar.dask
from dask_cluster import local_client
from programs import CLIMATE, SITE, WEATHER, cli, netcdf_differences

# Simulated sites, one observed record and one site whose climatology is
# missing (its run fails, the others go on): three chunks of the batch.
SITES = 130


def site_rows(count=SITES, broken=True):
    rows = [dict(site_id=f"s{i:03d}", site_file=SITE, climate_file=CLIMATE, weather_file="") for i in range(count)]
    rows[5]["weather_file"] = WEATHER
    if broken:
        rows[70]["climate_file"] = "absent.cld"
    return rows


SCENARIO_LIST = "scenario,delta_t,precip_factor,trend_t\nnone,0,1,\nwarm,2,0.9,3\n"
# The same scenarios as objects.
SCENARIO_OBJECTS = [kelmar.Scenario(name="none"), kelmar.Scenario(name="warm", delta_t=2, precip_factor=0.9,
                                                                   trend_t=3)]


@pytest.fixture
def lists(tmp_path):
    """A folder with the site list (sites.csv, relative names from it) and
    the scenario list (scenarios.csv)."""
    pd.DataFrame(site_rows()).to_csv(tmp_path / "sites.csv", index=False)
    pd.DataFrame(site_rows(broken=False)).to_csv(tmp_path / "whole.csv", index=False)
    (tmp_path / "scenarios.csv").write_text(SCENARIO_LIST)
    return tmp_path


def quietly(run):
    """`run()` with the warning of the failed site silenced."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", kelmar.KelmarWarning)
        return run()


def assert_same_files(got, expected, names, what):
    """Byte for byte; the netCDF files but for the time they were made."""
    for name in names:
        assert os.path.exists(expected / name), f"{what}: kelmar-cli wrote no {name}"
        if name.endswith(".nc"):
            differ = netcdf_differences(*((folder / name).read_bytes() for folder in (got, expected)))
            same = not differ
            assert same, f"{what}: {name} differs from kelmar-cli batch's at bytes {differ}"
        else:
            same = filecmp.cmp(got / name, expected / name, shallow=False)
        assert same, f"{what}: {name} differs from kelmar-cli batch's (byte for byte)"


TABLES = ["monthly.csv", "annual.csv", "errors.csv"]
NETCDF = ["results.nc", "results_annual.nc"]

# (what, kelmar.batch's keywords beyond the list, out and seed; kelmar-cli
# batch's options beyond --sites, --out and --seed; the files compared).
# A scenario list given as objects is written in another layout than the
# test's file, so its manifest (which holds the list's hash) differs.
FOLDER_CASES = [
    ("csv with a failed site", dict(run_years=3), ["--run-years", "3"], TABLES + ["manifest.txt"]),
    ("both formats, scenario list, replicates, pcg64",
     dict(format="both", scenarios="{dir}/scenarios.csv", replicates=2, run_years=2, rng="pcg64", start_year=1991),
     ["--format", "both", "--scenarios", "{dir}/scenarios.csv", "--replicates", "2", "--run-years", "2", "--rng",
      "pcg64", "--start-year", "1991"], TABLES + NETCDF + ["manifest.txt"]),
    ("netcdf single deflated, scenario objects",
     dict(format="netcdf", scenarios=SCENARIO_OBJECTS, run_years=2, netcdf_precision="single", netcdf_deflate=4),
     ["--format", "netcdf", "--scenarios", "{dir}/scenarios.csv", "--run-years", "2", "--netcdf-precision", "single",
      "--netcdf-deflate", "4"], ["errors.csv"] + NETCDF),
    ("summary of replicates, csv digits",
     dict(replicates=3, summary=True, run_years=2, csv_digits=6),
     ["--replicates", "3", "--summary", "--run-years", "2", "--csv-digits", "6"],
     ["summary_monthly.csv", "summary_annual.csv", "errors.csv", "manifest.txt"]),
]


def placed(value, folder):
    return value.format(dir=folder) if isinstance(value, str) else value


@pytest.mark.parametrize("what,keywords,options,files", FOLDER_CASES, ids=[c[0] for c in FOLDER_CASES])
def test_a_batch_into_a_folder_writes_the_programs_bytes(lists, monkeypatch, what, keywords, options, files):
    monkeypatch.chdir(lists)  # the list named as the program has it, in the messages too
    options = [placed(o, lists) for o in options]
    cli("batch", "--sites", "sites.csv", "--out", "cli", "--seed", "7", "--quiet", *options, cwd=lists, expect=1)
    keywords = {k: placed(v, lists) for k, v in keywords.items()}
    with pytest.warns(kelmar.KelmarWarning, match=f"1 of {SITES} sites failed; their messages are in py/errors.csv"):
        runs = kelmar.batch("sites.csv", out="py", seed=7, jobs=2, **keywords)
    assert_same_files(lists / "py", lists / "cli", files, what)
    assert not os.path.exists(lists / "py" / "parts"), f"{what}: parts left after the join"
    own = sorted(name for name in os.listdir(lists / "py") if not name.startswith(".kelmar-"))  # scenario objects
    assert own == sorted(os.listdir(lists / "cli")), f"{what}: other files"
    assert repr(runs) == f"BatchFolder(sites={SITES}, failed=1, folder='py')"
    # Each table the folder holds, read lazily, is the program's table, every number exact (the
    # dtypes are held to the in-memory frames' below; pcg64 seeds are uint64 whatever their size).
    readers = {"monthly.csv": runs.monthly, "annual.csv": runs.annual, "summary_monthly.csv": runs.summary,
               "summary_annual.csv": lambda: runs.summary(annual=True)}
    for name in set(files) & set(readers):
        expected = pd.read_csv(lists / "cli" / name, float_precision="round_trip", keep_default_na=False,
                               na_values=[""], dtype={c: object for c in ("site_id", "scenario", "variable")})
        pd.testing.assert_frame_equal(readers[name]().compute().reset_index(drop=True).astype({"site_id": object}),
                                      expected, check_exact=True, check_dtype=False,
                                      obj=f"{what}: {name} read lazily")


def test_lazy_tables_equal_the_in_memory_batch(lists):
    frame = pd.DataFrame(site_rows(broken=True))
    memory = quietly(lambda: kelmar.batch(frame, seed=3, run_years=2, folder=lists))
    runs = quietly(lambda: kelmar.batch(frame, seed=3, run_years=2, folder=lists, out=lists / "out", format="both"))
    for kind in ("monthly", "annual"):
        lazy = getattr(runs, kind)()
        assert isinstance(lazy, dd.DataFrame), f"{kind}(): {type(lazy)}, not a Dask DataFrame"
        expected = getattr(memory, kind)
        for how, got in (("lazy", lazy.compute()), ("pandas", getattr(runs, kind)(lazy=False))):
            pd.testing.assert_frame_equal(got.reset_index(drop=True), expected, check_exact=True,
                                          obj=f"{kind}() {how} against the in-memory {kind} (tolerance 0)")
    # The DataFrame is the list file the folder keeps, named in the messages.
    named = memory.errors.assign(message=memory.errors.message.str.replace(
        '"sites DataFrame"', f'"{lists / "out" / ".kelmar-sites.csv"}"', regex=False))
    pd.testing.assert_frame_equal(runs.errors(), named, obj="errors() against the in-memory errors")
    # open_batch of the same folder: site_id text without the list, in list order with it.
    assert kelmar.open_batch(lists / "out").annual(lazy=False)["site_id"].dtype == object
    pd.testing.assert_frame_equal(kelmar.open_batch(lists / "out", sites=frame).annual().compute(), memory.annual,
                                  check_exact=True, obj="open_batch(sites=) annual")
    for annual in (False, True):
        name = "results_annual.nc" if annual else "results.nc"
        lazy = runs.to_xarray(annual=annual)
        assert all(isinstance(v.data, dask.array.Array) for v in lazy.data_vars.values() if v.ndim > 1), \
            f"to_xarray(annual={annual}) holds values that are not Dask arrays"
        with xr.open_dataset(lists / "out" / name) as whole:
            xr.testing.assert_identical(lazy.load(), whole.load())
        lazy.close()
    # Another list into the same folder is refused; the list the folder's errors.csv names stays.
    before = (lists / "out" / ".kelmar-sites.csv").read_bytes()
    with pytest.raises(kelmar.KelmarError, match="holds a batch of another list"):
        kelmar.batch(frame.iloc[:3], seed=3, out=lists / "out", folder=lists)
    assert (lists / "out" / ".kelmar-sites.csv").read_bytes() == before, "the folder's list was written over"


# (what, how the folder is made, the start of the message)
NOT_A_BATCH = [
    ("an empty folder", lambda d: d.mkdir(), "holds no batch (no manifest.txt)"),
    ("no folder", lambda d: None, "does not exist"),
    ("a text as manifest", lambda d: (d.mkdir(), (d / "manifest.txt").write_text("hello\n")),
     "is not a batch manifest"),
]


@pytest.mark.parametrize("what,make,message", NOT_A_BATCH, ids=[c[0] for c in NOT_A_BATCH])
def test_open_batch_refuses_a_folder_without_a_batch(tmp_path, what, make, message):
    make(tmp_path / "out")
    with pytest.raises(kelmar.KelmarError, match=re.escape(message)):
        kelmar.open_batch(tmp_path / "out")


class Stop(Exception):
    pass


def stop_after(sites):
    def progress(done, failed, total):
        if done >= sites:
            raise Stop(f"{done} done")
    return progress


def test_a_stopped_batch_is_unfinished_and_resumes_to_the_programs_bytes(lists):
    cli("batch", "--sites", "whole.csv", "--out", "cli", "--seed", "5", "--run-years", "2", "--quiet", cwd=lists)
    with pytest.raises(Stop):
        kelmar.batch(lists / "whole.csv", out=lists / "py", seed=5, run_years=2, jobs=1, progress=stop_after(70))
    with pytest.raises(kelmar.KelmarError, match=f'The batch in "{lists / "py"}" is not finished.*resume=True'):
        kelmar.open_batch(lists / "py")
    reports = []
    kelmar.batch(lists / "whole.csv", out=lists / "py", seed=5, run_years=2, jobs=1, resume=True,
                 progress=lambda done, failed, total: reports.append(done))
    assert reports[0] >= 64, f"the resumed batch began at {reports[0]} sites done: its finished chunks ran again"
    assert_same_files(lists / "py", lists / "cli", TABLES + ["manifest.txt"], "resumed")


def test_to_xarray_of_a_csv_batch_says_to_ask_for_netcdf(lists):
    runs = quietly(lambda: kelmar.batch(lists / "sites.csv", out=lists / "out", seed=1, run_years=2))
    with pytest.raises(kelmar.KelmarValueError, match="format 'netcdf' or 'both'"):
        runs.to_xarray()


# A list whose tables are estimated just above the in-memory limit: 500
# years of (fields + year, month, site) doubles, twelve months and a year.
ROW_BYTES = (len(kelmar._kelmar.RESULT_FIELDS) + 3) * 8
TOO_MANY = kelmar.IN_MEMORY_LIMIT_BYTES // (500 * 13 * ROW_BYTES) + 1


@pytest.mark.parametrize("run", [kelmar.batch, kelmar.dask.simulate_sites], ids=["batch", "dask"])
def test_a_list_too_large_for_memory_is_refused_before_it_runs(run):
    frame = pd.DataFrame(site_rows(TOO_MANY, broken=False))
    with pytest.raises(kelmar.KelmarValueError, match=f"{TOO_MANY} sites of 500 years .* give out=FOLDER"):
        run(frame, seed=1)  # the dask route refuses before any cluster starts
    with pytest.raises(kelmar.KelmarValueError, match="replicates belongs to a batch into a folder: give out="):
        run(frame.iloc[:1], seed=1, replicates=2)


def test_dask_shards_write_the_programs_bytes_and_resume(lists):
    # The list by its full name: the workers' working folders need not be the client's.
    batch = ["batch", "--sites", str(lists / "sites.csv"), "--seed", "9", "--run-years", "2", "--format", "both",
             "--quiet"]
    cli(*batch, "--out", "cli", cwd=lists, expect=1)
    options = dict(seed=9, run_years=2, format="both")
    # A share already run by hand: the resumed cluster runs only the other's chunks.
    cli(*batch, "--out", "resumed", "--shard", "0/2", cwd=lists)  # its chunks hold no failed site
    kept = (lists / "resumed" / "parts" / "shard-0-of-2.monthly.csv").stat().st_mtime_ns
    with local_client(2, processes=True) as client:
        runs = quietly(lambda: kelmar.dask.simulate_sites(lists / "sites.csv", client, out=lists / "py", **options))
        resumed = quietly(lambda: kelmar.dask.simulate_sites(lists / "sites.csv", client, out=lists / "resumed",
                                                             resume=True, keep_parts=True, **options))
    assert_same_files(lists / "py", lists / "cli", TABLES + NETCDF + ["manifest.txt"], "two shards")
    # With the parts kept the manifest is not marked joined (as kelmar-cli merge --keep-parts leaves it).
    assert_same_files(lists / "resumed", lists / "cli", TABLES + NETCDF, "resumed shards")
    assert (lists / "resumed" / "parts" / "shard-0-of-2.monthly.csv").stat().st_mtime_ns == kept, \
        "the share finished before the resume was written again"
    assert (runs.sites, runs.failed) == (SITES, 1) and resumed.failed == 1
