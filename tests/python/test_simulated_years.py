"""start_year and run_years of simulated weather against kelmar-cli's
--start-year and --run-years: the same numbers, the first years of the full
run under the years asked for, a netCDF time axis that decodes to
datetime64, and ValueError naming the argument for what cannot run.

Run by ctest with KELMAR_CLI and KELMAR_EXAMPLES set (see test_kelmar.py).
"""

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import kelmar
import kelmar.dask
from programs import CLIMATE, SITE, WEATHER, cli, read_exact

VALUES = [f["column"] for f in kelmar._kelmar.RESULT_FIELDS]


@pytest.mark.parametrize("start_year,run_years", [(1991, 30), (1, 1), (9500, 500), (2024, 77)])
def test_a_simulated_run_is_the_start_of_the_full_run_and_the_programs_table(tmp_path, start_year, run_years):
    full = kelmar.simulate(SITE, CLIMATE, seed=8)
    part = kelmar.simulate(SITE, CLIMATE, seed=8, start_year=start_year, run_years=run_years)
    what = f"start_year={start_year}, run_years={run_years}"
    years = np.arange(start_year, start_year + run_years)
    np.testing.assert_array_equal(part.annual["year"].to_numpy(), years, err_msg=what)
    np.testing.assert_array_equal(part.monthly["year"].to_numpy(), np.repeat(years, 12), err_msg=what)
    for kind in ("monthly", "annual"):
        ours, whole = getattr(part, kind), getattr(full, kind).iloc[:len(getattr(part, kind))]
        np.testing.assert_array_equal(ours[VALUES].to_numpy(), whole[VALUES].to_numpy(),
                                      err_msg=f"{what}: {kind} against the full run's first years (tolerance 0)")
    cli("simulate", "--site", SITE, "--climate", CLIMATE, "--seed", "8", "--start-year", str(start_year),
        "--run-years", str(run_years), "--table", str(tmp_path / "t.csv"))
    table = pd.read_csv(tmp_path / "t.csv", float_precision="round_trip")
    monthly = table[table.Month > 0]
    np.testing.assert_array_equal(monthly["Year"].to_numpy(), np.repeat(years, 12), err_msg=what)
    for field in kelmar._kelmar.RESULT_FIELDS:
        np.testing.assert_array_equal(part.monthly[field["column"]].to_numpy(), monthly[field["name"]].to_numpy(),
                                      err_msg=f"{what}: {field['column']} against kelmar-cli's table")


def test_an_ensemble_runs_the_years_asked_for(tmp_path):
    full = kelmar.simulate(SITE, CLIMATE, seed=3, replicates=3)
    part = kelmar.simulate(SITE, CLIMATE, seed=3, replicates=3, start_year=2001, run_years=20)
    for r in range(3):
        ours = part.annual[part.annual.replicate == r]
        whole = full.annual[full.annual.replicate == r].iloc[:20]
        np.testing.assert_array_equal(ours["year"].to_numpy(), np.arange(2001, 2021), err_msg=f"replicate {r}")
        np.testing.assert_array_equal(ours[VALUES].to_numpy(), whole[VALUES].to_numpy(), err_msg=f"replicate {r}")
    summary = kelmar.simulate(SITE, CLIMATE, seed=3, replicates=3, start_year=2001, run_years=20, summary=True)
    assert sorted(set(summary.summary_annual["year"])) == list(range(2001, 2021))
    assert (summary.summary_monthly["n"] == 3 * 20).all(), summary.summary_monthly["n"].unique()
    cli("simulate", "--site", SITE, "--climate", CLIMATE, "--seed", "3", "--replicates", "3", "--start-year", "2001",
        "--run-years", "20", "--summary", "--out", str(tmp_path / "ens"))
    expected = read_exact(tmp_path / "ens" / "summary_annual.csv")
    got = summary.summary_annual.astype({"site_id": object, "scenario": object})
    got["site_id"] = expected["site_id"]  # named by the site file's stem there
    pd.testing.assert_frame_equal(got, expected, check_exact=True, check_dtype=False)


SITES = pd.DataFrame([dict(site_id="sim", site_file=SITE, climate_file=CLIMATE, weather_file=""),
                      dict(site_id="obs", site_file=SITE, climate_file=CLIMATE, weather_file=WEATHER)])


def test_a_batch_gives_its_simulated_sites_the_years_and_observed_ones_their_records(tmp_path):
    SITES.to_csv(tmp_path / "sites.csv", index=False)
    cli("batch", "--sites", "sites.csv", "--out", "out", "--seed", "4", "--start-year", "1991", "--run-years", "30",
        "--format", "both", "--quiet", cwd=tmp_path)
    result = kelmar.batch(SITES, seed=4, start_year=1991, run_years=30)
    for name in ("monthly", "annual"):
        got = getattr(result, name).astype({"site_id": object})
        pd.testing.assert_frame_equal(got, read_exact(tmp_path / "out" / f"{name}.csv"), check_exact=True,
                                      obj=f"{name} against the program's {name}.csv")
    annual = result.annual
    assert list(annual[annual.site_id == "sim"].year) == list(range(1991, 2021))
    assert list(annual[annual.site_id == "obs"].year) == list(range(1961, 1991))
    # What users plot: the time axis decodes to datetime64, from the record's
    # first January to the simulated sites' last December.
    with xr.open_dataset(tmp_path / "out" / "results.nc") as ds:
        time = ds["time"].values
        assert np.issubdtype(time.dtype, np.datetime64), f"time decodes to {time.dtype}"
        assert (str(time[0])[:7], str(time[-1])[:7], len(time)) == ("1961-01", "2020-12", 720)


def test_dask_passes_the_years_through(tmp_path):
    pytest.importorskip("distributed")
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=1, processes=False) as cluster, Client(cluster) as client:
        parted = kelmar.dask.simulate_sites(SITES, client=client, partitions=2, seed=4, start_year=1991, run_years=30)
    whole = kelmar.batch(SITES, seed=4, start_year=1991, run_years=30)
    pd.testing.assert_frame_equal(parted.annual, whole.annual, check_exact=True)


# (arguments, the argument the message names, a piece of it)
REFUSED = [
    (dict(start_year=0), "start_year", "from 1 to 9500"),
    (dict(start_year=9992, run_years=9), "start_year", "from 1 to 9991"),
    (dict(start_year=1961.0), "start_year", "1961.0"),
    (dict(run_years=0), "run_years", "from 1 to 500, not 0"),
    (dict(run_years=501), "run_years", "not 501"),
    (dict(run_years=True), "run_years", "not True"),
    (dict(weather=WEATHER, start_year=1961), "start_year", "weather record runs its own years"),
    (dict(weather=WEATHER, run_years=10), "run_years", "weather record runs its own years"),
]


@pytest.mark.parametrize("kwargs,argument,piece", REFUSED, ids=[str(c[0]) for c in REFUSED])
def test_years_that_cannot_run_raise_value_error_naming_the_argument(kwargs, argument, piece):
    for run in (lambda: kelmar.simulate(SITE, CLIMATE, seed=1, **kwargs),
                lambda: kelmar.simulate(SITE, CLIMATE, seed=1, replicates=2, **kwargs)):
        with pytest.raises(ValueError) as raised:
            run()
        assert str(raised.value).startswith(argument) and piece in str(raised.value), str(raised.value)
    if "weather" not in kwargs:
        for run in (lambda: kelmar.batch(SITES, seed=1, **kwargs),
                    lambda: kelmar.dask.simulate_sites(SITES, client=object(), seed=1, **kwargs)):
            with pytest.raises(ValueError, match=f"^{argument}"):
                run()
