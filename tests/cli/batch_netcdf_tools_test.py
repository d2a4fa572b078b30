"""The batch's netCDF files as the tools people use take them.

Runs the program (argument 1) on 70 observed-weather sites (two blocks of
sites, the second short) with their site parameters in the list, with
--format both, and again with --netcdf-deflate and with
--netcdf-precision single, then reads results.nc and results_annual.nc with
CDO (sinfo, showname, yearmonmean, selname), NCO (ncra), ncdump, xarray and
R's ncdf4 (Rscript), and holds what they read against monthly.csv. A tool
that is not installed skips its test, naming it.
"""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import warnings

import numpy as np
import xarray as xr

PROGRAM = None   # set from the command line
EXAMPLES = None

KEYS = ["tair", "t_ff", "tsoil", "t_ms", "prec", "w_ms_vol", "w_ff_vol", "w_ms_mass", "w_ff_mass"]
MEAN_KEYS = [k for k in KEYS if k != "prec"]
PARAMS = ["Lat", "M_ff", "D_ff", "W_WP_ff", "W_FC_ff", "W_Sat_ff", "D_ms", "W_WP_ms", "W_FC_ms", "W_Sat_ms",
          "Wv0_ms", "Corr", "Saturat", "Permafr", "Fortype"]
SITE_COUNT = 70


def site_rows():
    """Parameters that differ from site to site, so a site's are told from another's."""
    rows = []
    for i in range(SITE_COUNT):
        params = [60 + i / 8, 2 + i / 64, 0.08, 8, 45, 85, 1.35 + i / 1000, 4.5, 22, 42, 20, 1.6, i % 2, 0,
                  1 + i % 4]
        rows.append([f"s{i:02d}"] + params + ["climat.cld", "weather.wed", 60 + i / 8, 30 - i / 4])
    return rows


def run(args, cwd, expect=0):
    done = subprocess.run([PROGRAM] + args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != expect:
        raise RuntimeError(f"{args} gave {done.returncode}, not {expect}: {done.stderr}")
    return done


def tool(name):
    """Skips the test when `name` is not installed."""
    if shutil.which(name) is None:
        raise unittest.SkipTest(f"{name} is not installed (scripts/install-deps.sh installs it)")
    return name


def call(args, cwd):
    done = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(args)} exited {done.returncode}: {done.stderr}")
    return done


def dimensions(path):
    """The dimensions of every variable, by name."""
    with xr.open_dataset(path, decode_cf=False) as ds:
        return {name: ds[name].dims for name in ds.variables}


def raw(path):
    """Every variable as stored (no decoding), by name."""
    with xr.open_dataset(path, decode_cf=False) as ds:
        return {name: ds[name].values.copy() for name in ds.variables}


def month_days(years):
    starts = np.array([np.datetime64(f"{y:04d}-01") for y in years])[:, None] + np.arange(13).astype("timedelta64[M]")
    return np.diff(starts.astype("datetime64[D]"), axis=1).astype(float)


class BatchNetcdfToolsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="kelmar-nc-tools-")
        work = cls.work = cls.folder.name
        for name in ["climat.cld", "weather.wed"]:
            shutil.copy(os.path.join(EXAMPLES, name), work)
        with open(os.path.join(work, "sites.csv"), "w", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(["site_id"] + PARAMS + ["climate_file", "weather_file", "lat", "lon"])
            out.writerows(site_rows())
        common = ["--sites", "sites.csv", "--seed", "5", "--quiet"]
        run(["batch", "--out", "plain", "--format", "both"] + common, work)
        run(["batch", "--out", "deflated", "--format", "netcdf", "--netcdf-deflate", "5"] + common, work)
        run(["batch", "--out", "single", "--format", "netcdf", "--netcdf-precision", "single"] + common, work)
        cls.monthly_nc = os.path.join(work, "plain", "results.nc")
        cls.annual_nc = os.path.join(work, "plain", "results_annual.nc")
        # monthly.csv as (field, month from the first, site)
        with open(os.path.join(work, "plain", "monthly.csv"), newline="") as f:
            rows = list(csv.reader(f))
        header, rows = rows[0], rows[1:]
        years = sorted({int(r[1]) for r in rows})
        cls.first, cls.years = years[0], np.arange(years[0], years[-1] + 1)
        ids = [r[0] for r in site_rows()]
        cls.csv = np.full((len(KEYS), 12 * len(cls.years), SITE_COUNT), np.nan)
        for r in rows:
            t = 12 * (int(r[1]) - cls.first) + int(r[2]) - 1
            cls.csv[:, t, ids.index(r[0])] = [float(v) for v in r[3:3 + len(KEYS)]]
        assert [h.split("_")[0] for h in header[3:3 + len(KEYS)]] == [k.split("_")[0] for k in KEYS], header

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def weighted_annual_means(self):
        """(field, year, site) means of monthly.csv, months weighted by their days."""
        days = month_days(self.years)  # (years, 12)
        values = self.csv.reshape(len(KEYS), len(self.years), 12, SITE_COUNT)
        return (values * days[None, :, :, None]).sum(axis=2) / days.sum(axis=1)[None, :, None]

    def test_cdo_lists_every_variable_of_both_files(self):
        cdo = tool("cdo")
        for path in (self.monthly_nc, self.annual_nc):
            # The site parameters and seeds too, as fields on the sites' points, without a warning.
            on_sites = {name for name, dims in dimensions(path).items() if dims == ("site_id",)} - {"lat", "lon", "site_id"}
            self.assertIn("seed", on_sites)
            info = call([cdo, "sinfo", path], self.work)
            self.assertNotIn("Warning", info.stderr, f"cdo sinfo {os.path.basename(path)}")
            names = set(call([cdo, "-s", "showname", path], self.work).stdout.split())
            self.assertTrue(set(KEYS) | on_sites <= names, f"cdo showname {os.path.basename(path)}: {sorted(names)}")

    def test_cdo_yearmonmean_equals_the_annual_file_and_the_csv_weighted_by_days(self):
        cdo = tool("cdo")
        out = os.path.join(self.work, "yearmonmean.nc")
        call([cdo, "-s", "yearmonmean", self.monthly_nc, out], self.work)
        by_cdo, annual = raw(out), raw(self.annual_nc)
        means = self.weighted_annual_means()
        for f, key in enumerate(KEYS):
            if key == "prec":
                continue  # a total, not a mean
            got = by_cdo[key].reshape(len(self.years), SITE_COUNT)
            np.testing.assert_allclose(got, annual[key], rtol=1e-12, atol=1e-12,
                                       err_msg=f"{key}: cdo yearmonmean against results_annual.nc")
            np.testing.assert_allclose(got, means[f], rtol=1e-12, atol=1e-12,
                                       err_msg=f"{key}: cdo yearmonmean against monthly.csv weighted by days")

    def test_cdo_yearmean_is_the_plain_mean_of_the_months_as_in_annual_csv(self):
        cdo = tool("cdo")
        out = os.path.join(self.work, "yearmean.nc")
        call([cdo, "-s", "yearmean", self.monthly_nc, out], self.work)
        by_cdo = raw(out)
        plain = self.csv.reshape(len(KEYS), len(self.years), 12, SITE_COUNT).mean(axis=2)
        for f, key in enumerate(KEYS):
            np.testing.assert_allclose(by_cdo[key].reshape(len(self.years), SITE_COUNT), plain[f],
                                       rtol=1e-12, atol=1e-12, err_msg=f"{key}: cdo yearmean against monthly.csv")

    def test_cdo_selname_takes_one_variable(self):
        cdo = tool("cdo")
        out = os.path.join(self.work, "t_ms.nc")
        call([cdo, "-s", "selname,t_ms", self.monthly_nc, out], self.work)
        got = raw(out)
        self.assertNotIn("tsoil", got)
        np.testing.assert_array_equal(got["t_ms"].reshape(-1, SITE_COUNT), self.csv[KEYS.index("t_ms")])

    def test_ncra_averages_the_record_dimension(self):
        ncra = tool("ncra")
        out = os.path.join(self.work, "ncra.nc")
        call([ncra, "-O", self.monthly_nc, out], self.work)
        got = raw(out)["tsoil"].reshape(SITE_COUNT)
        np.testing.assert_allclose(got, self.csv[KEYS.index("tsoil")].mean(axis=0), rtol=1e-12,
                                   err_msg="ncra's mean of tsoil over time")

    def test_ncdump_shows_the_cf_attributes(self):
        ncdump = tool("ncdump")
        cases = [  # file, a line of the header
            (self.monthly_nc, "time = UNLIMITED ;"),
            (self.monthly_nc, ':Conventions = "CF-1.8" ;'),
            (self.monthly_nc, ':featureType = "timeSeries" ;'),
            (self.monthly_nc, 'site_id:cf_role = "timeseries_id" ;'),
            (self.monthly_nc, 'depth:positive = "down" ;'),
            (self.monthly_nc, 'tsoil:coordinates = "lat lon depth" ;'),
            (self.monthly_nc, 'prec:cell_methods = "time: sum" ;'),
            (self.annual_nc, 'tair:cell_methods = "time: mean (comment: months weighted by their days)" ;'),
            (self.annual_nc, 'time:bounds = "time_bnds" ;'),
            (self.annual_nc, 'time:calendar = "proleptic_gregorian" ;'),
        ]
        headers = {path: call([ncdump, "-h", path], self.work).stdout for path in (self.monthly_nc, self.annual_nc)}
        for path, line in cases:
            self.assertIn(line, headers[path], f"ncdump -h {os.path.basename(path)}")
        self.assertNotIn("seed:_FillValue", headers[self.monthly_nc])

    def test_xarray_opens_both_without_a_warning_and_selects_sites_by_id(self):
        for path in (self.monthly_nc, self.annual_nc):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                with xr.open_dataset(path) as ds:
                    ds.load()
            self.assertEqual([str(w.message) for w in caught], [], os.path.basename(path))
            self.assertEqual(ds.time.dtype.kind, "M", "observed years decode to datetime64")
            self.assertEqual(ds.seed.dtype, np.int64)
            k = 17
            np.testing.assert_array_equal(ds.tsoil.sel(site_id=f"s{k:02d}").values, ds.tsoil.values[:, k])
        with xr.open_dataset(self.monthly_nc) as ds:
            self.assertEqual(str(ds.time.values[0])[:10], f"{self.first}-01-16")

    def test_r_ncdf4_reads_both_without_a_warning(self):
        rscript = tool("Rscript")
        script = (
            "options(warn = 1); suppressPackageStartupMessages(library(ncdf4));"
            "for (path in commandArgs(TRUE)) { f <- nc_open(path);"
            " for (v in names(f$var)) invisible(ncvar_get(f, v));"
            " cat(path, sum(ncvar_get(f, 'seed')), ncvar_get(f, 'tsoil')[18, 3], '\\n'); nc_close(f) }")
        done = subprocess.run([rscript, "-e", script, self.monthly_nc, self.annual_nc], capture_output=True, text=True)
        if done.returncode != 0 and "ncdf4" in done.stderr:
            self.skipTest("R's ncdf4 is not installed (scripts/install-deps.sh installs r-cran-ncdf4)")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertNotIn("arning", done.stderr)
        seeds = raw(self.monthly_nc)["seed"]
        line = done.stdout.splitlines()[0].split()
        self.assertEqual(float(line[1]), float(seeds.sum()), "the seeds as R reads them")
        self.assertEqual(float(line[2]), self.csv[KEYS.index("tsoil"), 2, 17])

    def test_deflated_and_single_files_hold_the_csv_numbers_to_their_precision(self):
        plain = os.path.getsize(self.monthly_nc)
        deflated = raw(os.path.join(self.work, "deflated", "results.nc"))
        single = raw(os.path.join(self.work, "single", "results.nc"))
        for f, key in enumerate(KEYS):
            np.testing.assert_array_equal(deflated[key], self.csv[f], err_msg=f"deflated {key}")
            self.assertEqual(single[key].dtype, np.float32, key)
            np.testing.assert_array_equal(single[key], self.csv[f].astype(np.float32),
                                          err_msg=f"single {key}: the CSV's double rounded to float32")
        sizes = {name: os.path.getsize(os.path.join(self.work, name, "results.nc")) for name in ("deflated", "single")}
        self.assertLess(sizes["deflated"], plain)
        self.assertLess(sizes["single"], plain * 0.6)
        manifest = open(os.path.join(self.work, "deflated", "manifest.txt")).read()
        self.assertIn("netcdf_deflate=5\n", manifest)
        self.assertNotIn("netcdf_", open(os.path.join(self.work, "plain", "manifest.txt")).read())

    def test_site_parameters_read_back_as_the_list_gives_them(self):
        for path in (self.monthly_nc, self.annual_nc):
            got = raw(path)
            for p, key in enumerate(PARAMS):
                np.testing.assert_array_equal(got[key], [row[1 + p] for row in site_rows()], err_msg=key)


if __name__ == "__main__":
    PROGRAM, EXAMPLES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
