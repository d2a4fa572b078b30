"""kelmar-cli simulate --grid against extract followed by simulate --weather on
small CF netCDF files made here: the same bytes observed and estimated, the
cell told on standard error as the cells file holds it, positions refused,
and the command lines refused.

Run by ctest: simulate_grid_test.py KELMAR_CLI EXAMPLES_DIR
"""
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from grid_extract_test import EXAMPLES, GridTest, make_grid, read_rows, run  # noqa: E402

SITE = os.path.join(EXAMPLES, "soil.sit")
CLIMATE = os.path.join(EXAMPLES, "climat.cld")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class SimulateGrid(GridTest):
    def monthly_grid(self, years=10, lats=(10.0, 10.5, 11.0), lons=(20.0, 20.5, 21.0), land=None):
        """Air temperature and precipitation in two files (precipitation
        without a standard name, so --var is needed), 360-day calendar from
        1981; `land` (row, col) leaves every other cell without data."""
        months = 12 * years
        rng = np.random.default_rng(11)
        shape = (months, len(lats), len(lons))
        seasons = 10 * np.sin(np.arange(months) * np.pi / 6)[:, None, None]
        t = np.round(rng.normal(6, 2, shape) + seasons, 2)
        p = np.round(rng.gamma(2, 30, shape), 1)
        if land is not None:
            sea = np.ones(shape[1:], bool)
            sea[land] = False
            t[:, sea] = np.nan
            p[:, sea] = np.nan
        times = [15.0 + 30.0 * i for i in range(months)]
        files = [self.path("t.nc"), self.path("p.nc")]
        make_grid(files[0], {"t": {"data": t, "fill": np.nan,
                                   "attrs": {"standard_name": "air_temperature", "units": "degC"}}},
                  lats=lats, lons=lons, times=times, time_units="days since 1981-01-01", calendar="360_day")
        make_grid(files[1], {"p": {"data": p, "fill": np.nan, "attrs": {"units": "mm/month"}}},
                  lats=lats, lons=lons, times=times, time_units="days since 1981-01-01", calendar="360_day")
        return files

    def grid_args(self, files, lat, lon):
        return sum((["--grid", f] for f in files), []) + ["--var", "prec=p", "--lat", str(lat), "--lon", str(lon)]

    def test_same_bytes_as_extract_then_simulate_weather(self):
        files = self.monthly_grid()
        lat, lon = 10.4, 20.1
        # (case, options of both runs and of the extraction, outputs: files and an ensemble's folder)
        cases = [
            ("observed", [], ["--seed", "5", "--table", "{}table.csv", "--results", "{}results.txt"]),
            ("observed bilinear", ["--method", "bilinear"], ["--seed", "5", "--table", "{}table.csv"]),
            ("estimated", [], ["--estimate-climate", "--seed", "7", "--run-years", "40", "--table", "{}table.csv",
                               "--results", "{}results.txt"]),
            ("estimated over a reference, an ensemble", ["--method", "bilinear"],
             ["--estimate-climate", "--reference", "1982-1989", "--replicates", "3", "--out", "{}ensemble",
              "--seed", "3", "--run-years", "20", "--start-year", "2001"]),
        ]
        for case, method, options in cases:
            with self.subTest(case):
                prefix = case.replace(" ", "_").replace(",", "")
                done = self.extract(files, self.sites([("S", lat, lon)]), "--var", "prec=p", *method,
                                    "--cells", self.path("cells.csv"))
                self.assertEqual(done.returncode, 0, done.stderr)
                runs = {}
                for how, source in (("weather", ["--weather", self.path("stations.csv"), "--site-id", "S"]),
                                    ("grid", self.grid_args(files, lat, lon) + method)):
                    outputs = [o.format(self.path(f"{prefix}.{how}.")) for o in options]
                    ran = run("simulate", "--site", SITE, "--climate", CLIMATE, *source, *outputs)
                    self.assertEqual(ran.returncode, 0, f"{how}: {ran.stderr}")
                    written = [o for o in outputs if o.startswith(self.dir.name)]
                    runs[how] = (ran, [sorted((n, read(os.path.join(w, n))) for n in os.listdir(w))
                                       if os.path.isdir(w) else read(w) for w in written])
                self.assertEqual(runs["grid"][1], runs["weather"][1], f"{case}: the outputs differ")
                self.assertGreater(len(str(runs["grid"][1])), 1000)
                cell = read_rows(self.path("cells.csv"))[0]
                stderr = runs["grid"][0].stderr
                self.assertIn(f"note: lat {cell['lat']}, lon {cell['lon']} takes the record ", stderr)
                self.assertIn(f"lat {cell['cell_lat']}, lon {cell['cell_lon']}, {cell['distance_km']} km away "
                              f"(method {cell['method']})", stderr)
                if "--estimate-climate" not in options:
                    self.assertIn('There are 10 years in "t.nc, p.nc at lat 10.4, lon 20.1"', runs["grid"][0].stdout)

    def test_coastal_position_takes_the_land_cell_and_says_which(self):
        files = self.monthly_grid(years=2, lats=(50.0, 50.5, 51.0), lons=(0.0, 0.5, 1.0), land=(0, 2))
        done = self.extract(files, self.sites([("C", 50.1, 0.6)]), "--var", "prec=p", "--cells", self.path("cells.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        cell = read_rows(self.path("cells.csv"))[0]
        self.assertEqual((cell["cell_lat"], cell["cell_lon"]), ("50", "1"))
        ran = run("simulate", "--site", SITE, "--climate", CLIMATE, *self.grid_args(files, 50.1, 0.6),
                  "--seed", "1", "--table", self.path("grid.table"))
        self.assertEqual(ran.returncode, 0, ran.stderr)
        self.assertIn(f"note: lat 50.1, lon 0.6 takes the record of the grid cell at lat 50, lon 1, "
                      f"{cell['distance_km']} km away (method nearest)\n", ran.stderr)
        ran = run("simulate", "--site", SITE, "--climate", CLIMATE, "--weather", self.path("stations.csv"),
                  "--seed", "1", "--table", self.path("weather.table"))
        self.assertEqual(ran.returncode, 0, ran.stderr)
        self.assertEqual(read(self.path("grid.table")), read(self.path("weather.table")))

    def test_positions_without_a_record_are_refused_and_nothing_is_written(self):
        files = self.monthly_grid(years=1, lats=(50.0, 50.5, 51.0), lons=(0.0, 0.5, 1.0), land=(0, 2))
        # (case, lat, lon, options, what stderr says)
        cases = [
            ("north of the grid", 60, 0.5, [],
             "The position lat 60, lon 0.5 lies outside the grid (latitudes 49.75 to 51.25"),
            ("west of the grid", 50.5, -3, [], "The position lat 50.5, lon -3 lies outside the grid"),
            ("sea beyond reach", 51.0, 0.0, [],
             "The position lat 51, lon 0: its cell (lat 51, lon 0) holds no data, nor does any cell within 100 km"),
            ("land beyond --max-distance", 50.1, 0.6, ["--max-distance", "20"],
             "The position lat 50.1, lon 0.6: its cell (lat 50, lon 0.5) holds no data, nor does any cell within 20 km"),
        ]
        for case, lat, lon, extra, said in cases:
            with self.subTest(case):
                results = self.path(case.replace(" ", "_") + ".txt")
                ran = run("simulate", "--site", SITE, "--climate", CLIMATE, *self.grid_args(files, lat, lon), *extra,
                          "--results", results, "--table", results + ".table")
                self.assertEqual(ran.returncode, 1, ran.stderr)
                self.assertIn(said, ran.stderr)
                self.assertEqual(ran.stdout, "")
                self.assertFalse(os.path.exists(results) or os.path.exists(results + ".table"))

    def test_command_lines_refused_name_the_options(self):
        files = self.monthly_grid(years=1)
        grid = ["--grid", files[0], "--grid", files[1], "--var", "prec=p"]
        weather = os.path.join(EXAMPLES, "weather.wed")
        results = self.path("results.txt")
        grid_bytes = read(files[0])
        # (options after --site, what the message says)
        cases = [
            (["--weather", weather, "--lat", "10"], "--lat needs --grid"),
            (["--weather", weather, "--lon", "20"], "--lon needs --grid"),
            (["--weather", weather, "--method", "bilinear"], "--method needs --grid"),
            (["--climate", CLIMATE, "--max-distance", "5"], "--max-distance needs --grid"),
            (grid + ["--weather", weather, "--lat", "10", "--lon", "20"], "--grid and --weather exclude each other"),
            (grid + ["--lon", "20"], "--grid needs --lat and --lon"),
            (grid + ["--lat", "10"], "--grid needs --lat and --lon"),
            (grid + ["--lat", "95", "--lon", "20"], "--lat needs degrees from -90 to 90, not '95'"),
            (grid + ["--lat", "10", "--lon", "-180.5"], "--lon needs degrees from -180 to 180, not '-180.5'"),
            (grid + ["--lat", "x", "--lon", "20"], "--lat needs a number, not 'x'"),
            (grid + ["--lat", "10", "--lon", "20", "--method", "cubic"], "--method needs nearest or bilinear"),
            (grid + ["--lat", "10", "--lon", "20", "--var", "rain=p"], "--var needs KEY=NAME"),
            (grid + ["--lat", "10", "--lon", "20", "--max-distance", "-1"], "--max-distance needs kilometres"),
            (grid + ["--lat", "10", "--lon", "20", "--start-year", "1990"], "--start-year belongs to simulated weather"),
            (grid + ["--lat", "10", "--lon", "20", "--replicates", "2", "--out", self.path("e")],
             "--replicates needs simulated weather"),
            (["--grid", files[0], "--lat", "10", "--lon", "20", "--table", files[0]], "--grid"),
        ]
        for args, said in cases:
            with self.subTest(args=args):
                ran = run("simulate", "--site", SITE, *args, "--results", results)
                self.assertEqual(ran.returncode, 2, ran.stderr)
                self.assertIn(said, ran.stderr)
                self.assertFalse(os.path.exists(results))
                self.assertFalse(os.path.exists(self.path("e")))
        self.assertEqual(read(files[0]), grid_bytes)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)
