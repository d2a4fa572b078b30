"""kelmar-cli extract against small CF netCDF files made here: units and
calendars against months worked out by hand, packing and fill values,
longitudes and latitudes in either order, the cell a site takes, bilinear
interpolation, files it must refuse, and the record run by simulate as a
hand-written table of the same numbers is.

Run by ctest: grid_extract_test.py KELMAR_CLI EXAMPLES_DIR
"""
import csv
import math
import os
import subprocess
import sys
import tempfile
import unittest

import netCDF4
import numpy as np

CLI = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KELMAR_CLI", "kelmar-cli")
EXAMPLES = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.environ.get("KELMAR_EXAMPLES", "examples"))


def make_grid(path, variables, lats=(10.0, 10.5), lons=(20.0, 20.5), times=(15.0,),
              time_units="days since 2001-01-01", calendar="standard", bounds=None, time_axis=True):
    """variables: name -> dict(data=array (time, lat, lon), attrs=..., dtype=...)."""
    with netCDF4.Dataset(path, "w", format="NETCDF4") as nc:
        if time_axis:
            nc.createDimension("time", None)
        nc.createDimension("lat", len(lats))
        nc.createDimension("lon", len(lons))
        lat = nc.createVariable("lat", "f8", ("lat",))
        lat.units = "degrees_north"
        lat[:] = lats
        lon = nc.createVariable("lon", "f8", ("lon",))
        lon.units = "degrees_east"
        lon[:] = lons
        if time_axis:
            time = nc.createVariable("time", "f8", ("time",))
            time.units = time_units
            if calendar is not None:
                time.calendar = calendar
            time[:] = times
            if bounds is not None:
                nc.createDimension("nv", 2)
                time.bounds = "time_bnds"
                nc.createVariable("time_bnds", "f8", ("time", "nv"))[:] = bounds
        for name, given in variables.items():
            dtype = given.get("dtype", "f8")
            fill = given.get("fill")
            dims = ("time", "lat", "lon") if time_axis else ("lat", "lon")
            var = nc.createVariable(name, dtype, dims, fill_value=fill)
            var.set_auto_maskandscale(False)
            for key, value in given.get("attrs", {}).items():
                var.setncattr(key, value)
            var[:] = given["data"]


def field(value, nt=1, ny=2, nx=2):
    return np.full((nt, ny, nx), value, dtype="f8")


def tair(value=10.0, units="degC", **shape):
    return {"data": field(value, **shape), "attrs": {"standard_name": "air_temperature", "units": units}}


def prec(value=50.0, units="mm/month", standard_name="precipitation_flux", **shape):
    return {"data": field(value, **shape), "attrs": {"standard_name": standard_name, "units": units}}


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True)


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


class GridTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def sites(self, rows, name="sites.csv"):
        with open(self.path(name), "w") as f:
            f.write("site_id,lat,lon\n")
            for row in rows:
                f.write(",".join(str(x) for x in row) + "\n")
        return self.path(name)

    def extract(self, grids, sites, *extra, out="stations.csv"):
        args = ["extract", "--sites", sites, "--out", self.path(out)]
        for grid in grids:
            args += ["--grid", grid]
        return run(*args, *extra)


class UnitsAndCalendars(GridTest):
    def test_each_unit_and_calendar_gives_the_hand_computed_month(self):
        # (calendar, time units, time, unit, standard name, value, year, month, expected prec mm)
        cases = [
            ("noleap", "days since 2001-02-01", 14.0, "kg m-2 s-1", "precipitation_flux", 1e-3, 2001, 2, 1e-3 * 28 * 86400),
            ("standard", "days since 2000-02-01", 14.0, "kg m-2 s-1", "precipitation_flux", 1e-3, 2000, 2, 1e-3 * 29 * 86400),
            ("all_leap", "days since 2001-02-01", 14.0, "kg/m2/s", "precipitation_flux", 1e-4, 2001, 2, 1e-4 * 29 * 86400),
            ("360_day", "days since 2001-01-01", 45.0, "m/day", "lwe_thickness_of_precipitation_amount", 0.002, 2001, 2, 60.0),
            ("proleptic_gregorian", "hours since 1900-03-01", 360.0, "mm/day", "precipitation_flux", 3.0, 1900, 3, 93.0),
            ("365_day", "days since 2001-01-01", 15.0, "mm d-1", "precipitation_flux", 2.0, 2001, 1, 62.0),
            ("gregorian", "days since 2001-04-01", 0.0, "kg m-2", "precipitation_amount", 70.0, 2001, 4, 70.0),
            ("366_day", "days since 2001-01-01", 15.0, "mm/month", "precipitation_flux", 80.0, 2001, 1, 80.0),
        ]
        sites = self.sites([("A", 10.0, 20.0)])
        for calendar, units, time, unit, standard, value, year, month, expected in cases:
            with self.subTest(calendar=calendar, unit=unit):
                grid = self.path("grid.nc")
                make_grid(grid, {"t": tair(283.15, "K"), "p": prec(value, unit, standard)},
                          times=(time,), time_units=units, calendar=calendar)
                done = self.extract([grid], sites)
                self.assertEqual(done.returncode, 0, done.stderr)
                rows = [r for r in read_rows(self.path("stations.csv")) if r["prec"] != "NA"]
                self.assertEqual(len(rows), 1, rows)
                got = rows[0]
                self.assertEqual((int(got["year"]), int(got["month"])), (year, month))
                self.assertTrue(math.isclose(float(got["prec"]), expected, rel_tol=1e-12),
                                f"{value} {unit} in {calendar} {year}-{month}: {got['prec']}, expected {expected}")
                self.assertTrue(math.isclose(float(got["tair"]), 10.0, abs_tol=1e-9), got["tair"])
                self.assertEqual(got["tsoil"], "NA")

    def test_rows_cover_whole_years(self):
        grid = self.path("grid.nc")
        make_grid(grid, {"t": tair(nt=3), "p": prec(nt=3)}, times=(15.0, 45.0, 76.0), time_units="days since 2001-11-01")
        done = self.extract([grid], self.sites([("A", 10.0, 20.0)]))
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = read_rows(self.path("stations.csv"))
        self.assertEqual([(r["year"], r["month"]) for r in rows][:1] + [(rows[-1]["year"], rows[-1]["month"])],
                         [("2001", "1"), ("2002", "12")])
        self.assertEqual(len(rows), 24)
        self.assertEqual([(r["year"], r["month"], r["tair"]) for r in rows if r["tair"] != "NA"],
                         [("2001", "11", "10"), ("2001", "12", "10"), ("2002", "1", "10")])

    def test_the_record_covers_the_months_tair_and_prec_share_and_says_so(self):
        t_file, p_file, s_file = self.path("t.nc"), self.path("p.nc"), self.path("s.nc")
        soil = {"data": field(278.15), "attrs": {"standard_name": "soil_temperature", "units": "K"}}
        make_grid(t_file, {"t": tair(nt=3)}, times=(15.0, 45.0, 75.0))
        make_grid(p_file, {"p": prec(nt=2)}, times=(45.0, 75.0))
        make_grid(s_file, {"s": soil}, times=(15.0,))
        files = [t_file, p_file, s_file]
        done = self.extract(files, self.sites([("A", 10.0, 20.0)]))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("note: tair covers 2001-01 to 2001-03 and prec 2001-02 to 2001-03; the records cover the "
                      "months both have, 2001-02 to 2001-03.", done.stderr)
        self.assertIn("note: tsoil covers 2001-01 to 2001-01, none of the records' months", done.stderr)
        rows = [(r["month"], r["tair"], r["prec"], r["tsoil"]) for r in read_rows(self.path("stations.csv"))][:4]
        self.assertEqual(rows, [("1", "NA", "NA", "NA"), ("2", "10", "50", "NA"), ("3", "10", "50", "NA"),
                                ("4", "NA", "NA", "NA")])
        make_grid(s_file, {"s": soil}, times=(45.0,))
        done = self.extract(files, self.sites([("A", 10.0, 20.0)]))
        self.assertIn("note: tsoil covers 2001-02 to 2001-02; its other months are left missing.", done.stderr)
        tsoil = [r["tsoil"] for r in read_rows(self.path("stations.csv"))][1:3]
        self.assertTrue(math.isclose(float(tsoil[0]), 5.0, abs_tol=1e-9), tsoil)
        self.assertEqual(tsoil[1], "NA")

    def test_a_variable_in_one_file_per_period(self):
        first, second, rain = self.path("t1.nc"), self.path("t2.nc"), self.path("p.nc")
        hot = field(20.0, nt=2)
        hot[1] = 70.0  # 2001-04: absurd, in the second file
        make_grid(first, {"t": tair(10.0, nt=2)}, times=(15.0, 45.0))
        make_grid(second, {"t": {"data": hot, "attrs": {"standard_name": "air_temperature", "units": "degC"}}},
                  times=(74.0, 105.0))
        make_grid(rain, {"p": prec(nt=4)}, times=(15.0, 45.0, 74.0, 105.0))
        sites = self.sites([("A", 10.0, 20.0)])
        done = self.extract([second, rain, first], sites)
        self.assertEqual(done.returncode, 1)
        self.assertIn('the grid file "' + second + '", variable "t" (tair) holds 70 degC in 2001-04', done.stderr)
        make_grid(second, {"t": tair(20.0, nt=2)}, times=(74.0, 105.0))
        done = self.extract([second, rain, first], sites)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([r["tair"] for r in read_rows(self.path("stations.csv"))][:5], ["10", "10", "20", "20", "NA"])
        make_grid(second, {"t": tair(20.0, nt=2)}, times=(105.0, 135.0))
        done = self.extract([first, second, rain], sites)
        self.assertEqual(done.returncode, 1)
        self.assertIn("both hold tair", done.stderr)
        self.assertIn("2001-02, then 2001-04 (a gap)", done.stderr)

    def test_packed_values_with_fill_and_rounding_below_zero(self):
        grid = self.path("grid.nc")
        t = np.array([[[1000, -32767], [500, 500]], [[-32767, 0], [30000, 0]]], dtype="i2")  # 30000: beyond valid_range
        p = np.array([[[-1, 10], [10, 10]], [[20, 20], [20, 20]]], dtype="i2")  # -1 step: rounding
        make_grid(grid, {
            "t": {"data": t, "dtype": "i2", "fill": np.int16(-32767),
                  "attrs": {"standard_name": "air_temperature", "units": "K", "scale_factor": 0.01, "add_offset": 273.15,
                            "valid_range": np.array([-20000, 20000], dtype="i2")}},
            "p": {"data": p, "dtype": "i2",
                  "attrs": {"standard_name": "precipitation_flux", "units": "mm/day", "scale_factor": 0.1}},
        }, times=(15.0, 45.0))
        done = self.extract([grid], self.sites([("A", 10.0, 20.0), ("B", 10.0, 20.5), ("C", 10.5, 20.0)]))
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = {(r["site_id"], r["month"]): r for r in read_rows(self.path("stations.csv"))}
        self.assertTrue(math.isclose(float(rows["C", "1"]["tair"]), 5.0, abs_tol=1e-9), rows["C", "1"])
        self.assertEqual(rows["C", "2"]["tair"], "NA")  # outside valid_range
        self.assertTrue(math.isclose(float(rows["A", "1"]["tair"]), 10.0, abs_tol=1e-9), rows["A", "1"])
        self.assertEqual(rows["A", "2"]["tair"], "NA")  # the fill value
        self.assertEqual(rows["A", "1"]["prec"], "0")    # -0.1 mm/day, one packing step below zero
        self.assertTrue(math.isclose(float(rows["A", "2"]["prec"]), 2.0 * 28, rel_tol=1e-12), rows["A", "2"])
        # B's cell is filled in January only; it still holds data.
        self.assertEqual(rows["B", "1"]["tair"], "NA")


class Placement(GridTest):
    def cells(self):
        return {r["site_id"]: r for r in read_rows(self.path("cells.csv"))}

    def test_longitudes_0_to_360_and_descending_latitudes(self):
        grid = self.path("grid.nc")
        lats = (11.0, 10.0, 9.0)
        lons = tuple(np.arange(0.0, 360.0, 10.0))
        t = np.zeros((1, 3, 36))
        t[0] = np.arange(3)[:, None] * 100 + np.arange(36)[None, :] * 0.5
        make_grid(grid, {"t": {"data": t, "attrs": {"standard_name": "air_temperature", "units": "degC"}},
                         "p": prec(ny=3, nx=36)}, lats=lats, lons=lons)
        done = self.extract([grid], self.sites([("W", 9.2, -10.0), ("E", 10.9, 178.0), ("D", 10.1, -176.0)]),
                            "--cells", self.path("cells.csv"))
        # Temperatures above 60 degC are refused: only rows 0 (11N) keep below it.
        self.assertEqual(done.returncode, 1, done.stderr)
        cells = self.cells()
        self.assertEqual((cells["E"]["cell_lat"], cells["E"]["cell_lon"]), ("11", "180"))
        self.assertIn('"W" (line 2)', done.stderr)
        self.assertIn("above 60 degC", done.stderr)
        self.assertIn("lat 9, lon -10", done.stderr)
        self.assertIn("variable \"t\" (tair)", done.stderr)

    def test_date_line_and_row_order(self):
        grid = self.path("grid.nc")
        lats = (11.0, 10.0, 9.0)
        lons = tuple(np.arange(0.0, 360.0, 10.0))
        t = np.zeros((1, 3, 36))
        t[0] = np.arange(3)[:, None] * 10 + np.arange(36)[None, :] * 0.1
        make_grid(grid, {"t": {"data": t, "attrs": {"standard_name": "air_temperature", "units": "degC"}},
                         "p": prec(ny=3, nx=36)}, lats=lats, lons=lons)
        done = self.extract([grid], self.sites([("W", 9.2, -10.0), ("E", 10.9, 178.0), ("D", 10.1, -176.0)]),
                            "--cells", self.path("cells.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        cells = self.cells()
        self.assertEqual((cells["W"]["cell_lat"], cells["W"]["cell_lon"]), ("9", "-10"))
        self.assertEqual((cells["D"]["cell_lat"], cells["D"]["cell_lon"]), ("10", "180"))
        rows = {r["site_id"]: r for r in read_rows(self.path("stations.csv")) if r["month"] == "1"}
        self.assertTrue(math.isclose(float(rows["W"]["tair"]), 20 + 35 * 0.1, abs_tol=1e-9), rows["W"])
        self.assertTrue(math.isclose(float(rows["E"]["tair"]), 0 + 18 * 0.1, abs_tol=1e-9), rows["E"])
        self.assertTrue(math.isclose(float(rows["D"]["tair"]), 10 + 18 * 0.1, abs_tol=1e-9), rows["D"])
        # Written in the order of the list, not of the grid.
        self.assertEqual(list(dict.fromkeys(r["site_id"] for r in read_rows(self.path("stations.csv")))), ["W", "E", "D"])

    def coast(self):
        grid = self.path("grid.nc")
        lats = (50.0, 50.5, 51.0)
        lons = (0.0, 0.5, 1.0)
        t = np.full((1, 3, 3), np.nan)
        t[0, 0, 2] = 7.0   # the only land cell: 50N 1E
        p = t.copy()
        p[0, 0, 2] = 60.0
        make_grid(grid, {"t": {"data": t, "fill": np.nan, "attrs": {"standard_name": "air_temperature", "units": "degC"}},
                         "p": {"data": p, "attrs": {"standard_name": "precipitation_flux", "units": "mm/month"}}},
                  lats=lats, lons=lons)
        return grid

    def test_coastal_site_takes_the_nearest_land_cell_and_says_which(self):
        grid = self.coast()
        sites = self.sites([("C", 50.1, 0.6), ("OUT", 60.0, 0.5), ("FAR", 51.0, 0.0), ("BAD", "x", 0.0)])
        done = self.extract([grid], sites, "--cells", self.path("cells.csv"))
        self.assertEqual(done.returncode, 1, done.stderr)
        cells = self.cells()
        self.assertEqual(sorted(cells), ["C"])
        c = cells["C"]
        self.assertEqual((c["cell_lat"], c["cell_lon"], c["method"]), ("50", "1", "nearest"))
        expected_km = 6371.0088 * 2 * math.asin(math.sqrt(
            math.sin(math.radians(-0.1) / 2) ** 2 +
            math.cos(math.radians(50.1)) * math.cos(math.radians(50.0)) * math.sin(math.radians(0.4) / 2) ** 2))
        self.assertTrue(math.isclose(float(c["distance_km"]), expected_km, rel_tol=1e-9), (c, expected_km))
        self.assertEqual({r["site_id"] for r in read_rows(self.path("stations.csv"))}, {"C"})
        self.assertIn('The site "OUT" (line 3) at lat 60, lon 0.5 lies outside the grid', done.stderr)
        self.assertIn('The site "FAR" (line 4): its cell (lat 51, lon 0) holds no data, nor does any cell within 100 km',
                      done.stderr)
        self.assertIn("line 5: lat", done.stderr)
        self.assertIn("3 of 4 sites failed", done.stderr)

    def test_what_a_killed_extraction_left_is_removed(self):
        left = self.path(".kelmar-0123456789abcdef.tmp")  # no writer holds it
        with open(left, "w") as f:
            f.write("site_id,year,month,tair,prec,tsoil\nC,2001,1,")
        done = self.extract([self.coast()], self.sites([("C", 50.1, 0.6)]))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertFalse(os.path.exists(left))

    def test_max_distance_refuses_a_land_cell_too_far(self):
        done = self.extract([self.coast()], self.sites([("C", 50.1, 0.6)]), "--max-distance", "20")
        self.assertEqual(done.returncode, 1)
        self.assertIn("within 20 km", done.stderr)

    def test_bilinear_against_a_hand_value(self):
        grid = self.path("grid.nc")
        t = np.array([[[0.0, 10.0], [20.0, 30.0]], [[0.0, 10.0], [20.0, np.nan]]])
        make_grid(grid, {"t": {"data": t, "fill": np.nan, "attrs": {"standard_name": "air_temperature", "units": "degC"}},
                         "p": prec(nt=2)}, lats=(0.0, 1.0), lons=(0.0, 1.0), times=(15.0, 45.0))
        done = self.extract([grid], self.sites([("B", 0.25, 0.5)]), "--method", "bilinear",
                            "--cells", self.path("cells.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = [r for r in read_rows(self.path("stations.csv")) if r["tair"] != "NA"]
        # Weights 0.375, 0.375, 0.125, 0.125; without the last cell the rest scaled to one.
        for got, expected in zip(rows, [10.0, (3.75 + 2.5) / 0.875]):
            self.assertTrue(math.isclose(float(got["tair"]), expected, rel_tol=1e-12), (got, expected))
        cell = read_rows(self.path("cells.csv"))[0]
        self.assertEqual((cell["cell_lat"], cell["cell_lon"], cell["method"]), ("0", "0", "bilinear"))


class Hostile(GridTest):
    def test_each_refusal_names_the_file_and_what_is_wrong(self):
        sites = self.sites([("A", 10.0, 20.0)])
        good = self.path("good.nc")
        make_grid(good, {"t": tair(), "p": prec()})
        with open(good, "rb") as f:
            whole = f.read()

        def grid(name, **kw):
            path = self.path(name)
            make_grid(path, **kw)
            return [path]

        def raw(name, data):
            path = self.path(name)
            with open(path, "wb") as f:
                f.write(data)
            return [path]

        os.mkdir(self.path("folder.nc"))
        cases = [
            ("no time axis", grid("notime.nc", variables={"t": {"data": np.zeros((2, 2)), "attrs": {"standard_name": "air_temperature", "units": "K"}},
                                                          "p": {"data": np.zeros((2, 2)), "attrs": {"standard_name": "precipitation_flux", "units": "mm/month"}}},
                                   time_axis=False),
             ["notime.nc", '"t"', "no time axis"]),
            ("daily steps", grid("daily.nc", variables={"t": tair(nt=3), "p": prec(nt=3)}, times=(0.0, 1.0, 2.0)),
             ["daily.nc", "time step 2", "2001-01-02", "not monthly"]),
            ("gap", grid("gap.nc", variables={"t": tair(nt=3), "p": prec(nt=3)}, times=(15.0, 45.0, 105.0)),
             ["gap.nc", "time step 3", "2001-03 missing"]),
            ("overlap", grid("overlap.nc", variables={"t": tair(nt=3), "p": prec(nt=3)}, times=(15.0, 45.0, 20.0)),
             ["overlap.nc", "time step 3", "goes back from 2001-02 to 2001-01"]),
            ("bounds over two months", grid("bounds.nc", variables={"t": tair(nt=2), "p": prec(nt=2)}, times=(15.0, 45.0),
                                            bounds=[[0, 40], [40, 59]]),
             ["bounds.nc", "time step 1", "within one month"]),
            ("mixed calendars", grid("cal1.nc", variables={"t": tair()}, calendar="noleap")
             + grid("cal2.nc", variables={"p": prec()}, calendar="360_day"),
             ["cal1.nc", "cal2.nc", "noleap", "360_day", "different calendars"]),
            ("unknown calendar", grid("julian.nc", variables={"t": tair(), "p": prec()}, calendar="julian"),
             ["julian.nc", "julian", "360_day"]),
            ("ambiguous unit", grid("metres.nc", variables={"t": tair(), "p": prec(0.002, "m", "lwe_thickness_of_precipitation_amount")}),
             ["metres.nc", '"p" (prec)', '"m" is ambiguous', "--units prec=UNIT"]),
            ("unknown unit", grid("furlong.nc", variables={"t": tair(units="degF"), "p": prec()}),
             ["furlong.nc", '"t" (tair)', '"degF"', "--units tair=UNIT"]),
            ("absent unit", grid("nounit.nc", variables={"t": tair(), "p": {"data": field(1.0), "attrs": {"standard_name": "precipitation_flux"}}}),
             ["nounit.nc", "no unit"]),
            ("no longitudes", grid("nolon.nc", variables={"t": {"data": np.zeros((1, 2, 0)), "attrs": {"standard_name": "air_temperature", "units": "K"}},
                                                          "p": {"data": np.zeros((1, 2, 0)), "attrs": {"standard_name": "precipitation_flux", "units": "mm/month"}}},
                                   lons=()),
             ["nolon.nc", "no latitudes or no longitudes"]),
            ("two temperatures", grid("tasmax.nc", variables={"t": tair(), "tmax": tair(), "p": prec()}),
             ["tasmax.nc", "Several variables may be tair", '"t" of', '"tmax" of', "--var tair=NAME"]),
            ("no temperature", grid("notemp.nc", variables={"p": prec()}), ["notemp.nc", "air_temperature", "--var tair=NAME"]),
            ("not netCDF", raw("text.nc", b"site_id,lat,lon\nA,1,2\n"), ["text.nc", "cannot be read as netCDF"]),
            ("empty", raw("empty.nc", b""), ["empty.nc", "is empty"]),
            ("folder", [self.path("folder.nc")], ["folder.nc", "is a folder"]),
            ("truncated", raw("cut.nc", whole[: len(whole) // 2]), ["cut.nc"]),
            ("missing", [self.path("missing.nc")], ["missing.nc", "does not exist"]),
        ]
        for name, files, said in cases:
            with self.subTest(name):
                out = self.path(name.replace(" ", "_") + ".csv")
                done = run("extract", "--sites", sites, "--out", out, *sum((["--grid", f] for f in files), []))
                self.assertEqual(done.returncode, 1, done.stderr)
                for text in said:
                    self.assertIn(text, done.stderr)
                self.assertFalse(os.path.exists(out))

    def test_dimensions_other_than_time_latitude_longitude(self):
        """A length-1 extra dimension and another dimension order are read;
        a longer extra dimension and 2-D coordinates are refused by name."""
        def build(name, dims, sizes, coords):
            path = self.path(name)
            with netCDF4.Dataset(path, "w") as nc:
                for dim, size in zip(dims, sizes):
                    nc.createDimension(dim, size)
                time = nc.createVariable("time", "f8", ("time",))
                time.units = "days since 2001-01-01"
                time[:] = [15.0]
                for dim, units in coords.items():
                    var = nc.createVariable(dim, "f8", (dim,))
                    var.units = units
                    var[:] = [10.0, 10.5] if units == "degrees_north" else [20.0, 20.5]
                for var_name, standard, units, value in (("t", "air_temperature", "degC", 10.0),
                                                         ("p", "precipitation_flux", "mm/month", 50.0)):
                    var = nc.createVariable(var_name, "f8", dims)
                    var.standard_name = standard
                    var.units = units
                    data = np.full(sizes, value)
                    data[(0,) * len(sizes)] = value + 1  # the cell of lat 10, lon 20
                    var[:] = data
            return path

        sites = self.sites([("A", 10.0, 20.0)])
        lat_lon = {"lat": "degrees_north", "lon": "degrees_east"}
        read = build("height.nc", ("time", "height", "lon", "lat"), (1, 1, 2, 2), lat_lon)
        done = self.extract([read], sites)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(read_rows(self.path("stations.csv"))[0]["tair"], "11")
        for name, dims, sizes, coords, said in (
                ("levels.nc", ("time", "plev", "lat", "lon"), (1, 3, 2, 2), lat_lon,
                 "(time=1, plev=3, lat=2, lon=2): (plev=3) is neither time, latitude nor longitude"),
                ("curvilinear.nc", ("time", "y", "x"), (1, 2, 2), {}, "(time=1, y=2, x=2), without a latitude")):
            with self.subTest(name):
                done = self.extract([build(name, dims, sizes, coords)], sites, out=name + ".csv")
                self.assertEqual(done.returncode, 1)
                self.assertIn(name, done.stderr)
                self.assertIn(said, done.stderr)

    def test_absurd_precipitation_names_file_variable_month_and_cell(self):
        grid = self.path("wet.nc")
        p = field(50.0, nt=2)
        p[1, 1, 1] = -5.0
        make_grid(grid, {"t": tair(nt=2), "p": {"data": p, "attrs": {"standard_name": "precipitation_flux", "units": "mm/month"}}},
                  times=(15.0, 45.0))
        done = self.extract([grid], self.sites([("A", 10.0, 20.0), ("Z", 10.5, 20.5)]))
        self.assertEqual(done.returncode, 1)
        self.assertIn('The site "Z" (line 3): the grid file "' + grid + '", variable "p" (prec) holds -5 mm in 2001-02 '
                      'at the cell lat 10.5, lon 20.5: below zero.', done.stderr)
        self.assertEqual({r["site_id"] for r in read_rows(self.path("stations.csv"))}, {"A"})

    def test_usage_errors_exit_2_and_write_nothing(self):
        sites = self.sites([("A", 10.0, 20.0)])
        for args in (["--sites", sites, "--out", self.path("o.csv")],
                     ["--grid", "g.nc", "--sites", sites, "--out", self.path("o.csv"), "--method", "cubic"],
                     ["--grid", "g.nc", "--sites", sites, "--out", self.path("o.csv"), "--var", "rain=tp"],
                     ["--grid", "g.nc", "--sites", sites, "--out", self.path("o.csv"), "--max-distance", "-3"],
                     ["--grid", sites, "--sites", sites, "--out", sites]):
            with self.subTest(args=args):
                done = run("extract", *args)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertFalse(os.path.exists(self.path("o.csv")))


class EndToEnd(GridTest):
    def test_extracted_record_runs_as_the_same_record_written_by_hand(self):
        grid_t, grid_p = self.path("t.nc"), self.path("p.nc")
        months = 36
        rng = np.random.default_rng(7)
        t = np.round(rng.normal(8, 6, (months, 2, 2)), 2)
        p = np.round(rng.gamma(2, 30, (months, 2, 2)), 1)
        times = [15.0 + 30.0 * i for i in range(months)]
        make_grid(grid_t, {"t": {"data": t, "attrs": {"standard_name": "air_temperature", "units": "degC"}}},
                  times=times, time_units="days since 1981-01-01", calendar="360_day")
        make_grid(grid_p, {"p": {"data": p, "attrs": {"units": "mm/month"}}},
                  times=times, time_units="days since 1981-01-01", calendar="360_day")
        done = self.extract([grid_t, grid_p], self.sites([("S1", 10.4, 20.1)]), "--var", "prec=p")
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.path("hand.csv"), "w") as f:
            f.write("site_id,year,month,tair,prec,tsoil\n")
            for i in range(months):
                f.write(f"S1,{1981 + i // 12},{i % 12 + 1},{float(t[i, 1, 0])!r},{float(p[i, 1, 0])!r},NA\n")
        outputs = []
        for weather in ("stations.csv", "hand.csv"):
            table = self.path(weather + ".table")
            ran = run("simulate", "--site", os.path.join(EXAMPLES, "soil.sit"), "--climate",
                      os.path.join(EXAMPLES, "climat.cld"), "--weather", self.path(weather), "--site-id", "S1",
                      "--seed", "5", "--table", table)
            self.assertEqual(ran.returncode, 0, ran.stderr)
            with open(table, "rb") as f:
                outputs.append(f.read())
        self.assertGreater(len(outputs[0]), 1000)
        self.assertEqual(outputs[0], outputs[1])
        # The same through a batch whose site list names the table as weather_file.
        tables = []
        for weather in ("stations.csv", "hand.csv"):
            listed = self.path(weather + ".sites.csv")
            with open(listed, "w") as f:
                f.write("site_id,site_file,climate_file,weather_file,seed\n")
                f.write(f"S1,{os.path.join(EXAMPLES, 'soil.sit')},{os.path.join(EXAMPLES, 'climat.cld')},"
                        f"{self.path(weather)},5\n")
            folder = self.path(weather + ".batch")
            ran = run("batch", "--sites", listed, "--out", folder, "--seed", "1", "--quiet")
            self.assertEqual(ran.returncode, 0, ran.stderr)
            with open(os.path.join(folder, "monthly.csv"), "rb") as f:
                tables.append(f.read())
        self.assertGreater(len(tables[0]), 1000)
        self.assertEqual(tables[0], tables[1])


class BatchFromGrid(GridTest):
    """batch --grid: the sites without a weather_file run the records extract
    takes for them, as a batch of those records does; a site without a usable
    cell is its error; the grid is an input of the batch."""

    def setUp(self):
        super().setUp()
        self.grid = self.path("grid.nc")
        months = 24
        rng = np.random.default_rng(3)
        t = np.round(rng.normal(6, 8, (months, 3, 3)), 2)
        p = np.round(rng.gamma(2, 25, (months, 3, 3)), 1)
        s = np.round(t * 0.8 + 2, 2)
        for a in (t, p, s):
            a[:, 2, :] = np.nan  # the northern row is sea
        self.variables = {name: {"data": a, "fill": np.nan, "attrs": {"standard_name": std, "units": unit}}
                          for name, a, std, unit in (("t", t, "air_temperature", "degC"),
                                                     ("p", p, "precipitation_flux", "mm/month"),
                                                     ("s", s, "soil_temperature", "degC"))}
        self.times = [15.0 + 30.0 * i for i in range(months)]
        make_grid(self.grid, self.variables, lats=(50.0, 50.5, 51.0), lons=(0.0, 0.5, 1.0), times=self.times,
                  time_units="days since 1991-01-01", calendar="360_day")
        soil, climate = os.path.join(EXAMPLES, "soil.sit"), os.path.join(EXAMPLES, "climat.cld")
        self.rows = [("IN", 50.1, 0.2, ""), ("COAST", 50.95, 0.6, ""), ("OUT", 60.0, 0.5, ""),
                     ("STATION", 50.0, 0.0, "STATION_WEATHER")]
        self.soil, self.climate = soil, climate

    def site_list(self, name, weather_of_grid_sites, station):
        path = self.path(name)
        with open(path, "w") as f:
            f.write("site_id,site_file,climate_file,weather_file,lat,lon\n")
            for site, lat, lon, weather in self.rows:
                weather = station if weather else weather_of_grid_sites
                f.write(f"{site},{self.soil},{self.climate},{weather},{lat},{lon}\n")
        return path

    def test_grid_sites_run_their_extracted_records_and_failures_go_to_errors(self):
        station = self.path("station.csv")
        with open(station, "w") as f:
            f.write("site_id,year,month,tair,prec,tsoil\n")
            for i in range(24):
                f.write(f"STATION,{1991 + i // 12},{i % 12 + 1},{i % 12 - 3},{40 + i},{i % 12 - 1}\n")
        listed = self.site_list("sites.csv", "", station)
        ran = run("batch", "--sites", listed, "--grid", self.grid, "--out", self.path("a"), "--seed", "1", "--quiet")
        self.assertEqual(ran.returncode, 1, ran.stderr)
        self.assertIn("1 of 4 sites failed", ran.stderr)
        errors = read_rows(self.path("a/errors.csv"))
        self.assertEqual([e["site_id"] for e in errors], ["OUT"])
        self.assertIn('The site "OUT" (line 4) at lat 60, lon 0.5 lies outside the grid', errors[0]["message"])
        cells = {r["site_id"]: r for r in read_rows(self.path("a/cells.csv"))}
        self.assertEqual(sorted(cells), ["COAST", "IN"])
        self.assertEqual((cells["COAST"]["cell_lat"], cells["COAST"]["cell_lon"]), ("50.5", "0.5"))
        self.assertFalse(os.path.exists(self.path("a/parts")))

        # The same sites run from the table extract writes for them.
        done = self.extract([self.grid], listed)
        self.assertEqual(done.returncode, 1, done.stderr)
        by_hand = self.site_list("by_hand.csv", self.path("stations.csv"), station)
        ran = run("batch", "--sites", by_hand, "--out", self.path("b"), "--seed", "1", "--quiet")
        self.assertEqual(ran.returncode, 1, ran.stderr)
        for table in ("monthly.csv", "annual.csv"):
            with open(self.path("a/" + table), "rb") as a, open(self.path("b/" + table), "rb") as b:
                got, want = a.read(), b.read()
            self.assertGreater(len(got), 800, table)
            self.assertEqual(got, want, table)
        with open(self.path("a/monthly.csv")) as f:
            self.assertEqual({line.split(",")[0] for line in f.readlines()[1:]}, {"IN", "COAST", "STATION"})

    def test_the_grid_is_an_input_of_the_batch(self):
        listed = self.site_list("sites.csv", "", self.path("none.csv"))
        folder = self.path("a")
        # A batch in two shares, the first done: the second must read the same grid the same way.
        first = run("batch", "--sites", listed, "--grid", self.grid, "--out", folder, "--seed", "1", "--quiet",
                    "--shard", "0/2")
        self.assertEqual(first.returncode, 1, first.stderr)
        self.variables["t"]["data"][0, 0, 0] += 1.0
        make_grid(self.path("other.nc"), self.variables, lats=(50.0, 50.5, 51.0), lons=(0.0, 0.5, 1.0),
                  times=self.times, time_units="days since 1991-01-01", calendar="360_day")
        for args, said in (([], "was started with --grid"),
                           (["--grid", self.path("other.nc")], 'given with --grid) holds other bytes'),
                           (["--grid", self.grid, "--method", "bilinear"], "other --grid options")):
            with self.subTest(args=args):
                again = run("batch", "--sites", listed, "--out", folder, "--quiet", "--shard", "1/2", *args)
                self.assertEqual(again.returncode, 1, again.stderr)
                self.assertIn(said, again.stderr)
        late = run("batch", "--sites", listed, "--grid", self.grid, "--out", folder, "--quiet", "--shard", "1/2")
        self.assertEqual(late.returncode, 0, late.stderr)
        merged = run("merge", folder)
        self.assertEqual(merged.returncode, 1, merged.stderr)
        self.assertEqual([e["site_id"] for e in read_rows(os.path.join(folder, "errors.csv"))], ["OUT", "STATION"])

    def test_list_faults_of_a_grid_batch(self):
        cases = (("site_id,site_file,climate_file\nA,{soil},{climate}\n", 'names no column "lat"'),
                 ("site_id,site_file,climate_file,lat,lon\nA,{soil},{climate},50.1,\n",
                  'The site "A" names no weather_file, so it takes its weather from --grid, which needs its lat and '
                  'lon.\nin "{listed}", line 2'))
        for text, said in cases:
            with self.subTest(text=text):
                listed = self.path("faulty.csv")
                with open(listed, "w") as f:
                    f.write(text.format(soil=self.soil, climate=self.climate))
                ran = run("batch", "--sites", listed, "--grid", self.grid, "--out", self.path("f"), "--quiet")
                self.assertEqual(ran.returncode, 1, ran.stderr)
                self.assertIn(said.format(listed=listed), ran.stderr)
                self.assertFalse(os.path.exists(self.path("f/manifest.txt")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)
