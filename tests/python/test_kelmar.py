"""The Python module against the programs it stands beside.

Run by ctest with the system's interpreter and PYTHONPATH set to the built
package; KELMAR_CLI names kelmar-cli and KELMAR_EXAMPLES the examples folder.
Every comparison is exact: the module runs the same C++ as the program, so
the numbers are the same doubles (the CSV files hold the shortest text that
reads back to each one).
"""
import os
import re

import numpy as np
import pandas as pd
import pytest
import netCDF4
import xarray as xr

import kelmar
import kelmar.dask
from dask_cluster import local_client
from programs import CLIMATE, SITE, WEATHER, cli, read_exact

FIELDS = kelmar._kelmar.RESULT_FIELDS


def assert_same_records(result, table, what):
    """The monthly and annual frames of `result` against kelmar-cli's full table."""
    monthly, annual = table[table.Month > 0], table[table.Month == 0]
    assert len(result.monthly) == len(monthly), f"{what}: {len(result.monthly)} months, the table has {len(monthly)}"
    np.testing.assert_array_equal(result.monthly["year"].to_numpy(), monthly["Year"].to_numpy(), err_msg=what)
    np.testing.assert_array_equal(result.monthly["month"].to_numpy(), monthly["Month"].to_numpy(), err_msg=what)
    np.testing.assert_array_equal(result.annual["year"].to_numpy(), monthly["Year"].to_numpy()[::12], err_msg=what)
    for field in FIELDS:
        for frame, rows, kind in ((result.monthly, monthly, "monthly"), (result.annual, annual, "annual")):
            np.testing.assert_array_equal(frame[field["column"]].to_numpy(), rows[field["name"]].to_numpy(),
                                          err_msg=f"{what}: {kind} {field['column']} differs (tolerance 0)")


@pytest.fixture
def tmp(tmp_path):
    return tmp_path


# (what, the arguments of simulate, kelmar-cli's options): simulated weather,
# and the observed record whose soil-temperature gaps the climatology fills
# (its counting run draws from the same random state as the program's).
SIMULATE_CASES = [
    ("simulated, paths", dict(site=SITE, climate=CLIMATE, seed=1), ["--site", SITE, "--climate", CLIMATE, "--seed", "1"]),
    ("simulated, records", dict(site=kelmar.read_site(SITE), climate=kelmar.read_climatology(CLIMATE), seed=4000000000),
     ["--site", SITE, "--climate", CLIMATE, "--seed", "4000000000"]),
    ("observed with gaps", dict(site=SITE, climate=CLIMATE, weather=kelmar.read_weather(WEATHER), seed=5),
     ["--site", SITE, "--weather", WEATHER, "--climate", CLIMATE, "--seed", "5"]),
]


@pytest.mark.parametrize("what,kwargs,options", SIMULATE_CASES, ids=[c[0] for c in SIMULATE_CASES])
def test_simulate_equals_the_programs_full_table(tmp, what, kwargs, options):
    cli("simulate", *options, "--table", str(tmp / "full.csv"))
    result = kelmar.simulate(**kwargs)
    assert result.seed == kwargs["seed"]
    assert_same_records(result, pd.read_csv(tmp / "full.csv", float_precision="round_trip"), what)


def test_a_tidy_weather_table_runs_the_site_it_is_asked_for(tmp):
    rows = ["site_id,year,month,tair,prec,tsoil"]
    for site, shift in (("north", -3.0), ("south", 2.5)):
        for year in (2001, 2002):
            for month in range(1, 13):
                rows.append(f"{site},{year},{month},{shift + month:.1f},{20 + month},{shift + 0.5 * month:.2f}")
    (tmp / "stations.csv").write_text("\n".join(rows) + "\n")
    cli("simulate", "--site", SITE, "--weather", str(tmp / "stations.csv"), "--site-id", "south", "--seed", "9",
        "--table", str(tmp / "full.csv"))
    result = kelmar.simulate(SITE, weather=tmp / "stations.csv", site_id="south", seed=9)
    assert_same_records(result, pd.read_csv(tmp / "full.csv", float_precision="round_trip"), "station south")
    assert result.monthly["site_id"].unique().tolist() == ["south"]


def test_reading_then_writing_each_file_kind_gives_the_same_bytes(tmp):
    # The example site and climatology are files as the window saves them.
    kelmar.read_site(SITE).write(tmp / "soil.sit")
    assert (tmp / "soil.sit").read_bytes() == open(SITE, "rb").read()
    kelmar.read_climatology(CLIMATE).write(tmp / "climat.cld")
    assert (tmp / "climat.cld").read_bytes() == open(CLIMATE, "rb").read()
    # A weather file as the window writes one (two decimals), with a soil gap.
    saved = "#\r\nYear,Month,Tair,Prec,Tsoil\r\n" + "".join(
        f"1999,{m},{m - 6.25:.2f},{10 + m:.2f},{'-99.90' if m == 4 else f'{m / 4:.2f}'}\r\n" for m in range(1, 13))
    (tmp / "in.wed").write_bytes(saved.encode())
    kelmar.read_weather(tmp / "in.wed").write(tmp / "out.wed")
    written = (tmp / "out.wed").read_bytes()
    # The writer's own line ends and header, then the rows unchanged.
    kelmar.read_weather(tmp / "out.wed").write(tmp / "again.wed")
    assert (tmp / "again.wed").read_bytes() == written
    assert written.replace(b"\r\n", b"\n").split(b"\n")[2:14] == saved.encode().replace(b"\r\n", b"\n").split(b"\n")[2:14]
    # The estimate is the climatology kelmar-cli estimate writes.
    cli("estimate", "--weather", WEATHER, "--output", str(tmp / "cli.cld"))
    kelmar.estimate(WEATHER).write(tmp / "py.cld")
    assert (tmp / "py.cld").read_bytes() == (tmp / "cli.cld").read_bytes()


def test_edits_reach_the_file_and_the_run(tmp):
    site = kelmar.read_site(SITE)
    site.Lat = 65.25
    site["Fortype"] = 3
    climate = kelmar.read_climatology(CLIMATE)
    climate.av_Ta[6] += 1.5  # July, in place
    climate["Cv_P"] = np.full(12, 0.5)
    site.write(tmp / "edited.sit")
    climate.write(tmp / "edited.cld")
    again = kelmar.read_site(tmp / "edited.sit")
    assert (again.Lat, again.Fortype) == (65.25, 3)
    assert kelmar.read_climatology(tmp / "edited.cld").av_Ta[6] == pytest.approx(16.9 + 1.5, abs=1e-12)
    # The run of the edited records is the program's run of the edited files.
    cli("simulate", "--site", str(tmp / "edited.sit"), "--climate", str(tmp / "edited.cld"), "--seed", "3",
        "--table", str(tmp / "full.csv"))
    assert_same_records(kelmar.simulate(site, climate, seed=3),
                        pd.read_csv(tmp / "full.csv", float_precision="round_trip"), "edited records")


def test_a_record_made_from_a_dataframe_runs_as_its_file():
    weather = kelmar.read_weather(WEATHER)
    frame = weather.to_dataframe()
    assert frame["tsoil"].isna().sum() == (weather.Tsoil < -99).sum() > 0, "the record's gaps are not NaN"
    again = kelmar.Weather.from_dataframe(frame)
    for key in kelmar.WEATHER_KEYS:
        np.testing.assert_array_equal(again[key], weather[key], err_msg=key)
    pd.testing.assert_frame_equal(kelmar.simulate(SITE, CLIMATE, again, seed=8).monthly,
                                  kelmar.simulate(SITE, CLIMATE, WEATHER, seed=8).monthly, check_exact=True)


# (file, its bytes, the kind read): a value that does not convert, in each
# reader; the module must raise the program's text.
BAD_FILES = [
    ("bad.sit", open(SITE, "rb").read().replace(b"M_ff,3.20", b"M_ff,3,2x"), "site"),
    ("bad.cld", open(CLIMATE, "rb").read().replace(b"av_P,38.00", b"av_P,thirty"), "climate"),
    ("bad.wed", b"#\nYear,Month,Tair,Prec,Tsoil\n1961,1,-14.2,23.1,-2.5\n1961,2,warm,50.0,-2.9\n", "weather"),
]


@pytest.mark.parametrize("name,content,kind", BAD_FILES, ids=[c[0] for c in BAD_FILES])
def test_a_bad_file_raises_the_readers_text(tmp, name, content, kind):
    path = str(tmp / name)
    with open(path, "wb") as f:
        f.write(content)
    args = {"site": ["--site", path, "--climate", CLIMATE], "climate": ["--site", SITE, "--climate", path],
            "weather": ["--site", SITE, "--weather", path]}[kind]
    message = cli("simulate", *args, expect=1).stderr.strip()
    assert name in message, f"the program's message names no file: {message!r}"
    with pytest.raises(kelmar.KelmarError) as raised:
        {"site": kelmar.read_site, "climate": kelmar.read_climatology, "weather": kelmar.read_weather}[kind](path)
    assert str(raised.value) == message
    with pytest.raises(kelmar.KelmarError) as raised:
        kelmar.simulate(**dict(dict(site=SITE, climate=CLIMATE, weather=None), **{kind: path}))
    assert str(raised.value) == message


def test_refusals_name_what_is_wrong(tmp):
    missing = str(tmp / "absent.sit")
    with pytest.raises(kelmar.KelmarError, match=r"File soil parameters \(.*absent\.sit\) not found\."):
        kelmar.read_site(missing)
    site = kelmar.read_site(SITE)
    for key, value, words in (("Lat", float("nan"), "Lat must be a finite number"),
                              ("Saturat", 2.5, "Saturat takes a whole number from 0 to 255"),
                              ("Fortype", 256, "Fortype takes a whole number from 0 to 255")):
        with pytest.raises(kelmar.KelmarError, match=words):
            site[key] = value
    assert site.Lat == 61.8 and site.Saturat == 0 and site.Fortype == 1, "a refused value changed the site"
    with pytest.raises(AttributeError, match="no field 'lat'"):
        site.lat = 60  # a misspelt key must not pass silently
    weather = kelmar.read_weather(WEATHER)
    with pytest.raises(kelmar.KelmarError, match=r"would be read as a tidy weather table \(\.csv\)"):
        weather.write(tmp / "weather.csv")
    weather.Prec[2, 5] = np.inf  # June 1963, edited in place
    with pytest.raises(kelmar.KelmarError, match="Prec of 1963-6 must be a finite number"):
        weather.write(tmp / "weather.wed")
    assert not (tmp / "weather.wed").exists()
    # An observed record with soil-temperature gaps needs a climatology to fill them.
    with pytest.raises(kelmar.KelmarError, match='"weather.wed" has months without a soil temperature'):
        kelmar.simulate(SITE, weather=WEATHER, seed=1)


# (record, field, value of a wrong type, the TypeError's text): every field
# setter names the field, the type given and the type it takes.
WRONG_TYPES = [
    ("site", "Lat", "60", "Lat takes a number (float), not str '60'"),
    ("site", "Saturat", "1", "Saturat takes a whole number (int), not str '1'"),
    ("site", "M_ff", None, "M_ff takes a number (float), not NoneType None"),
    ("site", "Lat", [60.0], "Lat takes a number (float), not list [60.0]"),
    ("climate", "av_Ta", "abc", "av_Ta takes twelve numbers (float), not str 'abc'"),
    ("climate", "av_P", ["30"] * 12, "av_P takes twelve numbers (float), not list ['30', '30', "),
    ("climate", "Cv_P", [{}] * 12, "Cv_P takes twelve numbers (float), not list [{}, "),
    ("weather", "Tair", "5", "Tair takes numbers (float), not str '5'"),
    ("weather", "Prec", np.array(["1"] * 12), "Prec takes numbers (float), not numpy.ndarray array(['1', "),
    ("scenario", "variability", "1.2", "variability takes a number (float), not str '1.2'"),
    ("scenario", "delta_t", "2", "delta_t takes one number or twelve (float), not str '2'"),
]


@pytest.mark.parametrize("record,key,value,text", WRONG_TYPES, ids=[f"{c[1]} = {c[2]!r}"[:40] for c in WRONG_TYPES])
def test_a_value_of_the_wrong_type_raises_type_error_naming_the_field(record, key, value, text):
    made = {"site": lambda: kelmar.read_site(SITE), "climate": lambda: kelmar.read_climatology(CLIMATE),
            "weather": lambda: kelmar.read_weather(WEATHER), "scenario": lambda: kelmar.Scenario(name="s")}[record]
    target = made()
    before = np.array(getattr(target, key), copy=True)
    assignments = [lambda: setattr(target, key, value)]
    if record != "scenario":  # a Scenario has attributes only
        assignments.append(lambda: target.__setitem__(key, value))
    for assign in assignments:
        with pytest.raises(TypeError) as raised:
            assign()
        assert str(raised.value).startswith(text), f"{str(raised.value)!r} does not start with {text!r}"
        np.testing.assert_array_equal(getattr(target, key), before, err_msg="a refused value changed the record")
    if record == "scenario":
        with pytest.raises(TypeError, match=f"^{key} takes "):
            kelmar.Scenario(**{key: value})


def test_numbers_of_any_kind_are_still_taken():
    site = kelmar.read_site(SITE)
    site.Lat, site.Saturat, site.M_ff = np.float32(60.5), np.int64(1), 3
    assert (site.Lat, site.Saturat, site.M_ff) == (60.5, 1, 3.0)
    climate = kelmar.read_climatology(CLIMATE)
    climate.av_Ta = list(range(12))
    assert list(climate.av_Ta) == list(map(float, range(12)))
    weather = kelmar.read_weather(WEATHER)
    weather.Tair = 1  # every month
    assert (weather.Tair == 1.0).all()
    scenario = kelmar.Scenario(delta_t=np.float32(2), variability=1)
    scenario.trend_t = 2
    assert (scenario.delta_t[0], scenario.variability, scenario.trend_t) == (2.0, 1.0, 2.0)


def write_list(tmp, rows):
    frame = pd.DataFrame(rows).astype({"seed": "Int64"})
    frame.to_csv(tmp / "sites.csv", index=False)
    return frame


# Simulated and observed sites, one with its own seed, and one whose
# climatology is missing (its run fails, the others go on).
SITE_ROWS = [
    dict(site_id="a", site_file=SITE, climate_file=CLIMATE, weather_file="", seed=None),
    dict(site_id="b", site_file=SITE, climate_file=CLIMATE, weather_file=WEATHER, seed=None),
    dict(site_id="own seed", site_file=SITE, climate_file=CLIMATE, weather_file="", seed=42),
    dict(site_id="broken", site_file=SITE, climate_file="absent.cld", weather_file="", seed=None),
    dict(site_id="d", site_file=SITE, climate_file=CLIMATE, weather_file="", seed=None),
]


def test_batch_equals_the_programs_batch_and_each_sites_simulate(tmp, monkeypatch):
    frame = write_list(tmp, SITE_ROWS)
    monkeypatch.chdir(tmp)  # relative names as the program has them, in the messages too
    cli("batch", "--sites", "sites.csv", "--out", "out", "--seed", "11", "--quiet", cwd=tmp, expect=1)
    result = kelmar.batch(frame, seed=11, jobs=2)
    assert result.base_seed == 11
    for name, frame_out in (("monthly", result.monthly), ("annual", result.annual), ("errors", result.errors)):
        expected = read_exact(tmp / "out" / f"{name}.csv")
        got = frame_out.astype({"site_id": object})
        if name == "errors":  # the list's name: the file for the program, the DataFrame here
            expected["message"] = expected["message"].str.replace('"sites.csv"', '"sites DataFrame"', regex=False)
        pd.testing.assert_frame_equal(got, expected, check_exact=True, obj=f"{name} against the program's {name}.csv")
    # Each site alone, with the seed the batch gave it, gives the same rows.
    for row in SITE_ROWS:
        if row["site_id"] == "broken":
            continue
        seed = int(result.annual.loc[result.annual.site_id == row["site_id"], "seed"].iloc[0])
        if row["seed"] is not None:
            assert seed == row["seed"], f"site {row['site_id']} ran with {seed}, its seed column says {row['seed']}"
        alone = kelmar.simulate(row["site_file"], row["climate_file"], row["weather_file"] or None, seed=seed,
                                site_id=row["site_id"])
        for kind in ("monthly", "annual"):
            part = getattr(result, kind)
            part = part[part.site_id == row["site_id"]].reset_index(drop=True).astype({"site_id": object})
            pd.testing.assert_frame_equal(getattr(alone, kind).astype({"site_id": object}), part, check_exact=True,
                                          obj=f"site {row['site_id']} {kind}, alone against the batch")
    # The list's own path gives the same tables.
    by_path = kelmar.batch(tmp / "sites.csv", seed=11, jobs=1)
    pd.testing.assert_frame_equal(by_path.monthly, result.monthly, check_exact=True)


def test_a_site_without_a_whole_year_is_an_error_row_not_left_out(tmp):
    # The comment and header lines, then the first eleven months.
    with open(WEATHER) as whole:
        (tmp / "short.wed").write_text("".join(whole.readlines()[:13]))
    rows = [dict(site_id="short", site_file=SITE, climate_file=CLIMATE, weather_file=str(tmp / "short.wed")),
            dict(site_id="b", site_file=SITE, climate_file=CLIMATE, weather_file=WEATHER)]
    result = kelmar.batch(pd.DataFrame(rows), seed=1, jobs=1)
    assert list(result.errors.site_id) == ["short"]
    message = result.errors.message.iloc[0]
    assert str(tmp / "short.wed") in message and "twelve months" in message, message
    assert set(result.annual.site_id) == {"b"}


def test_a_bad_site_list_raises_with_its_lines():
    # (rows, the whole message): a line of a DataFrame is its row + 2, the header being line 1.
    cases = [([SITE_ROWS[0], SITE_ROWS[0]], 'The site_id "a" was given before, on line 2.\nin "sites DataFrame", line 3'),
             ([SITE_ROWS[0], dict(SITE_ROWS[1], Lat=60.0)],
              'The header names both site_file and site parameters; give either.\nin "sites DataFrame", line 1')]
    for rows, fault in cases:
        with pytest.raises(kelmar.KelmarError) as raised:
            kelmar.batch(pd.DataFrame(rows), seed=1)
        expected = 'The site list "sites DataFrame" has 1 fault; no site was run.\n' + fault
        assert str(raised.value) == expected, f"rows {rows}: {str(raised.value)!r}, expected {expected!r}"


# The most bytes a site list may hold, as kelmar-cli batch reads one.
SITE_LIST_LIMIT = 1024 * 1024 * 1024


def test_a_site_list_path_is_read_by_the_batchs_reader_with_its_limits(tmp):
    huge = tmp / "huge.csv"
    with open(huge, "wb") as f:
        f.truncate(SITE_LIST_LIMIT + 1)  # sparse: no disk used
    cases = [(huge, f'The file "{huge}" holds more than 1024 MiB, far more than any site list; it was not read.'),
             ("/dev/zero", 'The file "/dev/zero" is not a regular file but a character device; '),
             (tmp / "absent.csv", f'The site list "{tmp / "absent.csv"}" was not found.')]
    for path, message in cases:
        for run in (lambda: kelmar.batch(path, seed=1), lambda: kelmar.dask.simulate_sites(path, seed=1)):
            with pytest.raises(kelmar.KelmarError) as raised:
                run()  # the dask route raises before any cluster starts
            assert str(raised.value).startswith(message), f"{path}: {str(raised.value)!r}"


def test_dask_on_two_worker_processes_equals_batch(tmp):
    frame = pd.DataFrame(SITE_ROWS)
    # The workers take relative names from the client's folder, absolute in messages.
    whole = kelmar.batch(frame, seed=11, jobs=1, folder=os.getcwd())
    with local_client(2, processes=True) as client:
        for partitions in (2, 3):
            split = kelmar.dask.simulate_sites(frame, client=client, partitions=partitions, seed=11)
            for kind in ("monthly", "annual", "errors"):
                pd.testing.assert_frame_equal(getattr(split, kind), getattr(whole, kind), check_exact=True,
                                              obj=f"{kind} of {partitions} partitions against one batch")
        # A list's path: read by the batch's reader, split here.
        write_list(tmp, SITE_ROWS)
        by_path = kelmar.dask.simulate_sites(tmp / "sites.csv", client=client, partitions=2, seed=11)
        for kind in ("monthly", "annual"):
            pd.testing.assert_frame_equal(getattr(by_path, kind), getattr(whole, kind), check_exact=True,
                                          obj=f"{kind} of a list's path against one batch")
        bad = pd.DataFrame([SITE_ROWS[0], SITE_ROWS[0]])
        with pytest.raises(kelmar.KelmarError, match="line 3"):
            kelmar.dask.simulate_sites(bad, client=client, seed=1)


def test_to_xarray_agrees_with_the_batchs_netcdf_files(tmp):
    (tmp / "sites.csv").write_text(f"site_id,site_file,climate_file,weather_file\nobs,{SITE},{CLIMATE},{WEATHER}\n")
    cli("batch", "--sites", "sites.csv", "--out", "out", "--seed", "2", "--format", "netcdf", "--quiet", cwd=tmp)
    result = kelmar.simulate(SITE, CLIMATE, WEATHER, seed=kelmar.batch(tmp / "sites.csv", seed=2).annual.seed[0],
                             site_id="obs")
    for annual, name in ((False, "results.nc"), (True, "results_annual.nc")):
        ours = result.to_xarray(annual=annual)
        with xr.open_dataset(tmp / "out" / name) as theirs:
            theirs = theirs.load()
        # The same variables, dimensions and attributes; the site selectable by its id in both.
        assert sorted(ours.variables) == sorted(theirs.variables), f"{name}: {sorted(ours.variables)}"
        for var in theirs.variables:
            assert ours[var].dims == theirs[var].dims, f"{name} {var}: {ours[var].dims}, file {theirs[var].dims}"
            assert ours[var].attrs == theirs[var].attrs, f"{name} {var}: {ours[var].attrs}, file {theirs[var].attrs}"
            assert ours[var].dtype == theirs[var].dtype, f"{name} {var}: {ours[var].dtype}, file {theirs[var].dtype}"
        assert sorted(ours.coords) == sorted(theirs.coords), name
        for field in FIELDS:
            key = field["key"]
            mine, file = ours[key].sel(site_id="obs").values, theirs[key].sel(site_id="obs").values
            if annual and field["annual"] == "mean":  # summed in another order
                np.testing.assert_allclose(mine, file, rtol=1e-13, err_msg=f"{name} {key}")
            else:
                np.testing.assert_array_equal(mine, file, err_msg=f"{name} {key}")
        for key in kelmar.SITE_KEYS:
            np.testing.assert_array_equal(ours[key].values, theirs[key].values, err_msg=f"{name} site parameter {key}")
        np.testing.assert_array_equal(ours["time"].values, theirs["time"].values)
        assert ours["time"].dtype.kind == "M"
    assert str(result.to_xarray()["time"].values[0])[:10] == "1961-01-16"
    # Written, the axis is encoded as in results.nc: the same numbers, units and calendar.
    result.to_xarray().to_netcdf(tmp / "one.nc")
    with xr.open_dataset(tmp / "one.nc", decode_times=False) as raw, \
            xr.open_dataset(tmp / "out" / "results.nc", decode_times=False) as reference:
        assert raw["time"].attrs["calendar"] == reference["time"].attrs["calendar"] == "proleptic_gregorian"
        # xarray's encoder writes the same epoch without the time of day.
        assert raw["time"].attrs["units"] in ("days since 0001-01-01", reference["time"].attrs["units"]), \
            f"time.units: {raw['time'].attrs['units']!r}, results.nc has {reference['time'].attrs['units']!r}"
        np.testing.assert_array_equal(raw["time"].values, reference["time"].values, err_msg="time")



def test_batch_to_xarray_holds_the_values_of_the_batchs_files_at_their_precision(tmp):
    (tmp / "sites.csv").write_text("site_id,site_file,climate_file,weather_file\n"
                                   f"a,{SITE},{CLIMATE},{WEATHER}\nbroken,absent.sit,{CLIMATE},{WEATHER}\n"
                                   f"b,{SITE},{CLIMATE},{WEATHER}\n")
    for precision, deflate in (("double", 0), ("single", 4)):
        out = f"out-{precision}"
        cli("batch", "--sites", "sites.csv", "--out", out, "--seed", "2", "--format", "netcdf", "--quiet",
            "--netcdf-precision", precision, "--netcdf-deflate", str(deflate), cwd=tmp, expect=1)
        result = kelmar.batch(tmp / "sites.csv", seed=2, netcdf_precision=precision, netcdf_deflate=deflate)
        for annual, name in ((False, "results.nc"), (True, "results_annual.nc")):
            ours = result.to_xarray(annual=annual)
            with xr.open_dataset(tmp / out / name) as theirs:
                theirs = theirs.load()
            what = f"{precision}, deflate {deflate}, {name}"
            for field in FIELDS:
                key = field["key"]
                assert (ours[key].dims, ours[key].dtype, ours[key].attrs) == \
                       (theirs[key].dims, theirs[key].dtype, theirs[key].attrs), f"{what}: {key}"
                np.testing.assert_allclose(ours[key].sel(site_id="b").values, theirs[key].sel(site_id="b").values,
                                           rtol=1e-13, err_msg=f"{what}: {key}")
                assert np.isnan(ours[key].sel(site_id="broken").values).all(), f"{what}: the failed site"
            np.testing.assert_array_equal(ours["seed"].values[[0, 2]], theirs["seed"].values[[0, 2]])
        # Written, the values are compressed as the batch compresses them.
        ours.to_netcdf(tmp / f"{precision}.nc")
        with netCDF4.Dataset(tmp / f"{precision}.nc") as written:
            filters = written["tsoil"].filters()
            assert (filters["zlib"], filters["shuffle"], written["tsoil"].dtype) == \
                   (deflate > 0, deflate > 0, np.dtype("float32" if precision == "single" else "float64")), filters


@pytest.mark.parametrize("keywords, message", [
    ({"netcdf_precision": "half"}, "netcdf_precision takes 'double' or 'single', not 'half'"),
    ({"netcdf_deflate": 10}, "netcdf_deflate takes a whole number from 0 to 9, not 10"),
    ({"netcdf_deflate": True}, "netcdf_deflate takes a whole number from 0 to 9, not True"),
    ({"netcdf_deflate": 1.5}, "netcdf_deflate takes a whole number from 0 to 9, not 1.5"),
])
def test_batch_refuses_netcdf_options_out_of_range_before_running(tmp, keywords, message):
    def progress(*_):
        raise AssertionError("a refused option ran the batch")
    with pytest.raises(kelmar.KelmarError, match=re.escape(message)):
        kelmar.batch(pd.DataFrame([SITE_ROWS[0]]), seed=1, progress=progress, **keywords)


def test_batch_with_estimated_climates_equals_the_programs_and_estimate_takes_the_reference(tmp, monkeypatch):
    # A site with a weather record only, one with a record and a climatology, and one simulated.
    rows = [dict(site_id="w", site_file=SITE, climate_file="", weather_file=WEATHER),
            dict(site_id="both", site_file=SITE, climate_file=CLIMATE, weather_file=WEATHER),
            dict(site_id="sim", site_file=SITE, climate_file=CLIMATE, weather_file="")]
    pd.DataFrame(rows).to_csv(tmp / "sites.csv", index=False)
    monkeypatch.chdir(tmp)
    for reference, option in ((None, []), ((1965, 1984), ["--reference", "1965-1984"])):
        cli("batch", "--sites", "sites.csv", "--out", "out", "--seed", "5", "--run-years", "20", "--quiet",
            "--estimate-climate", *option, cwd=tmp)
        result = kelmar.batch(tmp / "sites.csv", seed=5, jobs=2, run_years=20, estimate_climate=True,
                              reference=reference)
        for name in ("monthly", "annual"):
            pd.testing.assert_frame_equal(getattr(result, name).astype({"site_id": object}),
                                          read_exact(tmp / "out" / f"{name}.csv"), check_exact=True,
                                          obj=f"{name} with reference {reference} against the program's")
        (tmp / "out" / "manifest.txt").unlink()
        for name in ("monthly", "annual", "errors"):
            (tmp / "out" / f"{name}.csv").unlink()
        # The estimate over the same years is the file kelmar-cli estimate writes.
        cli("estimate", "--weather", WEATHER, "--output", str(tmp / "cli.cld"), *option)
        kelmar.estimate(WEATHER, reference=reference).write(tmp / "py.cld")
        assert (tmp / "py.cld").read_bytes() == (tmp / "cli.cld").read_bytes(), f"reference {reference}"
    for bad, error in (((1990, 1961), kelmar.KelmarError), ("1961-1990", kelmar.KelmarTypeError)):
        with pytest.raises(error):
            kelmar.estimate(WEATHER, reference=bad)
