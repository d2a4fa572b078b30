"""climatologies.nc of kelmar-cli batch --estimate-climate --save-climate:
the values of climatologies.csv on month and site_id as xarray reads them,
the same bytes from shards and a merge as from one run, the formats that
write it, BatchFolder.climatologies(), and CDO and ncdump taking the file.

70 sites (two chunks of the batch's 64, one per shard), run 2 years each:
sites estimated from the example record (with and without a climate_file
to fill their soil months), sites run from the example climatology, one
site that fails (its climate_file is absent) and one without a position.
"""
import filecmp
import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import kelmar
from programs import CLIMATE, SITE, WEATHER, cli, netcdf_differences

SITES = 70
FAILED = 40   # its climate_file is absent
UNPLACED = 7  # no lat, lon
# What the climatology files take for missing: anything not above -90 (basics.h).
PRESENT_LIMIT = -90.0


def site_rows():
    rows = []
    for i in range(SITES):
        estimated = i % 3 != 2
        rows.append(dict(site_id=f"c{i:02d}", site_file=SITE, climate_file=CLIMATE if i % 3 else "",
                         weather_file=WEATHER if estimated else "", lat=50 + i / 8, lon=10 - i / 4))
    rows[FAILED].update(climate_file="absent.cld", weather_file="")
    rows[UNPLACED].update(lat="", lon="")
    return rows


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """The folders of one run (format both), of two shards merged, and of
    the formats csv and netcdf."""
    tmp = tmp_path_factory.mktemp("climatologies")
    pd.DataFrame(site_rows()).to_csv(tmp / "sites.csv", index=False)
    common = ["--sites", "sites.csv", "--estimate-climate", "--save-climate", "--reference", "1962-1985",
              "--run-years", "2", "--seed", "9", "--quiet"]

    def batch(out, *more, expect=1):  # 1: the failed site
        cli("batch", "--out", out, *common, *more, cwd=tmp, expect=expect)

    batch("one", "--format", "both")
    batch("split", "--format", "both", "--shard", "1/2", expect=0)  # sites 65..70
    batch("split", "--format", "both", "--shard", "0/2")
    cli("merge", "split", cwd=tmp, expect=1)
    batch("csv")
    batch("netcdf", "--format", "netcdf")
    return tmp


def csv_table(folder):
    return pd.read_csv(folder / "climatologies.csv", float_precision="round_trip", keep_default_na=False,
                       dtype={"site_id": object})


def test_the_netcdf_file_holds_the_csv_value_for_value_with_nan_where_one_is_missing(runs):
    table = csv_table(runs / "one")
    ran = [row["site_id"] for k, row in enumerate(site_rows()) if k != FAILED]
    assert table.site_id.unique().tolist() == ran, "climatologies.csv: not the sites that ran, in list order"
    with xr.open_dataset(runs / "one" / "climatologies.nc") as ds:
        ds.load()
    assert ds.site_id.values.tolist() == ran, "climatologies.nc: not the sites that ran, in list order"
    assert ds.month.values.tolist() == list(range(1, 13))
    assert ds.attrs["reference_period"] == "1962-1985" and ds.attrs["Conventions"] == "CF-1.8"
    placed = {row["site_id"]: row for row in site_rows()}
    for coordinate in ("lat", "lon"):
        expected = [np.nan if k == "c07" else placed[k][coordinate] for k in ran]
        np.testing.assert_array_equal(ds[coordinate].values, expected, err_msg=coordinate)
    fields = list(ds.data_vars)
    assert len(fields) == 12, fields
    for key in fields:
        # The table's column is the key with its unit, as the file's units attribute gives it.
        units = ds[key].attrs["units"]
        column = key if units == "1" else f"{key}_{units}"
        assert column in table.columns, f"{key} ({units}): no column {column} in climatologies.csv"
        values = table.pivot(index="month", columns="site_id", values=column)[ran].to_numpy()
        expected = np.where(values > PRESENT_LIMIT, values, np.nan)
        np.testing.assert_array_equal(ds[key].transpose("month", "site_id").values, expected,
                                      err_msg=f"{key} against climatologies.csv's {column}")


def test_shards_and_a_merge_give_the_bytes_of_one_run(runs):
    one, split = runs / "one", runs / "split"
    assert filecmp.cmp(one / "climatologies.csv", split / "climatologies.csv", shallow=False)
    differ = netcdf_differences((one / "climatologies.nc").read_bytes(), (split / "climatologies.nc").read_bytes())
    assert differ == [], f"climatologies.nc of two shards differs from one run's at bytes {differ}"
    assert not (split / "parts").exists()


def test_every_format_keeps_the_csv_and_the_netcdf_formats_add_the_file(runs):
    for out, netcdf in (("csv", False), ("netcdf", True), ("one", True)):
        folder = runs / out
        assert filecmp.cmp(folder / "climatologies.csv", runs / "one" / "climatologies.csv", shallow=False), out
        assert (folder / "climatologies.nc").exists() == netcdf, f"{out}: climatologies.nc"
    differ = netcdf_differences((runs / "netcdf" / "climatologies.nc").read_bytes(),
                                (runs / "one" / "climatologies.nc").read_bytes())
    assert differ == [], f"format netcdf against both: bytes {differ}"


def test_batch_folder_reads_the_kept_climatologies(runs):
    both = kelmar.open_batch(runs / "one")
    pd.testing.assert_frame_equal(both.climatologies(), csv_table(runs / "one"), check_exact=True)
    with both.climatologies(xarray=True) as ds, xr.open_dataset(runs / "one" / "climatologies.nc") as expected:
        xr.testing.assert_identical(ds, expected)
    with pytest.raises(kelmar.KelmarValueError, match="format 'csv'"):
        kelmar.open_batch(runs / "csv").climatologies(xarray=True)
    cli("batch", "--sites", "sites.csv", "--out", "plain", "--run-years", "2", "--quiet", cwd=runs, expect=1)
    with pytest.raises(kelmar.KelmarValueError, match="kept no climatologies"):
        kelmar.open_batch(runs / "plain").climatologies()


def tool(name):
    if shutil.which(name) is None:
        pytest.skip(f"{name} is not installed (scripts/install-deps.sh installs it)")
    return name


def test_cdo_and_ncdump_take_the_file(runs):
    path = str(runs / "one" / "climatologies.nc")
    with xr.open_dataset(path) as ds:
        fields = set(ds.data_vars)
    cdo = tool("cdo")
    info = subprocess.run([cdo, "sinfo", path], capture_output=True, text=True)
    assert info.returncode == 0 and "Warning" not in info.stderr, info.stderr
    names = subprocess.run([cdo, "-s", "showname", path], capture_output=True, text=True, check=True).stdout.split()
    assert fields <= set(names), f"cdo showname: {names}"
    header = subprocess.run([tool("ncdump"), "-h", path], capture_output=True, text=True, check=True).stdout
    for line in ("month = 12 ;", 'site_id:cf_role = "timeseries_id" ;', 'av_Ta:units = "degC" ;',
                 "av_Ta:_FillValue = 9.96920996838687e+36 ;", ':reference_period = "1962-1985" ;'):
        assert line in header, f"ncdump -h lacks {line!r}"
