"""The netCDF results file read by an independent reader.

Runs the fixture program (argument 1), which writes sites.nc,
sites_annual.nc and one full results table <id>.csv per site, opens both
files with xarray's CF decoding and checks dimensions, coordinates, time
decoding, attributes, that every monthly value equals the one of the CSV
exactly, every annual one the sum or the mean of its months weighted by
their days, and that every month without a record decodes as missing.
"""
import csv
import os
import subprocess
import sys
import tempfile
import unittest
import warnings

import numpy as np
import xarray as xr

FIXTURE = None  # set from the command line

# Years before 1678 do not fit numpy's datetime64, so the times decode to
# cftime dates, as intended; xarray says so on every decoding.
warnings.filterwarnings("ignore", message="Unable to decode time axis")

SITES = ["sim-A", "obs-B", "obs-C"]
FIRST_YEAR, LAST_YEAR = 1, 1962
KEYS = ["tair", "t_ff", "tsoil", "t_ms", "prec", "w_ms_vol", "w_ff_vol", "w_ms_mass", "w_ff_mass"]
CSV_NAMES = ["Tair", "T_ff", "Tsoil", "T_ms", "Prec", "W_ms_vol", "W_ff_vol", "W_ms_mass", "W_ff_mass"]


class CfNetcdfReadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="kelmar-nc-")
        run = subprocess.run([FIXTURE, cls.folder.name], capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError(f"{FIXTURE} failed ({run.returncode}): {run.stderr}")
        cls.ds = xr.open_dataset(os.path.join(cls.folder.name, "sites.nc"))  # decode_cf by default
        cls.annual = xr.open_dataset(os.path.join(cls.folder.name, "sites_annual.nc"))

    @classmethod
    def tearDownClass(cls):
        cls.ds.close()
        cls.annual.close()
        cls.folder.cleanup()

    def test_dimensions_and_site_coordinates(self):
        ds = self.ds
        months = 12 * (LAST_YEAR - FIRST_YEAR + 1)
        self.assertEqual(dict(ds.sizes), {"site_id": 3, "time": months, "nv": 2})
        self.assertEqual(dict(self.annual.sizes), {"site_id": 3, "time": LAST_YEAR, "nv": 2})
        self.assertEqual(ds.tsoil.dims, ("time", "site_id"))
        # The ids index the sites.
        np.testing.assert_array_equal(ds.tsoil.sel(site_id="obs-B").values, ds.tsoil.values[:, 1])
        self.assertEqual([str(v) for v in ds.site_id.values], SITES)
        self.assertEqual(ds.site_id.attrs["cf_role"], "timeseries_id")
        for name, units, standard in [("lat", "degrees_north", "latitude"), ("lon", "degrees_east", "longitude")]:
            self.assertEqual((ds[name].attrs["units"], ds[name].attrs["standard_name"]), (units, standard), name)
        np.testing.assert_array_equal(ds.lat.values, [61.5, -12.75, np.nan])
        np.testing.assert_array_equal(ds.lon.values, [30.25, 359.5, np.nan])
        # The largest uint32 state is a seed like any other; -1 stands for none,
        # read as it is (no fill value turns the seeds into floats).
        self.assertEqual(ds.seed.dtype, np.int64)
        np.testing.assert_array_equal(ds.seed.values, [4294967295, 0, -1])
        self.assertEqual(ds.attrs["Conventions"], "CF-1.8")
        self.assertEqual(ds.attrs["featureType"], "timeSeries")
        self.assertEqual(int(ds.attrs["base_seed"]), 4294967295)
        self.assertIn("kelmar-test 0.1.0", ds.attrs["history"])

    def test_time_decodes_to_mid_month_dates_with_month_bounds(self):
        time = self.ds.time
        self.assertEqual(time.values[0].calendar, "proleptic_gregorian")
        years, months = time.dt.year.values, time.dt.month.values
        expected_years = np.repeat(np.arange(FIRST_YEAR, LAST_YEAR + 1), 12)
        expected_months = np.tile(np.arange(1, 13), LAST_YEAR - FIRST_YEAR + 1)
        np.testing.assert_array_equal(years, expected_years)
        np.testing.assert_array_equal(months, expected_months)
        cases = [  # index, the month's middle, its first day, the next month's first day
            (0, (1, 1, 16, 12), (1, 1, 1), (1, 2, 1)),
            (1, (1, 2, 15, 0), (1, 2, 1), (1, 3, 1)),
            ((1960 - 1) * 12 + 1, (1960, 2, 15, 12), (1960, 2, 1), (1960, 3, 1)),  # a leap February
            ((1962 - 1) * 12 + 11, (1962, 12, 16, 12), (1962, 12, 1), (1963, 1, 1)),
        ]
        bounds = self.ds.time_bnds.values
        for index, middle, start, end in cases:
            t = time.values[index]
            self.assertEqual((t.year, t.month, t.day, t.hour), middle, f"time[{index}]")
            for got, want in zip(bounds[index], (start, end)):
                self.assertEqual((got.year, got.month, got.day, got.hour), want + (0,), f"time_bnds[{index}]")
        self.assertEqual(time.attrs["bounds"], "time_bnds")
        self.assertEqual(time.encoding["calendar"], "proleptic_gregorian")
        self.assertEqual(time.encoding["units"], "days since 0001-01-01 00:00:00")
        np.testing.assert_array_equal(self.annual.time.dt.year.values, np.arange(FIRST_YEAR, LAST_YEAR + 1))
        self.assertEqual(self.annual.time.attrs["bounds"], "time_bnds")

    def test_variable_attributes(self):
        ds = self.ds
        weighted = "time: mean (comment: months weighted by their days)"
        cases = [  # file, variable, units, standard_name (None: CF has none), cell_methods
            (ds, "tsoil", "degC", "soil_temperature", "time: mean"),
            (ds, "t_ms", "degC", "soil_temperature", "time: mean"),
            (ds, "t_ff", "degC", None, "time: mean"),
            (ds, "prec", "kg m-2", "precipitation_amount", "time: sum"),
            (self.annual, "prec", "kg m-2", "precipitation_amount", "time: sum"),
            (self.annual, "tair", "degC", "air_temperature", weighted),
            (ds, "w_ms_vol", "%", "volume_fraction_of_condensed_water_in_soil", "time: mean"),
        ]
        for data, name, units, standard, methods in cases:
            attrs = data[name].attrs
            self.assertEqual(
                (attrs["units"], attrs.get("standard_name"), attrs["cell_methods"]), (units, standard, methods), name
            )
        # The two soil temperatures share a standard name; the depth of the
        # one under grass and the comments tell them apart.
        self.assertEqual(float(ds.tsoil.depth), 0.2)
        self.assertEqual((ds.depth.attrs["units"], ds.depth.attrs["positive"]), ("m", "down"))
        # (xarray shows a scalar coordinate with every variable; the file ties it to tsoil alone.)
        self.assertNotIn("depth", ds.t_ms.encoding["coordinates"])
        self.assertNotEqual(ds.tsoil.attrs["comment"], ds.t_ms.attrs["comment"])
        for data in (ds, self.annual):
            for key in KEYS:
                self.assertTrue(data[key].attrs["long_name"], key)
                self.assertEqual(data[key].encoding["_FillValue"], 9.969209968386869e36, key)
                expected = {"lat", "lon", "depth"} if key == "tsoil" else {"lat", "lon"}
                self.assertEqual(set(data[key].encoding["coordinates"].split()), expected, key)
                self.assertEqual(data[key].dtype, np.float64, key)

    def test_values_equal_the_csv_and_months_without_records_are_missing(self):
        ds = self.ds
        for s, site in enumerate(SITES):
            monthly = {key: ds[key].values[:, s] for key in KEYS}
            annual = {key: self.annual[key].values[:, s] for key in KEYS}
            by_year = {}
            with open(os.path.join(self.folder.name, site + ".csv"), newline="") as f:
                rows = list(csv.DictReader(f))
            seen_months, seen_years = set(), set()
            for row in rows:
                year, month = int(row["Year"]), int(row["Month"])
                for key, column in zip(KEYS, CSV_NAMES):
                    expected = float(row[column])  # 17 significant digits: the exact double
                    if month == 0:
                        if key == "prec":  # a sum stays the annual record
                            got = annual[key][year - FIRST_YEAR]
                            self.assertEqual(got, expected, f"{site} annual {key} {year}: netCDF {got!r}, CSV {row[column]}")
                        seen_years.add(year - FIRST_YEAR)
                    else:
                        t = (year - FIRST_YEAR) * 12 + month - 1
                        got, where = monthly[key][t], f"{site} {key} {year}-{month:02d}"
                        seen_months.add(t)
                        self.assertEqual(got, expected, f"{where}: netCDF {got!r}, CSV {row[column]}")
                        days = (np.datetime64(f"{year + month // 12:04d}-{month % 12 + 1:02d}-01")
                                - np.datetime64(f"{year:04d}-{month:02d}-01")).astype(int)
                        by_year.setdefault((key, year), []).append((days, expected))
            for (key, year), months in by_year.items():
                if key == "prec":
                    continue
                days, values = np.array(months).T
                expected = (days * values).sum() / days.sum()
                got = annual[key][year - FIRST_YEAR]
                self.assertTrue(abs(got - expected) <= 1e-12 * abs(expected),
                                f"{site} annual {key} {year}: netCDF {got!r}, months weighted by days {expected!r} "
                                f"(within 1e-12 relative)")
            self.assertTrue(seen_months, site)
            for key in KEYS:
                present = set(np.flatnonzero(~np.isnan(monthly[key])))
                self.assertEqual(present, seen_months, f"{site} {key}: months with values")
                present = set(np.flatnonzero(~np.isnan(annual[key])))
                self.assertEqual(present, seen_years, f"{site} annual {key}: years with values")
                self.assertFalse(np.isinf(monthly[key]).any(), f"{site} {key}")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: cf_netcdf_read_test.py FIXTURE_PROGRAM")
    FIXTURE = sys.argv.pop(1)
    unittest.main()
