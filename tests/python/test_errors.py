"""How the module fails and warns: a batch whose sites failed is never
silent, errors are Python's own kinds as well as KelmarError with the
program's texts, warnings name the caller's line, and the public functions
show no private parameters.
"""
import inspect
import os
import warnings

import pandas as pd
import pytest

import kelmar
import kelmar.dask
from dask_cluster import local_client
from programs import CLIMATE, EXAMPLES, SITE, WEATHER, cli

REGION = os.path.join(EXAMPLES, "region", "sites.csv")


def region(sites, climate_found):
    """The first `sites` sites of the example region, the first `climate_found`
    of them with a climatology that exists (the others name one that does not)."""
    frame = pd.read_csv(REGION).head(sites).copy()
    frame["climate_file"] = [CLIMATE if k < climate_found else "missing.cld" for k in range(sites)]
    return frame


def run_recording(call):
    """The warnings of `call` and what it returned or raised."""
    with warnings.catch_warnings(record=True) as warned:
        warnings.simplefilter("always")
        try:
            outcome = call()
        except kelmar.KelmarError as error:
            outcome = error
    return warned, outcome


# (what, sites, of them with a climatology): a batch told as kelmar-cli batch tells it.
BATCH_CASES = [("every site failed", 3, 0), ("one of three failed", 3, 2), ("none failed", 2, 2)]


@pytest.mark.parametrize("what,sites,found", BATCH_CASES, ids=[c[0] for c in BATCH_CASES])
def test_failed_sites_raise_or_warn(what, sites, found):
    warned, outcome = run_recording(lambda: kelmar.batch(region(sites, found), seed=1, run_years=2))
    failed = sites - found
    mine = [w for w in warned if issubclass(w.category, kelmar.KelmarWarning)]
    if failed == sites:
        assert isinstance(outcome, kelmar.KelmarError), f"{what}: gave {outcome!r}, not an error"
        text = str(outcome)
        assert text.startswith(f"{failed} of {sites} sites failed; their messages are in the errors table"), text
        assert "missing.cld" in text, f"{what}: the first site's message is not in {text!r}"
        assert len(outcome.result.errors) == failed, f"{what}: {outcome.result.errors}"
        assert not mine, f"{what}: warned besides raising: {[str(w.message) for w in mine]}"
    elif failed:
        assert isinstance(outcome, kelmar.BatchResult), f"{what}: raised {outcome!r}"
        assert [str(w.message) for w in mine] == \
            [f"{failed} of {sites} sites failed; their messages are in the result's errors table."], what
        assert len(outcome.errors) == failed, what
    else:
        assert isinstance(outcome, kelmar.BatchResult) and not mine, f"{what}: {outcome!r}, {mine}"


def test_a_list_file_whose_sites_all_fail_raises(tmp_path):
    """The user's case: a list whose relative names need folder=, given without."""
    region(2, 2).assign(climate_file="climat.cld").to_csv(tmp_path / "sites.csv", index=False)
    with pytest.raises(kelmar.KelmarError, match="^2 of 2 sites failed"):
        kelmar.batch(tmp_path / "sites.csv", seed=1, run_years=2)
    result = kelmar.batch(tmp_path / "sites.csv", seed=1, run_years=2, folder=EXAMPLES)
    assert len(result.errors) == 0, result.errors


def site_with(key, value):
    site = kelmar.Site()
    site[key] = value


# (what, call, the builtin kind, the text or None for kelmar-cli's text of `options`, kelmar-cli's options).
ERROR_CASES = [
    ("site file missing", lambda: kelmar.read_site("nowhere.sit"), FileNotFoundError, None,
     ["simulate", "--site", "nowhere.sit", "--climate", CLIMATE]),
    ("climatology missing", lambda: kelmar.simulate(SITE, "nowhere.cld", seed=1), FileNotFoundError, None,
     ["simulate", "--site", SITE, "--climate", "nowhere.cld"]),
    ("weather missing", lambda: kelmar.read_weather("nowhere.wed"), FileNotFoundError, None,
     ["estimate", "--weather", "nowhere.wed", "--output", "unused.cld"]),
    ("scenario missing", lambda: kelmar.read_scenario("nowhere.txt"), FileNotFoundError, None,
     ["simulate", "--site", SITE, "--climate", CLIMATE, "--scenario", "nowhere.txt"]),
    ("site list missing", lambda: kelmar.batch("nowhere.csv"), FileNotFoundError, None,
     ["batch", "--sites", "nowhere.csv", "--out", "unused"]),
    ("seed negative", lambda: kelmar.simulate(SITE, CLIMATE, seed=-5), ValueError,
     "seed takes a whole number from 0 to 18446744073709551615, not -5.", None),
    ("lcg32 seed beyond 32 bits", lambda: kelmar.simulate(SITE, CLIMATE, seed=2**32), ValueError,
     "The seed 4294967296 does not fit lcg32's 32 bits.", None),
    ("batch seed beyond 32 bits", lambda: kelmar.batch(REGION, seed=2**32), ValueError,
     "seed takes a whole number from 0 to 4294967295, not 4294967296.", None),
    ("pcg64 seed beyond 64 bits", lambda: kelmar.simulate(SITE, CLIMATE, seed=2**64, rng="pcg64"), ValueError,
     "seed takes a whole number from 0 to 18446744073709551615, not 18446744073709551616.", None),
    ("no replicates", lambda: kelmar.simulate(SITE, CLIMATE, replicates=0), ValueError,
     "replicates takes a whole number from 1 to 100000000, not 0.", None),
    ("deflate 10", lambda: kelmar.batch(REGION, netcdf_deflate=10), ValueError,
     "netcdf_deflate takes a whole number from 0 to 9, not 10.", None),
    ("latitude not finite", lambda: site_with("Lat", float("inf")), ValueError,
     "Lat must be a finite number, not inf.", None),
    ("flag beyond 255", lambda: site_with("Saturat", 300), ValueError,
     "Saturat takes a whole number from 0 to 255, not 300.", None),
    ("three months of twelve", lambda: setattr(kelmar.read_climatology(CLIMATE), "av_Ta", [1.0, 2.0, 3.0]),
     ValueError, "av_Ta takes twelve monthly values, January to December.", None),
    ("seed a text", lambda: kelmar.simulate(SITE, CLIMATE, seed="x"), TypeError,
     "seed takes a whole number from 0 to 18446744073709551615, not 'x'.", None),
    ("check seed a float", lambda: kelmar.check(WEATHER, seed=1.5), TypeError,
     "seed takes a whole number from 0 to 4294967295, not 1.5.", None),
    ("latitude a text", lambda: site_with("Lat", "sixty"), TypeError, "Lat takes a number (float), not str 'sixty'",
     None),
    ("replicates a text", lambda: kelmar.simulate(SITE, CLIMATE, replicates="2"), TypeError,
     "replicates takes a whole number from 1 to 100000000, not '2'.", None),
]


@pytest.mark.parametrize("what,call,builtin,text,options", ERROR_CASES, ids=[c[0] for c in ERROR_CASES])
def test_errors_are_kelmar_errors_of_pythons_kinds(tmp_path, what, call, builtin, text, options):
    if options is not None:  # the program's message, after its "kelmar-cli: "
        stderr = cli(*options, cwd=tmp_path, expect=1).stderr.strip().splitlines()
        text = stderr[-1].removeprefix("kelmar-cli: ")
    with pytest.raises(kelmar.KelmarError) as raised:
        call()
    assert isinstance(raised.value, builtin), f"{what}: {type(raised.value).__mro__} lacks {builtin.__name__}"
    assert str(raised.value) == text, f"{what}: {str(raised.value)!r}, expected {text!r}"


def test_warnings_name_the_callers_line(tmp_path):
    """A warning of the C++ readers and runs, and one of the package itself."""
    short = tmp_path / "short.wed"
    short.write_text("\n".join(open(WEATHER).read().splitlines()[:2 + 36]) + "\n")  # three years
    calls = [("estimate of three years", lambda: kelmar.estimate(short)),
             ("batch with a failed site", lambda: kelmar.batch(region(2, 1), seed=1, run_years=2))]
    for what, call in calls:
        warned, _ = run_recording(call)
        assert warned, f"{what}: no warning"
        for w in warned:
            assert issubclass(w.category, kelmar.KelmarWarning) and issubclass(w.category, UserWarning), what
            assert w.filename == __file__, f"{what}: {str(w.message)!r} names {w.filename}:{w.lineno}"


def test_public_functions_show_no_private_parameters():
    for name in kelmar.__all__:
        item = getattr(kelmar, name)
        if inspect.isfunction(item):
            private = [p for p in inspect.signature(item).parameters if p.startswith("_")]
            assert not private, f"kelmar.{name} shows {private}"


def test_version_is_the_programs():
    assert f"kelmar-cli {kelmar.__version__}\n" == cli("--version").stdout


def test_dask_sites_raise_or_warn_as_a_batch():
    with local_client(1, processes=False) as client:
        with pytest.raises(kelmar.KelmarError, match="^2 of 2 sites failed"):
            kelmar.dask.simulate_sites(region(2, 0), client=client, partitions=2, seed=1, run_years=2)
        warned, outcome = run_recording(lambda: kelmar.dask.simulate_sites(region(3, 2), client=client, seed=1,
                                                                           run_years=2))
        assert [str(w.message) for w in warned if issubclass(w.category, kelmar.KelmarWarning)] == \
            ["1 of 3 sites failed; their messages are in the result's errors table."], outcome
