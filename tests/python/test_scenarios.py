"""Scenarios, ensembles and the generator check of the Python module against
kelmar-cli: the same numbers (tolerance 0) and the same error texts.

Ensembles run few replicates and the check few years, to keep the suite
short; what they share with the long runs is the code path.
"""
import threading
import time
import warnings

import numpy as np
import pandas as pd
import pytest

import kelmar
from test_kelmar import CLIMATE, FIELDS, SITE, WEATHER, assert_same_records, cli

# Monthly changes, a variability factor and trends: every key of a scenario file.
FULL_SCENARIO = """# warmer, wetter in winter, more variable, and warming on
name = full
delta_t = 1, 1.5, 2, 2, 2.5, 3, 3, 3, 2.5, 2, 1.5, 1
precip_factor = 1.2, 1.2, 1.1, 1, 0.9, 0.8, 0.8, 0.8, 0.9, 1, 1.1, 1.2
variability = 1.2
trend_t = 2          # degC per 100 years
trend_precip = -5    # % per 100 years
"""
# What an observed record takes: no variability factor.
RECORD_SCENARIO = "name = record-warm\ndelta_t = 1.5\nprecip_factor = 0.85\ntrend_t = 4\n"

LARGEST_SEED = 2**64 - 1  # a pcg64 seed beyond int64


@pytest.fixture
def scenario_files(tmp_path):
    (tmp_path / "full.scn").write_text(FULL_SCENARIO)
    (tmp_path / "record.scn").write_text(RECORD_SCENARIO)
    return tmp_path


def read_table(path):
    """An ensemble's CSV table as pandas reads it, every double exact."""
    return pd.read_csv(path, float_precision="round_trip", keep_default_na=False, na_values=[""],
                       dtype={"site_id": object, "scenario": object})


def plain(frame):
    """The module's frame with its categorical text columns as text, as read from CSV."""
    return frame.astype({c: object for c in ("site_id", "scenario") if c in frame.columns})


# (what, simulate's arguments beyond the site, kelmar-cli's options beyond
# --site; a path "{dir}/..." is in the test's folder)
SCENARIO_CASES = [
    ("flags as a Scenario, simulated",
     dict(climate=CLIMATE, seed=1, scenario=kelmar.Scenario(delta_t=2, precip_factor=0.9)),
     ["--climate", CLIMATE, "--seed", "1", "--delta-t", "2", "--precip-factor", "0.9"]),
    ("file of every key, simulated", dict(climate=CLIMATE, seed=11, scenario="{dir}/full.scn"),
     ["--climate", CLIMATE, "--seed", "11", "--scenario", "{dir}/full.scn"]),
    ("file read first, observed record with gaps", dict(climate=CLIMATE, weather=WEATHER, seed=5,
                                                        scenario=("read", "{dir}/record.scn")),
     ["--climate", CLIMATE, "--weather", WEATHER, "--seed", "5", "--scenario", "{dir}/record.scn"]),
    ("pcg64 with a 64-bit seed",
     dict(climate=CLIMATE, seed=LARGEST_SEED, rng="pcg64", scenario=kelmar.Scenario(delta_t=-1)),
     ["--climate", CLIMATE, "--seed", str(LARGEST_SEED), "--rng", "pcg64", "--delta-t", "-1"]),
]


def _placed(value, folder):
    if isinstance(value, tuple):  # ("read", path): the scenario read into a record first
        return kelmar.read_scenario(_placed(value[1], folder))
    return value.format(dir=folder) if isinstance(value, str) else value


@pytest.mark.parametrize("what,kwargs,options", SCENARIO_CASES, ids=[c[0] for c in SCENARIO_CASES])
def test_a_scenario_gives_the_programs_numbers(scenario_files, what, kwargs, options):
    kwargs = {k: _placed(v, scenario_files) for k, v in kwargs.items()}
    options = [_placed(o, scenario_files) for o in options]
    cli("simulate", "--site", SITE, *options, "--table", str(scenario_files / "full.csv"))
    result = kelmar.simulate(SITE, **kwargs)
    assert result.seed == kwargs["seed"], f"{what}: seed {result.seed}, asked for {kwargs['seed']}"
    assert_same_records(result, pd.read_csv(scenario_files / "full.csv", float_precision="round_trip"), what)
    # Both could ignore the scenario alike: the run must differ from one without it.
    plain_run = kelmar.simulate(SITE, **dict(kwargs, scenario=None))
    assert not np.array_equal(plain_run.monthly["tair_degC"], result.monthly["tair_degC"]), \
        f"{what}: the scenario changed no air temperature"


def test_a_temperature_change_moves_every_simulated_temperature_by_it():
    base = kelmar.simulate(SITE, CLIMATE, seed=9).monthly
    warm = kelmar.simulate(SITE, CLIMATE, seed=9, scenario=kelmar.Scenario(delta_t=2.5)).monthly
    for column in ("tair_degC", "tsoil_degC"):
        shift = (warm[column] - base[column]).to_numpy()
        assert np.allclose(shift, 2.5, rtol=0, atol=1e-9), \
            f"{column}: shifts from {shift.min()} to {shift.max()}, expected 2.5 (tolerance 1e-9)"


# (what, simulate's arguments beyond site and climate, kelmar-cli's options beyond --site and --climate)
ENSEMBLE_CASES = [
    ("lcg32 under a scenario file", dict(seed=3, replicates=3, scenario="{dir}/full.scn", jobs=2),
     ["--seed", "3", "--replicates", "3", "--scenario", "{dir}/full.scn", "--jobs", "2"]),
    ("pcg64, 64-bit seed, one thread", dict(seed=LARGEST_SEED, replicates=2, rng="pcg64", jobs=1,
                                            scenario=kelmar.Scenario(precip_factor=1.1)),
     ["--seed", str(LARGEST_SEED), "--replicates", "2", "--rng", "pcg64", "--jobs", "1", "--precip-factor", "1.1"]),
]


@pytest.mark.parametrize("what,kwargs,options", ENSEMBLE_CASES, ids=[c[0] for c in ENSEMBLE_CASES])
def test_replicates_equal_the_programs_ensemble_folder(scenario_files, what, kwargs, options):
    kwargs = {k: _placed(v, scenario_files) for k, v in kwargs.items()}
    options = [_placed(o, scenario_files) for o in options]
    out = scenario_files / "ens"
    cli("simulate", "--site", SITE, "--climate", CLIMATE, *options, "--out", str(out))
    result = kelmar.simulate(SITE, CLIMATE, **kwargs)
    for name in ("monthly", "annual"):
        pd.testing.assert_frame_equal(plain(getattr(result, name)), read_table(out / f"{name}.csv"), check_exact=True,
                                      obj=f"{what}: {name} against {name}.csv")
    if kwargs.get("rng") == "pcg64":  # the base seed, whole, in every row
        seeds = set(result.annual["seed"].tolist())
        assert seeds == {kwargs["seed"]}, f"{what}: seed column {seeds}, base seed {kwargs['seed']}"
    # Replicate 0 is the single run of the same seed.
    single = kelmar.simulate(SITE, CLIMATE, **{k: v for k, v in kwargs.items() if k not in ("replicates", "jobs")})
    first = result.monthly[result.monthly["replicate"] == 0].reset_index(drop=True)
    for field in FIELDS:
        np.testing.assert_array_equal(first[field["column"]].to_numpy(), single.monthly[field["column"]].to_numpy(),
                                      err_msg=f"{what}: replicate 0's {field['column']} against the single run")


# (what, replicates, scenario as simulate takes it, kelmar-cli's scenario options)
SUMMARY_CASES = [
    ("one replicate: the annual sd is empty", 1, None, []),
    ("three replicates under a scenario", 3, kelmar.Scenario(delta_t=2), ["--delta-t", "2"]),
]


@pytest.mark.parametrize("what,replicates,scenario,options", SUMMARY_CASES, ids=[c[0] for c in SUMMARY_CASES])
def test_summaries_equal_the_programs_summary_files(tmp_path, what, replicates, scenario, options):
    out = tmp_path / "sum"
    cli("simulate", "--site", SITE, "--climate", CLIMATE, "--seed", "4", "--replicates", str(replicates), "--summary",
        *options, "--out", str(out))
    result = kelmar.simulate(SITE, CLIMATE, seed=4, replicates=replicates, summary=True, scenario=scenario)
    assert result.monthly is None and result.annual is None, f"{what}: a summary run kept every replicate's table"
    for name in ("summary_monthly", "summary_annual"):
        pd.testing.assert_frame_equal(plain(getattr(result, name)), read_table(out / f"{name}.csv"), check_exact=True,
                                      obj=f"{what}: {name} against {name}.csv")
    if replicates == 1:
        assert result.summary_annual["sd"].isna().all(), f"{what}: an sd of one value"


def test_replicates_to_xarray_have_a_cf_realization_dimension():
    result = kelmar.simulate(SITE, CLIMATE, seed=6, replicates=2, scenario=kelmar.Scenario(delta_t=1))
    ds, annual_ds = result.to_xarray(), result.to_xarray(annual=True)
    assert ds["tair"].dims == annual_ds["tair"].dims == ("time", "realization", "site_id")
    assert ds["realization"].attrs["standard_name"] == "realization"
    np.testing.assert_array_equal(ds["realization"].values, [0, 1])
    np.testing.assert_array_equal(ds["seed"].values[:, 0],
                                  result.annual.groupby("replicate")["seed"].first().to_numpy())
    assert ds.attrs["scenario"] == "+1 °C", f"scenario attribute {ds.attrs.get('scenario')!r}"
    for r in (0, 1):
        rows = result.monthly[result.monthly["replicate"] == r]
        annual = result.annual[result.annual["replicate"] == r]
        for field in FIELDS:
            np.testing.assert_array_equal(ds[field["key"]].sel(realization=r).values[:, 0],
                                          rows[field["column"]].to_numpy(), err_msg=f"replicate {r}, {field['key']}")
            if field["annual"] == "sum":  # a total stays the annual table's; means weigh months by days
                np.testing.assert_array_equal(annual_ds[field["key"]].sel(realization=r).values[:, 0],
                                              annual[field["column"]].to_numpy(), err_msg=f"replicate {r}, annual")
    with pytest.raises(kelmar.KelmarError, match="A summary holds no replicate's series"):
        kelmar.simulate(SITE, CLIMATE, seed=6, replicates=2, summary=True).to_xarray()


# (what, check's arguments, kelmar-cli check's options beyond --weather)
CHECK_CASES = [
    ("estimated from the record path", dict(weather=WEATHER, years=40, seed=7), ["--years", "40", "--seed", "7"]),
    ("against a climatology, records", dict(weather=kelmar.read_weather(WEATHER),
                                            climate=kelmar.read_climatology(CLIMATE), years=25, seed=2),
     ["--climate", CLIMATE, "--years", "25", "--seed", "2"]),
]


@pytest.mark.parametrize("what,kwargs,options", CHECK_CASES, ids=[c[0] for c in CHECK_CASES])
def test_check_equals_the_programs_table_and_verdicts(tmp_path, what, kwargs, options):
    done = cli("check", "--weather", WEATHER, *options, "--out", str(tmp_path))
    result = kelmar.check(**kwargs)
    expected = pd.read_csv(tmp_path / "check.csv", float_precision="round_trip")
    pd.testing.assert_frame_equal(pd.DataFrame(result), expected, check_exact=True, obj=f"{what}: check.csv")
    # Standard output: the report line, then one verdict per variable.
    assert result.verdicts == done.stdout.splitlines()[1:], f"{what}: verdicts {result.verdicts}"
    assert (result.seed, result.record_years, result.simulated_years) == (kwargs["seed"], 30, kwargs["years"])


def test_check_of_an_edited_climatology_follows_the_edit():
    climate = kelmar.read_climatology(CLIMATE)
    before = kelmar.check(WEATHER, climate, years=30, seed=3)
    climate.av_P[6] *= 3  # July's precipitation tripled: mu_P must be derived again
    after = kelmar.check(WEATHER, climate, years=30, seed=3)
    july = (after["variable"] == "prec") & (after["month"] == 7) & (after["test"] == "mean")
    ratio = after.loc[july, "sim_mean"].iloc[0] / before.loc[july, "sim_mean"].iloc[0]
    assert ratio == pytest.approx(3, rel=1e-9), f"July's simulated mean precipitation grew {ratio} times, not 3"
    assert after.loc[july, "result"].iloc[0] == "fail", "a tripled mean passed Welch's test"


# (what, the scenario file's text or a Scenario, kelmar-cli's options beyond --site --climate, with a record)
BAD_SCENARIOS = [
    ("unknown key", "name = x\ndelta_T = 2\n", [], False),
    ("three monthly values", "delta_t = 1, 2, 3\n", [], False),
    ("value that does not convert", "precip_factor = dry\n", [], False),
    ("precipitation factor 0", kelmar.Scenario(precip_factor=0), ["--precip-factor", "0"], False),
    ("change beyond 50 degC", kelmar.Scenario(delta_t=51), ["--delta-t", "51"], False),
    ("cooling beyond 20 degC", kelmar.Scenario(delta_t=-20.5), ["--delta-t", "-20.5"], False),
    ("precipitation factor that overflows", kelmar.Scenario(precip_factor=1e300), ["--precip-factor", "1e300"], False),
    ("variability beyond 10", "variability = 11\n", [], False),
    ("warming trend beyond 20 degC over 500 years", "trend_t = 4.1\n", [], False),
    ("variability on an observed record", "name = v\nvariability = 1.3\n", [], True),
    ("trend leaving no precipitation over 500 years", "trend_precip = -25\n", [], False),
]


@pytest.mark.parametrize("what,scenario,options,observed", BAD_SCENARIOS, ids=[c[0] for c in BAD_SCENARIOS])
def test_a_bad_scenario_raises_the_programs_text(tmp_path, what, scenario, options, observed):
    inputs = ["--site", SITE, "--climate", CLIMATE] + (["--weather", WEATHER] if observed else [])
    if isinstance(scenario, str):
        path = tmp_path / "bad.scn"
        path.write_text(scenario)
        options = ["--scenario", str(path)]
        scenario = str(path)
    message = cli("simulate", *inputs, *options, "--seed", "1", expect=1).stderr.strip()
    with pytest.raises(kelmar.KelmarError) as raised:
        kelmar.simulate(SITE, CLIMATE, weather=WEATHER if observed else None, seed=1, scenario=scenario)
    assert str(raised.value) == message, f"{what}: {str(raised.value)!r}, kelmar-cli says {message!r}"


def test_refusals_of_ensembles_and_scenarios(tmp_path):
    missing = str(tmp_path / "absent.scn")
    message = cli("simulate", "--site", SITE, "--climate", CLIMATE, "--scenario", missing, expect=1).stderr.strip()
    with pytest.raises(kelmar.KelmarError) as raised:
        kelmar.read_scenario(missing)
    assert str(raised.value) == message
    # The reader's text for a count of monthly values other than 1 or 12.
    reader_text = r"^delta_t takes one value or twelve \(January to December\), not 3\.$"
    with pytest.raises(kelmar.KelmarError, match=reader_text):
        kelmar.Scenario(delta_t=[1, 2, 3])
    scenario = kelmar.Scenario(delta_t=1)
    with pytest.raises(kelmar.KelmarError, match="precip_factor takes one value or twelve"):
        scenario.precip_factor = [1.0] * 11
    assert list(scenario.precip_factor) == [1.0] * 12, "a refused value changed the scenario"
    too_many = cli("simulate", "--site", SITE, "--climate", CLIMATE, "--seed", "1", "--replicates", "19882",
                   "--out", str(tmp_path / "ens"), expect=1).stderr.strip()
    with pytest.raises(kelmar.KelmarError) as raised:
        kelmar.simulate(SITE, CLIMATE, seed=1, replicates=19882)
    assert str(raised.value) == too_many
    for kwargs, words in ((dict(replicates=2, weather=WEATHER), "An ensemble needs simulated weather"),
                          (dict(replicates=0), "replicates takes a whole number from 1"),
                          (dict(seed=2**32), "The seed 4294967296 does not fit lcg32's 32 bits"),
                          (dict(rng="mt"), 'rng takes lcg32 or pcg64, not "mt"')):
        with pytest.raises(kelmar.KelmarError, match=words):
            kelmar.simulate(SITE, CLIMATE, **kwargs)
    with pytest.raises(kelmar.KelmarError, match="years takes a whole number from 2 to 500, not 1"):
        kelmar.check(WEATHER, years=1)


# (what, the months of the example record kept): records the check refuses.
SHORT_RECORDS = [("three years: no regression coefficients", 36), ("five months: no full year", 5)]


@pytest.mark.parametrize("what,months", SHORT_RECORDS, ids=[c[0] for c in SHORT_RECORDS])
def test_a_check_the_program_refuses_raises_its_text(tmp_path, what, months):
    lines = open(WEATHER).read().splitlines()
    path = tmp_path / "short.wed"
    path.write_text("\n".join(lines[:2 + months]) + "\n")
    message = cli("check", "--weather", str(path), "--seed", "1", "--out", str(tmp_path), expect=1).stderr
    with warnings.catch_warnings(record=True) as warned, pytest.raises(kelmar.KelmarError) as raised:
        warnings.simplefilter("always")
        kelmar.check(path, seed=1)
    # kelmar-cli prints the estimate's warnings, then the error; the module warns, then raises.
    assert [str(w.message) for w in warned] + [str(raised.value)] == message.strip().splitlines(), what
    assert not (tmp_path / "check.csv").exists(), f"{what}: the program wrote a table"


def test_an_ensemble_lets_other_python_threads_run():
    """The lock is released while the replicates run: a Python thread beside
    the ensemble keeps going, with no pause near the ensemble's length."""
    finished = threading.Event()
    took = []

    def run():
        start = time.perf_counter()
        kelmar.simulate(SITE, CLIMATE, seed=1, replicates=250, jobs=1, summary=True)
        took.append(time.perf_counter() - start)
        finished.set()

    worker = threading.Thread(target=run)
    last, longest = time.perf_counter(), 0.0
    worker.start()
    while not finished.is_set():
        now = time.perf_counter()
        longest, last = max(longest, now - last), now
    worker.join()
    assert longest < took[0] / 2, \
        f"the Python thread stood still {longest:.3f} s of the ensemble's {took[0]:.3f} s (tolerance: half of it)"
