"""The netCDF output of kelmar-cli batch read by an independent reader.

Runs the program (argument 1) on a list of simulated and observed sites,
one that fails and an id that needs quoting, with --format both; opens
results.nc and results_annual.nc with xarray's CF decoding and checks
that their sites are the list's, in order, and that every monthly value
equals the number of monthly.csv exactly, every annual total that of
annual.csv and every annual mean the mean of monthly.csv's months weighted
by their days, with NaN wherever a site has no month or year. The same list run in two shards with --format netcdf and joined
by merge must give the same data.
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
SEED = 3

# (id, weather_file, seed, lat, lon): two chunks of 64 sites, the second
# short; simulated sites run 500 years, the observed record 1961..1990.
SPECIAL = [
    ("sim-1", "", "", "61.5", "30.25"),
    ("obs-1", "weather.wed", "", "", ""),
    ('odd, "id"', "", "7", "-12.75", "359.5"),
    ("broken", "absent.wed", "", "", ""),
]
SITES = SPECIAL + [(f"obs-{i}", "weather.wed", "", "0.1", "") for i in range(2, 66)] + [("sim-2", "", "", "", "-180")]


def run(args, cwd, expect):
    done = subprocess.run([PROGRAM] + args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != expect:
        raise RuntimeError(f"{args} gave {done.returncode}, not {expect}: {done.stderr}")
    return done


def weighted_means(monthly, first):
    """The means of each year of `monthly` (fields by months from January of
    `first`), its months weighted by their days."""
    fields, months = monthly.shape
    years = np.arange(first, first + months // 12)
    starts = np.array([np.datetime64(f"{y:04d}-01") for y in years])[:, None] + np.arange(13).astype("timedelta64[M]")
    days = np.diff(starts.astype("datetime64[D]"), axis=1).astype(float)  # (years, 12)
    values = monthly.reshape(fields, -1, 12)
    return (values * days).sum(axis=2) / days.sum(axis=1)


def open_data(path):
    ds = xr.open_dataset(path)  # decode_cf by default
    ds.load()
    ds.close()
    return ds


class BatchNetcdfTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Years before 1678 do not fit numpy's datetime64, so the times decode
        # to cftime dates; xarray says so on every decoding. (Set here: the
        # test runner replaces the filters of the module.)
        warnings.filterwarnings("ignore", message="Unable to decode time axis")
        cls.folder = tempfile.TemporaryDirectory(prefix="kelmar-batch-nc-")
        work = cls.folder.name
        for name in ["soil.sit", "climat.cld", "weather.wed"]:
            shutil.copy(os.path.join(EXAMPLES, name), work)
        with open(os.path.join(work, "sites.csv"), "w", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(["site_id", "site_file", "climate_file", "weather_file", "seed", "lat", "lon"])
            for site_id, weather, seed, lat, lon in SITES:
                out.writerow([site_id, "soil.sit", "climat.cld", weather, seed, lat, lon])
        common = ["--sites", "sites.csv", "--seed", str(SEED), "--quiet"]
        # One site fails, so the batch ends with status 1 and its outputs written.
        run(["batch", "--out", "both", "--format", "both"] + common, work, 1)
        for shard, status in [("0/2", 1), ("1/2", 0)]:  # the failing site is in chunk 0
            run(["batch", "--out", "shards", "--format", "netcdf", "--shard", shard] + common, work, status)
        run(["merge", "shards"], work, 1)
        cls.version = run(["--version"], work, 0).stdout.split()[-1]
        cls.ds = open_data(os.path.join(work, "both", "results.nc"))
        cls.yearly = open_data(os.path.join(work, "both", "results_annual.nc"))
        cls.merged = open_data(os.path.join(work, "shards", "results.nc"))
        cls.merged_yearly = open_data(os.path.join(work, "shards", "results_annual.nc"))
        cls.monthly = cls.read_table(os.path.join(work, "both", "monthly.csv"), 3)
        cls.annual = cls.read_table(os.path.join(work, "both", "annual.csv"), 2)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @staticmethod
    def read_table(path, lead):
        """{site_id: [(year, month or None, [values], seed or None)]} in file order."""
        rows = {}
        with open(path, newline="") as f:
            table = csv.reader(f)
            header = next(table)
            assert [h.split("_")[0] for h in header[lead:lead + len(KEYS)]] == [k.split("_")[0] for k in KEYS], header
            for r in table:
                values = [float(v) for v in r[lead:lead + len(KEYS)]]
                month = int(r[2]) if lead == 3 else None
                seed = int(r[-1]) if lead == 2 else None
                rows.setdefault(r[0], []).append((int(r[1]), month, values, seed))
        return rows

    def test_sites_in_list_order_with_positions_and_seeds(self):
        ds = self.ds
        self.assertEqual([str(v) for v in ds.site_id.values], [s[0] for s in SITES])
        to_number = lambda text: float(text) if text else np.nan
        np.testing.assert_array_equal(ds.lat.values, [to_number(s[3]) for s in SITES])
        np.testing.assert_array_equal(ds.lon.values, [to_number(s[4]) for s in SITES])
        for k, (site_id, *_rest) in enumerate(SITES):
            if site_id in self.annual:
                self.assertEqual(ds.seed.values[k], self.annual[site_id][0][3], site_id)
        self.assertEqual(ds.seed.values[2], 7)
        self.assertGreaterEqual(ds.seed.values[3], 0, "a failed site keeps the seed it ran with")
        self.assertEqual(int(ds.attrs["base_seed"]), SEED)
        self.assertEqual(ds.attrs["program_version"], self.version)
        self.assertNotIn("broken", self.annual)

    def test_time_axes_span_every_sites_years(self):
        years = [y for rows in self.annual.values() for (y, _m, _v, _s) in rows]
        first, last = min(years), max(years)
        self.assertEqual(dict(self.ds.sizes), {"site_id": len(SITES), "time": 12 * (last - first + 1), "nv": 2})
        self.assertEqual(dict(self.yearly.sizes), {"site_id": len(SITES), "time": last - first + 1, "nv": 2})
        self.assertEqual((self.ds.time.values[0].year, self.ds.time.values[0].month), (first, 1))
        self.assertEqual((self.ds.time.values[-1].year, self.ds.time.values[-1].month), (last, 12))
        self.assertEqual(self.yearly.time.values[-1].year, last)

    def test_every_value_equals_the_csv_and_the_rest_is_missing(self):
        ds = self.ds
        first = ds.time.values[0].year
        times, years = ds.sizes["time"], self.yearly.sizes["time"]
        for k, (site_id, *_rest) in enumerate(SITES):
            monthly = np.full((len(KEYS), times), np.nan)
            for year, month, values, _seed in self.monthly.get(site_id, []):
                monthly[:, 12 * (year - first) + month - 1] = values
            annual = np.full((len(KEYS), years), np.nan)
            for year, _month, values, _seed in self.annual.get(site_id, []):
                annual[:, year - first] = values
            means = weighted_means(monthly, first)
            for f, key in enumerate(KEYS):
                # Exact: the CSV holds the shortest text of each double.
                np.testing.assert_array_equal(ds[key].values[:, k], monthly[f], err_msg=f"{site_id} {key}")
                if key == "prec":  # a total stays annual.csv's
                    np.testing.assert_array_equal(self.yearly[key].values[:, k], annual[f], err_msg=f"{site_id} annual {key}")
                else:
                    np.testing.assert_allclose(self.yearly[key].values[:, k], means[f], rtol=1e-12, atol=1e-12,
                                               err_msg=f"{site_id} annual {key}: months weighted by their days")
        self.assertTrue(np.isnan(ds.tsoil.values[:, 3]).all(), "the failed site has no values")
        self.assertEqual(len(self.monthly["sim-2"]), 6000)

    def test_shards_joined_by_merge_give_the_same_data(self):
        self.assertFalse(os.path.exists(os.path.join(self.folder.name, "shards", "monthly.csv")),
                         "--format netcdf writes no CSV tables")
        a, b = self.ds, self.merged
        a_attrs = {k: v for k, v in a.attrs.items() if k != "history"}
        b_attrs = {k: v for k, v in b.attrs.items() if k != "history"}
        self.assertEqual(a_attrs, b_attrs)
        self.assertTrue(a.identical(b.assign_attrs(history=a.attrs["history"])))
        a, b = self.yearly, self.merged_yearly
        self.assertTrue(a.identical(b.assign_attrs(history=a.attrs["history"])))


# Sites of the scenario and replicate run: simulated, observed (one
# realization), failed, and simulated with a seed of its own.
TASK_SITES = [("sim-1", "", ""), ("obs-1", "weather.wed", ""), ("broken", "absent.wed", ""), ("sim-2", "", "9")]
SCENARIOS = ["base", "warm, dry"]  # a name that needs quoting in the CSV
REPLICATES = 3


class BatchNetcdfScenariosTest(unittest.TestCase):
    """A batch of scenarios and replicates: the dimensions scenario and
    realization, and every value of every task equal to the CSV's."""

    @classmethod
    def setUpClass(cls):
        warnings.filterwarnings("ignore", message="Unable to decode time axis")
        cls.folder = tempfile.TemporaryDirectory(prefix="kelmar-batch-nc-tasks-")
        work = cls.folder.name
        for name in ["soil.sit", "climat.cld", "weather.wed"]:
            shutil.copy(os.path.join(EXAMPLES, name), work)
        with open(os.path.join(work, "sites.csv"), "w", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(["site_id", "site_file", "climate_file", "weather_file", "seed"])
            for site_id, weather, seed in TASK_SITES:
                out.writerow([site_id, "soil.sit", "climat.cld", weather, seed])
        with open(os.path.join(work, "scenarios.csv"), "w", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(["scenario", "delta_t", "precip_factor"])
            out.writerow([SCENARIOS[0], "", ""])
            out.writerow([SCENARIOS[1], "1.5", "0.8"])
        run(["batch", "--sites", "sites.csv", "--seed", str(SEED), "--quiet", "--out", "both", "--format", "both",
             "--scenarios", "scenarios.csv", "--replicates", str(REPLICATES)], work, 1)
        cls.ds = open_data(os.path.join(work, "both", "results.nc"))
        cls.yearly = open_data(os.path.join(work, "both", "results_annual.nc"))
        cls.tables = {}
        for name, lead in [("monthly", 5), ("annual", 4)]:
            rows = {}
            with open(os.path.join(work, "both", name + ".csv"), newline="") as f:
                table = csv.reader(f)
                header = next(table)
                assert header[:3] == ["site_id", "scenario", "replicate"], header
                for r in table:
                    key = (r[0], r[1], int(r[2]))
                    rows.setdefault(key, []).append((int(r[3]), int(r[4]) if lead == 5 else None,
                                                     [float(v) for v in r[lead:lead + len(KEYS)]], r[-1]))
            cls.tables[name] = rows

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_dimensions_and_their_coordinates(self):
        ds = self.ds
        self.assertEqual(ds.sizes["scenario"], len(SCENARIOS))
        self.assertEqual(ds.sizes["realization"], REPLICATES)
        self.assertEqual([str(v) for v in ds.scenario.values], SCENARIOS)
        np.testing.assert_array_equal(ds.realization.values, np.arange(REPLICATES))
        self.assertEqual(ds.realization.attrs["standard_name"], "realization")
        self.assertEqual(ds.tsoil.dims, ("time", "scenario", "realization", "site_id"))
        self.assertEqual(self.yearly.tsoil.dims, ("time", "scenario", "realization", "site_id"))
        self.assertEqual(ds.seed.dims, ("realization", "site_id"))
        # The scenarios as the list defines them, January first.
        np.testing.assert_array_equal(ds.delta_t.values, [[0.0] * 12, [1.5] * 12])
        np.testing.assert_array_equal(ds.precip_factor.values, [[1.0] * 12, [0.8] * 12])
        np.testing.assert_array_equal(ds.variability.values, [1.0, 1.0])
        self.assertEqual((ds.attrs["rng"], int(ds.attrs["replicates"])), ("lcg32", REPLICATES))

    def test_every_value_of_every_task_equals_the_csv(self):
        ds = self.ds
        first = ds.time.values[0].year
        checked = 0
        for k, (site_id, weather, _seed) in enumerate(TASK_SITES):
            for s, scenario in enumerate(SCENARIOS):
                for r in range(REPLICATES):
                    monthly = np.full((len(KEYS), ds.sizes["time"]), np.nan)
                    for year, month, values, _ in self.tables["monthly"].get((site_id, scenario, r), []):
                        monthly[:, 12 * (year - first) + month - 1] = values
                    annual = np.full((len(KEYS), self.yearly.sizes["time"]), np.nan)
                    seeds = set()
                    for year, _m, values, seed in self.tables["annual"].get((site_id, scenario, r), []):
                        annual[:, year - first] = values
                        seeds.add(int(seed))
                    where = f"{site_id} scenario {scenario!r} replicate {r}"
                    for f, key in enumerate(KEYS):
                        np.testing.assert_array_equal(ds[key].values[:, s, r, k], monthly[f], err_msg=f"{where} {key}")
                    np.testing.assert_array_equal(self.yearly["prec"].values[:, s, r, k], annual[KEYS.index("prec")],
                                                  err_msg=f"{where} annual prec")
                    if seeds:
                        self.assertEqual({ds.seed.values[r, k]}, seeds, where)
                        checked += 1
        # Two simulated sites of every task, and replicate 0 of the observed one.
        self.assertEqual(checked, 2 * len(SCENARIOS) * REPLICATES + len(SCENARIOS))
        obs = [site[0] for site in TASK_SITES].index("obs-1")
        self.assertTrue(np.isnan(ds.tsoil.values[:, :, 1:, obs]).all(), "observed weather has replicate 0 alone")
        np.testing.assert_array_equal(ds.seed.values[1:, obs], -1, "no seed where no run was made")


if __name__ == "__main__":
    PROGRAM, EXAMPLES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
