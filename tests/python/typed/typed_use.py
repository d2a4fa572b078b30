"""A user's script as mypy --strict sees it: every call of the package's
typed API, with the types a user relies on (checked, not run)."""
import pathlib
import warnings

import kelmar


def warmer_july(site_path: str, climate_path: pathlib.Path) -> float:
    site = kelmar.read_site(site_path)
    site.Lat = 64.5
    latitude: float = site["Lat"]
    climate = kelmar.read_climatology(climate_path)
    climate.av_Ta[6] += 1.0
    climate.av_P = [30.0] * 12
    scenario = kelmar.Scenario(delta_t=2, precip_factor=[0.9] * 12)
    scenario.variability = 1.1
    result: kelmar.Result = kelmar.simulate(site, climate, seed=1, scenario=scenario, run_years=30,
                                            start_year=1991)
    july = result.monthly[result.monthly["month"] == 7]
    seed: int = result.seed
    result.to_xarray(annual=True)
    return float(july["t_ms_degC"].mean()) + latitude * 0 + seed * 0


def observed(weather_path: str) -> list[str]:
    weather = kelmar.read_weather(weather_path)
    first: int = weather.year_begin
    weather.Tair[0, 0] = kelmar.MISSING_VALUE
    frame = kelmar.Weather.from_dataframe(weather.to_dataframe())
    climate: kelmar.Climatology = kelmar.estimate(frame)
    check: kelmar.CheckResult = kelmar.check(weather, climate, years=50, seed=first)
    summary: kelmar.EnsembleResult = kelmar.simulate("soil.sit", climate, replicates=20, summary=True)
    assert summary.summary_monthly is not None
    replicates = len(check.verdicts) + 2  # a count known when the script runs
    ensemble = kelmar.simulate("soil.sit", climate, replicates=replicates, rng="pcg64", jobs=2)
    if isinstance(ensemble, kelmar.EnsembleResult) and ensemble.monthly is not None:
        ensemble.to_xarray(annual=True)
    return check.verdicts + [kelmar.read_scenario("warm.scn").describe(), kelmar.__version__]


def quietly() -> None:
    try:
        kelmar.read_site(pathlib.Path("missing.sit"))
    except kelmar.KelmarFileNotFoundError as error:
        print(error.filename, error)
    except kelmar.KelmarError:
        raise
    with warnings.catch_warnings():
        warnings.simplefilter("error", kelmar.KelmarWarning)
