"""Gridded climate from Python: kelmar.extract against kelmar-cli extract,
and kelmar.batch(..., grid=...) against kelmar-cli extract then batch of
the same sites, byte for byte; a Dataset as well as a file; the refusals."""
import filecmp
import os
import warnings

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import kelmar
import kelmar.dask
from dask_cluster import local_client
from programs import CLIMATE, SITE, cli

YEARS = 8  # enough for the estimate's regressions (five)


def grid_dataset():
    """A 3 x 3 grid in K and kg m-2 s-1 whose weather varies from year to
    year, one corner cell sea (no data), latitudes north to south."""
    rng = np.random.default_rng(3)
    months = pd.date_range("1991-01-01", periods=YEARS * 12, freq="MS")
    season = np.cos(2 * np.pi * (months.month.to_numpy() - 7) / 12)[:, None, None]
    shape = (len(months), 3, 3)
    air = 275.0 + 10 * season + 2 * rng.normal(size=shape)
    rain = 2e-5 * np.exp(0.4 * rng.normal(size=shape))
    air[:, 0, 2] = np.nan
    rain[:, 0, 2] = np.nan
    coords = {"time": months, "lat": [62.0, 61.0, 60.0], "lon": [24.0, 25.0, 26.0]}
    dims = ("time", "lat", "lon")
    return xr.Dataset({
        "tas": xr.DataArray(air, dims=dims, coords=coords, attrs={"standard_name": "air_temperature", "units": "K"}),
        "pr": xr.DataArray(rain, dims=dims, coords=coords,
                           attrs={"standard_name": "precipitation_flux", "units": "kg m-2 s-1"}),
    })


# A site on land, one whose cell is sea (takes its neighbour), one outside the grid.
SITES = pd.DataFrame({"site_id": ["land", "coast", "away"], "lat": [60.1, 62.1, 40.0], "lon": [24.9, 26.1, 25.0]})


@pytest.fixture
def grid_file(tmp_path):
    path = tmp_path / "grid.nc"
    ds = grid_dataset()
    for name in ("lat", "lon"):
        ds[name].attrs["units"] = "degrees_north" if name == "lat" else "degrees_east"
    ds.to_netcdf(path)
    SITES.to_csv(tmp_path / "sites.csv", index=False)
    return path


@pytest.mark.parametrize("given", ["file", "dataset"])
def test_extract_writes_what_kelmar_cli_writes(tmp_path, grid_file, given):
    cli("extract", "--grid", str(grid_file), "--sites", "sites.csv", "--out", "cli.csv", "--cells", "cli-cells.csv",
        cwd=tmp_path, expect=1)  # the site outside the grid fails
    grid = grid_file if given == "file" else grid_dataset()
    with pytest.warns(kelmar.KelmarWarning, match=r"1 of 3 sites failed(.|\n)*\"away\""):
        path = kelmar.extract(grid, SITES, tmp_path / "py.csv", cells=tmp_path / "py-cells.csv")
    assert path == str(tmp_path / "py.csv")
    for mine, theirs in (("py.csv", "cli.csv"), ("py-cells.csv", "cli-cells.csv")):
        assert filecmp.cmp(tmp_path / mine, tmp_path / theirs, shallow=False), f"{given}: {mine} differs"
    cells = pd.read_csv(tmp_path / "py-cells.csv").set_index("site_id")
    assert (cells.loc["coast", "cell_lat"], cells.loc["coast", "cell_lon"]) == (62.0, 25.0), cells


def test_batch_from_a_grid_equals_extract_then_batch(tmp_path, grid_file):
    rows = SITES.iloc[:2].assign(site_file=SITE, climate_file=CLIMATE)  # the grid has no soil temperature
    rows.to_csv(tmp_path / "list.csv", index=False)
    cli("extract", "--grid", str(grid_file), "--sites", "list.csv", "--out", "stations.csv", cwd=tmp_path)
    rows.assign(weather_file="stations.csv").to_csv(tmp_path / "list-cli.csv", index=False)
    cli("batch", "--sites", "list-cli.csv", "--out", "cli", "--seed", "4", "--estimate-climate", "--run-years", "3",
        "--quiet", cwd=tmp_path)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        runs = kelmar.batch(rows, out=tmp_path / "py", seed=4, run_years=3, estimate_climate=True,
                            grid=grid_dataset())
    assert runs.sites == 2 and runs.failed == 0, runs
    for name in ("monthly.csv", "annual.csv"):
        assert filecmp.cmp(tmp_path / "py" / name, tmp_path / "cli" / name, shallow=False), name
    assert os.path.exists(tmp_path / "py" / "cells.csv")
    assert not [name for name in os.listdir(tmp_path / "py") if name.startswith(".kelmar-grid")]  # the Dataset's file
    # On Dask workers, each a shard of the batch, the Dataset written where every worker reads it.
    with local_client(2, processes=False) as client:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            runs = kelmar.dask.simulate_sites(rows, client, partitions=2, out=tmp_path / "dask", seed=4, run_years=3,
                                              estimate_climate=True, grid=grid_dataset())
    assert runs.failed == 0, runs
    for name in ("monthly.csv", "annual.csv"):
        assert filecmp.cmp(tmp_path / "dask" / name, tmp_path / "cli" / name, shallow=False), f"Dask: {name}"


@pytest.mark.parametrize("what,call,kind,text", [
    ("grid without out", lambda tmp: kelmar.batch(SITES, grid="g.nc"), ValueError, "give out=FOLDER"),
    ("unknown grid option", lambda tmp: kelmar.batch(SITES, out=tmp / "o", grid=grid_dataset(),
                                                     grid_options={"methods": "nearest"}), ValueError, "not methods"),
    ("grid of another kind", lambda tmp: kelmar.extract(42, SITES, tmp / "s.csv"), TypeError, "not int"),
    ("sites without lon", lambda tmp: kelmar.extract(grid_dataset(), SITES[["site_id", "lat"]], tmp / "s.csv"),
     ValueError, "lacks lon"),
    ("unknown key", lambda tmp: kelmar.extract(grid_dataset(), SITES, tmp / "s.csv", var={"rain": "pr"}),
     ValueError, "not 'rain'"),
    ("missing file", lambda tmp: kelmar.extract(tmp / "none.nc", SITES, tmp / "s.csv"), kelmar.KelmarError,
     "none.nc"),
])
def test_refusals(tmp_path, what, call, kind, text):
    with pytest.raises(kind) as raised:
        call(tmp_path)
    assert isinstance(raised.value, kelmar.KelmarError), f"{what}: {type(raised.value)}"
    assert text in str(raised.value), f"{what}: {raised.value}"
    assert not os.path.exists(tmp_path / "s.csv"), f"{what}: wrote its output"
