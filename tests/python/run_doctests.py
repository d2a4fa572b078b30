"""The examples of the package's docstrings (help(kelmar...)) run as
doctests, from the examples folder (the working folder), so that they stay
true; and every public name below carries at least one."""
import doctest
import sys
import tempfile
import warnings

import kelmar

# The names whose docstrings show an example.
DOCUMENTED = ["Site", "Climatology", "Weather", "Weather.from_dataframe", "Scenario", "Result", "Result.to_xarray",
              "EnsembleResult", "EnsembleResult.to_xarray", "CheckResult", "read_site", "read_climatology",
              "read_weather", "read_scenario", "simulate", "estimate", "check", "batch", "extract", "KelmarError"]


def main():
    finder = doctest.DocTestFinder()
    # A folder of the examples' own, so that nothing is written beside the examples.
    scratch = tempfile.TemporaryDirectory()
    found = finder.find(kelmar, "kelmar", globs={"kelmar": kelmar, "tmp": scratch.name})
    # Scenario is the extension's class, which the finder passes over as another module's.
    found += finder.find(kelmar.Scenario, "kelmar.Scenario", module=False, globs={"kelmar": kelmar})
    tests = {test.name.removeprefix("kelmar."): test for test in found}
    missing = [name for name in DOCUMENTED if not (name in tests and tests[name].examples)]
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", kelmar.KelmarWarning)  # an estimate's notes are not the example's output
        for test in tests.values():
            runner.run(test)
    failed, attempted = runner.summarize(verbose=False)
    for name in missing:
        print(f"kelmar.{name}: no example in its docstring")
    print(f"{attempted} examples, {failed} failed")
    return 1 if failed or missing or not attempted else 0


if __name__ == "__main__":
    sys.exit(main())
