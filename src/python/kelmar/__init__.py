"""KELMAR in-process: read and edit the model's records, run sites and
batches, and get the results as pandas DataFrames and xarray Datasets.

The records (site, climatology, weather) are read and written by the very
readers and save commands of the window and kelmar-cli, runs follow the
command sequences of `kelmar-cli simulate` and `kelmar-cli batch`, and every
error raises KelmarError with the text those programs show: a missing file
as KelmarFileNotFoundError (a FileNotFoundError too), a value out of range
as KelmarValueError (a ValueError) and one of the wrong type as
KelmarTypeError (a TypeError). Warnings are KelmarWarning (a UserWarning)
and name the caller's line.

The package is typed (py.typed, and _kelmar.pyi for the extension), so mypy
checks code that uses it.

>>> import kelmar
>>> result = kelmar.simulate("soil.sit", "climat.cld", seed=1, run_years=3)
>>> result.annual["year"].tolist()
[1, 2, 3]
"""
from __future__ import annotations

import contextlib
import functools
import io
import os
import sys
import tempfile
import warnings
from typing import TYPE_CHECKING, Any, Callable, Generic, Iterator, Literal, Optional, Tuple, TypeVar, Union, cast, overload

if TYPE_CHECKING:
    import numpy.typing as npt
    import xarray

    from ._kelmar import _Numbers as Numbers


def _interpreter_hint() -> str:
    """What to do when the extension or numpy does not load: the interpreter
    the extension was built for against this one, and how to build for this
    one (the interpreter pybind11's CMake module takes is PYTHON_EXECUTABLE)."""
    try:
        from ._build import PYTHON_EXECUTABLE as built_for, PYTHON_VERSION as built_version
    except ImportError:  # a package folder never configured by CMake
        return "kelmar's extension is built by CMake into build/python: build the project first."
    this = f"{sys.version_info.major}.{sys.version_info.minor}"
    return (f"kelmar's extension is built for Python {built_version} ({built_for}) and loads in that "
            f"interpreter with its numpy and pandas; this is Python {this} ({sys.executable}). "
            f"Run it with {built_for}, or build the module for this Python: "
            f"cmake -S . -B build -DPYTHON_EXECUTABLE={sys.executable} "
            f"(with this Python's headers, numpy and pandas, and pybind11's CMake files and headers).")


try:
    import numpy as np
    import pandas as pd

    from . import _kelmar
except ImportError as error:
    error.msg = f"{error}\n{_interpreter_hint()}"
    raise
from ._kelmar import (KelmarError, KelmarFileNotFoundError, KelmarTypeError, KelmarValueError, KelmarWarning,
                      __version__)
from . import _folder, _grid
from ._folder import BatchFolder, open_batch

KelmarError.__doc__ = """Every error of the package, with the text the window and kelmar-cli
show. Its kinds are Python's own as well: KelmarFileNotFoundError (a
FileNotFoundError: a missing file, or a folder named as one),
KelmarValueError (a ValueError: a value out of range) and KelmarTypeError
(a TypeError: a value of the wrong type).

>>> try:
...     kelmar.read_site("missing.sit")
... except FileNotFoundError as error:
...     print(type(error).__name__, isinstance(error, kelmar.KelmarError))
KelmarFileNotFoundError True
"""
KelmarFileNotFoundError.__doc__ = "A missing file, or a folder named as a file: a KelmarError and a FileNotFoundError."
KelmarValueError.__doc__ = "A value out of range: a KelmarError and a ValueError."
KelmarTypeError.__doc__ = "A value of the wrong type: a KelmarError and a TypeError."

# Paths as the readers take them: text or os.PathLike.
PathLike = Union[str, "os.PathLike[str]"]

__all__ = ["KelmarError", "KelmarFileNotFoundError", "KelmarValueError", "KelmarTypeError", "KelmarWarning", "Site", "Climatology", "Weather", "Scenario", "Result", "EnsembleResult", "BatchResult",
           "CheckResult", "read_site", "read_climatology", "read_weather", "read_scenario", "simulate", "estimate",
           "batch", "check", "extract", "MISSING_VALUE", "__version__", "BatchFolder", "open_batch"]

# The package's own folder: its frames are passed over when a warning names the caller's line.
_PACKAGE_FOLDER = os.path.dirname(os.path.abspath(__file__)) + os.sep


def _warn(text):
    """`text` as a KelmarWarning at the line of the first caller outside the
    package (the C++ side gives its warnings here too)."""
    level, frame = 1, sys._getframe(0)
    while frame is not None and os.path.abspath(frame.f_code.co_filename).startswith(_PACKAGE_FOLDER):
        frame = frame.f_back
        level += 1
    warnings.warn(text, KelmarWarning, stacklevel=level)


def _whole_number(value, name, least, most):
    """`value` as an int from `least` to `most`: KelmarTypeError for what is
    not a whole number (bool, float, text), KelmarValueError out of range."""
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise KelmarTypeError(f"{name} takes a whole number from {least} to {most}, not {value!r}.")
    if not least <= value <= most:
        raise KelmarValueError(f"{name} takes a whole number from {least} to {most}, not {value!r}.")
    return int(value)


# The largest seed of a batch and a check (lcg32's 32-bit state), and of a
# run (pcg64's 64-bit seed; the run refuses more than 32 bits for lcg32).
LARGEST_SEED = 2**32 - 1
LARGEST_RUN_SEED = 2**64 - 1


def _seed(seed, most=LARGEST_SEED):
    """None (the clock's), or a whole number from 0 to `most`."""
    return None if seed is None else _whole_number(seed, "seed", 0, most)

# The value of a missing month in a weather record (as the .wed file stores it).
MISSING_VALUE = _kelmar.MISSING_VALUE

SITE_KEYS = tuple(f["key"] for f in _kelmar.SITE_FIELDS)
CLIMATE_KEYS = tuple(f["key"] for f in _kelmar.CLIMATE_FIELDS)
WEATHER_KEYS = ("Tair", "Prec", "Tsoil")
MONTHLY_COLUMNS = ["site_id", "year", "month"] + [f["column"] for f in _kelmar.RESULT_FIELDS]
ANNUAL_COLUMNS = ["site_id", "year"] + [f["column"] for f in _kelmar.RESULT_FIELDS] + ["seed"]


V = TypeVar("V")  # a field's value as read
S = TypeVar("S")  # what a field takes when set
R = TypeVar("R", bound="_Record[Any, Any]")  # a record of any kind, for copy()


class _Record(Generic[V, S]):
    """Fields by key, as attributes and as items."""

    _keys: tuple[str, ...] = ()
    _impl: Any

    def __init__(self, impl: Any) -> None:
        object.__setattr__(self, "_impl", impl)

    def __getattr__(self, key: str) -> V:
        if key in type(self)._keys:
            return self._impl.get(key)
        raise AttributeError(f"{type(self).__name__} has no field {key!r}")

    def __setattr__(self, key: str, value: S) -> None:
        if key not in type(self)._keys:
            raise AttributeError(f"{type(self).__name__} has no field {key!r}; fields: {', '.join(self._keys)}")
        self._impl.set(key, value)

    def __getitem__(self, key: str) -> V:
        return self._impl.get(key)

    def __setitem__(self, key: str, value: S) -> None:
        self._impl.set(key, value)

    def __iter__(self) -> Iterator[str]:
        return iter(type(self)._keys)

    def __len__(self) -> int:
        return len(type(self)._keys)

    def __contains__(self, key: object) -> bool:
        return key in type(self)._keys

    def keys(self) -> list[str]:
        """The field keys, in file order."""
        return list(type(self)._keys)

    def items(self) -> list[tuple[str, V]]:
        """(key, value) pairs, in file order."""
        return [(key, self[key]) for key in type(self)._keys]

    def to_dict(self) -> dict[str, V]:
        """The fields by key, arrays copied (edits of the dict leave the record as it is)."""
        return {key: (value.copy() if isinstance(value, np.ndarray) else value)  # type: ignore[misc]
                for key, value in self.items()}

    @property
    def name(self) -> str:
        """The file the record was read from ('' when none)."""
        return self._impl.name

    def write(self, path: PathLike) -> None:
        """Writes the record as the window saves it (the same bytes); raises
        KelmarError when the file cannot be written (a missing folder, no
        permission), leaving a file there as it was."""
        self._impl.write(os.fspath(path))

    def copy(self: R) -> R:
        """A copy that edits apart from this record."""
        return type(self)(self._impl.copy())

    def __repr__(self) -> str:
        return f"{type(self).__name__}({', '.join(f'{k}={self[k]!r}' for k in type(self)._keys)})"



class Site(_Record[float, float]):
    """The fifteen site parameters by their site-file keys, as attributes or
    items: Lat (degrees north), M_ff (kg/m2), D_ff and D_ms (g/cm3), the
    water contents W_WP_ff, W_FC_ff, W_Sat_ff, W_WP_ms, W_FC_ms, W_Sat_ms
    and Wv0_ms (vol.%), Corr (ratio), and the flags Saturat, Permafr (0 or
    1) and Fortype (0..4). Keyword arguments set fields of the default
    site. Setting a value that is not a finite number raises
    KelmarValueError, or KelmarTypeError for a text; an unknown key
    AttributeError.

    >>> site = kelmar.Site(Lat=61.5, Fortype=2)
    >>> site.Lat, site["Fortype"]
    (61.5, 2)
    >>> site.Lat = float("inf")
    Traceback (most recent call last):
    kelmar.KelmarValueError: ...
    """

    _keys = SITE_KEYS

    def __init__(self, impl: Any = None, **values: float) -> None:
        super().__init__(impl if impl is not None else _kelmar.SiteRecord())
        for key, value in values.items():
            setattr(self, key, value)


class Climatology(_Record["npt.NDArray[np.float64]", "Numbers"]):
    """The twelve monthly variables (av_Ta, std_Ta, ...), each an array of
    twelve values, January to December, that edits the record in place:
    av_Ta and std_Ta (air, degC), av_P (mm) and Cv_P (ratio), av_Ts and
    std_Ts (soil at 0.2 m, degC), the regression coefficients Baa, Bap,
    Bss, Bsa and the residual deviations Sa and Ss (degC). Setting takes
    twelve numbers: another count raises KelmarError, a value that is not
    finite KelmarValueError.

    >>> climate = kelmar.read_climatology("climat.cld")
    >>> climate.av_Ta.shape
    (12,)
    >>> climate.av_Ta[6] += 1.0   # a July one degree warmer
    """

    _keys = CLIMATE_KEYS

    def __init__(self, impl: Any = None) -> None:
        super().__init__(impl if impl is not None else _kelmar.ClimatologyRecord())

    def __repr__(self) -> str:
        return f"Climatology({self.name!r})"


class Weather(_Record["npt.NDArray[np.float64]", "Numbers"]):
    """An observed monthly record: Tair (degC), Prec (mm) and Tsoil (degC)
    as arrays of years by twelve months, from year_begin to year_end, that
    edit the record in place; MISSING_VALUE marks a missing month.

    >>> weather = kelmar.read_weather("weather.wed")
    >>> weather.Tair.shape == (weather.year_end - weather.year_begin + 1, 12)
    True
    >>> list(weather.to_dataframe().columns)
    ['year', 'month', 'tair', 'prec', 'tsoil']
    """

    _keys = WEATHER_KEYS

    def __getattr__(self, key: str) -> npt.NDArray[np.float64]:
        if key in WEATHER_KEYS:
            return self._impl.series(key)
        raise AttributeError(f"Weather has no field {key!r}")

    def __getitem__(self, key: str) -> npt.NDArray[np.float64]:
        return self._impl.series(key)

    def __setitem__(self, key: str, value: Numbers) -> None:
        series = self._impl.series(key)
        series[...] = _kelmar.numbers(value, key, "numbers (float)")  # TypeError for texts, as every record field

    def __setattr__(self, key: str, value: Numbers) -> None:
        if key not in WEATHER_KEYS:
            raise AttributeError(f"Weather has no field {key!r}; fields: {', '.join(WEATHER_KEYS)}")
        self[key] = value

    @property
    def year_begin(self) -> int:
        """The record's first calendar year."""
        return self._impl.year_begin

    @property
    def year_end(self) -> int:
        """The record's last calendar year."""
        return self._impl.year_end

    @classmethod
    def from_dataframe(cls, frame: pd.DataFrame) -> Weather:
        """A record from a DataFrame with the columns year, month, tair, prec
        and optionally tsoil (degC, mm; NaN for a missing value), read by the
        reader of tidy weather tables with its checks and messages
        (KelmarError; row N of the frame is line N + 2 of the table).

        >>> frame = kelmar.read_weather("weather.wed").to_dataframe()
        >>> kelmar.Weather.from_dataframe(frame.head(24))
        Weather('', 1961-1962)
        """
        columns = [c for c in ("year", "month", "tair", "prec", "tsoil") if c in frame.columns]
        table = frame[columns].copy()
        table.insert(0, "site_id", "record")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "weather.csv")
            table.to_csv(path, index=False, na_rep="NA", float_format=_repr_float)
            weather = read_weather(path, "record")
        weather._impl.name = ""
        return weather

    def to_dataframe(self) -> pd.DataFrame:
        """year, month, tair (degC), prec (mm), tsoil (degC); NaN for a
        missing month."""
        years = np.arange(self.year_begin, self.year_end + 1)
        frame = pd.DataFrame({"year": np.repeat(years, 12), "month": np.tile(np.arange(1, 13), len(years))})
        for key in WEATHER_KEYS:
            values = self[key].reshape(-1).copy()
            values[values < -99] = np.nan  # the record's marker of a missing month
            frame[key.lower()] = values
        return frame

    def __repr__(self) -> str:
        return f"Weather({self.name!r}, {self.year_begin}-{self.year_end})"

def read_site(path: PathLike) -> Site:
    """The site file (.sit) at `path`, as a Site. Raises
    KelmarFileNotFoundError for a missing file, KelmarError naming the file
    and line for a bad one.

    >>> kelmar.read_site("soil.sit").Lat
    61.8
    """
    return Site(_kelmar.read_site(os.fspath(path)))


def read_climatology(path: PathLike) -> Climatology:
    """The climatology file (.cld) at `path`, as a Climatology. Raises
    KelmarFileNotFoundError for a missing file, KelmarError naming the file
    and line for a bad one.

    >>> kelmar.read_climatology("climat.cld").name
    'climat.cld'
    """
    return Climatology(_kelmar.read_climatology(os.fspath(path)))


def read_weather(path: PathLike, site_id: str = "") -> Weather:
    """A weather record: a .wed file, or the record of `site_id` in a tidy
    weather table (.csv; its only site when no id is given). Raises
    KelmarFileNotFoundError for a missing file, KelmarError naming the file
    and line for a bad one, or for a `site_id` the table lacks.

    >>> weather = kelmar.read_weather("weather.wed")
    >>> weather.year_begin <= weather.year_end
    True
    """
    return Weather(_kelmar.read_weather(os.fspath(path), site_id or ""))


Scenario = _kelmar.Scenario
Scenario.__doc__ = """A climate scenario by the delta-change method, as a scenario file holds it:
delta_t (degC added) and precip_factor (ratio), one value or twelve from
January; variability (ratio on the year-to-year variability of simulated
weather); trend_t (degC per 100 years) and trend_precip (% per 100 years)
over the run. Without a name, the results name it by its description.
Setting other than one value or twelve raises KelmarError; the values
themselves are checked when a run takes the scenario.

>>> warm = kelmar.Scenario(delta_t=2, precip_factor=0.9)
>>> warm.delta_t[6], warm.variability
(2.0, 1.0)
"""
Scenario.__repr__ = lambda self: f"Scenario({self.describe()!r})"  # type: ignore[assignment, attr-defined]


def read_scenario(path: PathLike) -> Scenario:
    """The scenario file at `path` ("key = value" lines); its name defaults
    to the file's name. Raises KelmarFileNotFoundError for a missing file,
    KelmarError naming the file and line for a bad one.

    >>> import pathlib, tempfile
    >>> folder = tempfile.TemporaryDirectory()
    >>> path = pathlib.Path(folder.name, "warm.scn")
    >>> _ = path.write_text("delta_t = 2\\n")
    >>> kelmar.read_scenario(path).delta_t[0]
    2.0
    >>> folder.cleanup()
    """
    return _kelmar.read_scenario(os.fspath(path))


def _scenario(scenario: Optional[Union[Scenario, PathLike]]) -> Optional[Scenario]:
    return scenario if scenario is None or isinstance(scenario, Scenario) else read_scenario(scenario)


def _site(site: Union[Site, PathLike]) -> Site:
    return site if isinstance(site, Site) else read_site(site)


def _climate(climate: Optional[Union[Climatology, PathLike]]) -> Optional[Climatology]:
    return climate if climate is None or isinstance(climate, Climatology) else read_climatology(climate)


def _weather(weather: Optional[Union[Weather, PathLike]], site_id: str = "") -> Optional[Weather]:
    return weather if weather is None or isinstance(weather, Weather) else read_weather(weather, site_id)


def _seeds(values):
    """Seeds as int64, or uint64 where a pcg64 seed needs all 64 bits (as
    pandas reads the seed column of the file)."""
    values = np.asarray(values, dtype=np.uint64)
    return values.astype(np.int64) if not len(values) or values.max() < 2**63 else values


def _columns(names, columns):
    """The module's columns by name: texts (lists) as object arrays."""
    return {name: (np.array(column, dtype=object) if isinstance(column, list) else column)
            for name, column in zip(names, columns, strict=True)}


def _frame(site_codes, site_ids, years, months, values, annual, seeds=None):
    """A results table with the batch's columns from the arrays of a run."""
    columns = {"site_id": pd.Categorical.from_codes(site_codes, categories=pd.Index(site_ids, dtype=object))}
    columns["year"] = years
    if not annual:
        columns["month"] = months
    for f, field in enumerate(_kelmar.RESULT_FIELDS):
        columns[field["column"]] = values[:, f]
    if annual:
        columns["seed"] = seeds
    return pd.DataFrame(columns, copy=False)


class Result:
    """One site's run: `monthly` and `annual` DataFrames with the columns of
    the batch's monthly.csv and annual.csv (site_id, year, month, then the
    results with their unit in the name: tair_degC, t_ms_degC,
    w_ms_vol_pct, ...), and `seed`, the random state the run started from
    (`simulate(..., seed=result.seed)` repeats it), and `scenario`, the
    scenario it ran under (None without one).

    >>> result = kelmar.simulate("soil.sit", "climat.cld", seed=1, run_years=2)
    >>> result
    Result(site_id='soil', seed=1, years=2)
    >>> list(result.monthly.columns[:4])
    ['site_id', 'year', 'month', 'tair_degC']
    >>> len(result.monthly), len(result.annual)
    (24, 2)
    """

    site_id: str
    seed: int
    weather_from_file: bool
    scenario: Optional[Scenario]

    def __init__(self, site_id: str, seed: int, monthly: Any, annual: Any, weather_from_file: bool,
                 scenario: Optional[Scenario] = None, site: Optional[dict[str, float]] = None) -> None:
        self.site_id = site_id
        self.seed = seed
        self._site = site  # the site parameters by key, for to_xarray()
        self._monthly = monthly
        self._annual = annual
        self.weather_from_file = weather_from_file
        self.scenario = scenario

    @functools.cached_property
    def monthly(self) -> pd.DataFrame:
        """The months: site_id, year, month and the results."""
        years, months, values = self._monthly
        return _frame(np.zeros(len(years), dtype=np.int64), [self.site_id], years, months, values, False)

    @functools.cached_property
    def annual(self) -> pd.DataFrame:
        """The years: site_id, year, the results' annual means (precipitation
        summed) and seed."""
        years, months, values = self._annual
        return _frame(np.zeros(len(years), dtype=np.int64), [self.site_id], years, months, values, True,
                      _seeds(np.full(len(years), self.seed, dtype=np.uint64)))

    def to_xarray(self, annual: bool = False) -> xarray.Dataset:
        """The run as an xarray Dataset laid out as the batch's results.nc:
        <key>(time, site_id) of the months, the site its one entry, so that
        .sel(site_id=...) works as on the file; with annual=True as
        results_annual.nc (sums, and means weighted by the days of each
        month). Needs xarray (Debian's python3-xarray).

        >>> data = kelmar.simulate("soil.sit", "climat.cld", seed=1, run_years=2).to_xarray()
        >>> data.sizes["time"], data.sizes["site_id"]
        (24, 1)
        """
        from . import _cf
        attrs = {} if self.scenario is None else {"scenario": self.scenario.describe()}
        return _cf.dataset([self.site_id], [self.seed], [self._monthly], [self._annual], extra_attrs=attrs,
                           annual_file=annual, params=None if self._site is None else [self._site])

    def __repr__(self) -> str:
        return f"Result(site_id={self.site_id!r}, seed={self.seed}, years={len(self._annual[0])})"


class EnsembleResult:
    """The replicates of a site's simulated weather, as `kelmar-cli simulate
    --replicates R --out DIR` writes them: `monthly` and `annual` (the
    columns of monthly.csv and annual.csv: site_id, scenario, replicate,
    ...), or with summary=True `summary_monthly` and `summary_annual` (those
    of summary_monthly.csv and summary_annual.csv; sd NaN for one value)
    and no per-replicate tables. `seed` is the base seed, `rng` the
    generator, `scenario` the scenario column.

    >>> ensemble = kelmar.simulate("soil.sit", "climat.cld", seed=1, replicates=3, run_years=2)
    >>> sorted(ensemble.annual["replicate"].unique())
    [0, 1, 2]
    >>> summary = kelmar.simulate("soil.sit", "climat.cld", seed=1, replicates=3, run_years=2, summary=True)
    >>> summary.monthly is None, len(summary.summary_monthly) > 0
    (True, True)
    """

    site_id: str
    scenario: str
    seed: int
    rng: str
    replicates: int
    monthly: Optional[pd.DataFrame]
    annual: Optional[pd.DataFrame]
    summary_monthly: Optional[pd.DataFrame]
    summary_annual: Optional[pd.DataFrame]

    def __init__(self, site_id: str, scenario: str, seed: int, rng: str, replicates: int, out: dict[str, Any]) -> None:
        self.site_id = site_id
        self.scenario = scenario
        self.seed = seed
        self.rng = rng
        self.replicates = replicates
        self._out = out
        self.monthly = self.annual = self.summary_monthly = self.summary_annual = None
        if "summary_monthly" in out:
            self.summary_monthly = self._summary("month", out["summary_monthly"])
            self.summary_annual = self._summary("year", out["summary_annual"])
        else:
            self.monthly = self._table(out["monthly"], False)
            self.annual = self._table(out["annual"], True)

    def _constant(self, value, rows):
        return pd.Categorical.from_codes(np.zeros(rows, dtype=np.int64), categories=pd.Index([value], dtype=object))

    def _table(self, arrays, annual):
        replicate, years, months, values = arrays
        columns = {"site_id": self._constant(self.site_id, len(years)),
                   "scenario": self._constant(self.scenario, len(years)),
                   "replicate": replicate, "year": years}
        if not annual:
            columns["month"] = months
        for f, field in enumerate(_kelmar.RESULT_FIELDS):
            columns[field["column"]] = values[:, f]
        if annual:
            columns["seed"] = _seeds(self._out["seeds"])[replicate]
        return pd.DataFrame(columns, copy=False)

    def _summary(self, when_name, arrays):
        when, columns = arrays
        table = {"site_id": self._constant(self.site_id, len(when)),
                 "scenario": self._constant(self.scenario, len(when)),
                 when_name: when}
        table.update(_columns(SUMMARY_COLUMNS, columns))
        return pd.DataFrame(table, copy=False)

    def to_xarray(self, annual: bool = False) -> xarray.Dataset:
        """The replicates as an xarray Dataset laid out as the batch's
        results.nc with --replicates: <key>(time, realization, site_id)
        (CF standard_name realization); with annual=True as
        results_annual.nc. Raises KelmarError for a summary (summary=True),
        which keeps no replicate's series.

        >>> ensemble = kelmar.simulate("soil.sit", "climat.cld", seed=1, replicates=3, run_years=2)
        >>> data = ensemble.to_xarray(annual=True)
        >>> data.sizes["time"], data.sizes["realization"], data.sizes["site_id"]
        (2, 3, 1)
        """
        if self.monthly is None:
            raise KelmarError("A summary holds no replicate's series: run the ensemble without summary=True "
                              "for to_xarray().")
        from . import _cf
        _, years, months, values = self._out["monthly"]
        _, ayears, amonths, avalues = self._out["annual"]
        per = len(years) // self.replicates
        aper = len(ayears) // self.replicates
        monthly = [(years[r * per:(r + 1) * per], months[r * per:(r + 1) * per], values[r * per:(r + 1) * per])
                   for r in range(self.replicates)]
        yearly = [(ayears[r * aper:(r + 1) * aper], amonths[r * aper:(r + 1) * aper], avalues[r * aper:(r + 1) * aper])
                  for r in range(self.replicates)]
        return _cf.dataset([self.site_id], self._out["seeds"], monthly, yearly, realizations=True,
                           extra_attrs={"scenario": self.scenario, "rng": self.rng, "base_seed": str(self.seed),
                                        "replicates": self.replicates},
                           annual_file=annual)

    def __repr__(self) -> str:
        kind = "summary" if self.monthly is None else "tables"
        return (f"EnsembleResult(site_id={self.site_id!r}, scenario={self.scenario!r}, replicates={self.replicates}, "
                f"rng={self.rng!r}, seed={self.seed}, {kind})")


def _simulated_years(start_year: Optional[int], run_years: Optional[int]) -> tuple[int, int]:
    """start_year and run_years (None: 1 and 500) checked as kelmar-cli
    checks --start-year and --run-years; ValueError names the argument."""
    def whole(value):
        return not isinstance(value, bool) and isinstance(value, (int, np.integer))
    most = _kelmar.MAX_RUN_YEARS
    years = most if run_years is None else run_years
    if not whole(years) or not 1 <= years <= most:
        raise KelmarValueError(f"run_years takes a whole number from 1 to {most}, not {run_years!r}.")
    last = _kelmar.LAST_RUN_YEAR - int(years) + 1
    start = 1 if start_year is None else start_year
    if not whole(start) or not 1 <= start <= last:
        raise KelmarValueError(f"start_year takes a whole number from 1 to {last} for a run of {int(years)} years "
                         f"(its last year at most {_kelmar.LAST_RUN_YEAR}), not {start_year!r}.")
    return int(start), int(years)


# The columns of a summary table after site_id, scenario and month or year.
SUMMARY_COLUMNS = [f["name"] for f in _kelmar.SUMMARY_FIELDS]
# The most replicates kelmar-cli simulate --replicates takes.
MOST_REPLICATES = 100_000_000


# The result's type by the call, for type checkers: one run (replicates 1,
# no summary) is a Result, a summary an EnsembleResult; a replicate count
# known only at run time is either.
@overload
def simulate(site: Union[Site, PathLike], climate: Optional[Union[Climatology, PathLike]] = None,
             weather: Optional[Union[Weather, PathLike]] = None, seed: Optional[int] = None,
             site_id: Optional[str] = None, scenario: Optional[Union[Scenario, PathLike]] = None,
             replicates: Literal[1] = 1, rng: str = "lcg32", summary: Literal[False] = False,
             jobs: Optional[int] = None, start_year: Optional[int] = None,
             run_years: Optional[int] = None) -> Result: ...
@overload
def simulate(site: Union[Site, PathLike], climate: Optional[Union[Climatology, PathLike]] = None,
             weather: Optional[Union[Weather, PathLike]] = None, seed: Optional[int] = None,
             site_id: Optional[str] = None, scenario: Optional[Union[Scenario, PathLike]] = None,
             replicates: int = 1, rng: str = "lcg32", *, summary: Literal[True], jobs: Optional[int] = None,
             start_year: Optional[int] = None, run_years: Optional[int] = None) -> EnsembleResult: ...
@overload
def simulate(site: Union[Site, PathLike], climate: Optional[Union[Climatology, PathLike]] = None,
             weather: Optional[Union[Weather, PathLike]] = None, seed: Optional[int] = None,
             site_id: Optional[str] = None, scenario: Optional[Union[Scenario, PathLike]] = None,
             replicates: int = 1, rng: str = "lcg32", summary: bool = False, jobs: Optional[int] = None,
             start_year: Optional[int] = None, run_years: Optional[int] = None) -> Union[Result, EnsembleResult]: ...
def simulate(site: Union[Site, PathLike], climate: Optional[Union[Climatology, PathLike]] = None,
             weather: Optional[Union[Weather, PathLike]] = None, seed: Optional[int] = None,
             site_id: Optional[str] = None, scenario: Optional[Union[Scenario, PathLike]] = None,
             replicates: int = 1, rng: str = "lcg32", summary: bool = False, jobs: Optional[int] = None,
             start_year: Optional[int] = None, run_years: Optional[int] = None) -> Union[Result, EnsembleResult]:
    """Runs a site as `kelmar-cli simulate` does: with `weather` (a record or
    a path) the observed record, `climate` then filling its soil-temperature
    gaps; otherwise 500 years simulated from `climate`. `seed` fixes the
    random state (default: the clock). Arguments are records or paths;
    `site_id` picks the record of a tidy weather table.

    `scenario` (a Scenario or a scenario file's path) changes the forcing of
    the run, as --scenario does. `rng` is the generator: "lcg32" (32-bit
    seed) or "pcg64" (64-bit seed). With `replicates` R > 1, or `summary`,
    simulated weather is run R times on the ensemble's streams on `jobs`
    threads (default: every core) and an EnsembleResult returned, whose
    tables equal those of `kelmar-cli simulate --replicates R --out DIR`
    (and --summary).

    Simulated weather runs `run_years` years (1..500, default 500: the
    first years of the 500-year run of the same seed) numbered from the
    calendar year `start_year` (default 1), as --start-year and --run-years
    do; a run ends by the year 9999. An observed record keeps its own years:
    either argument with `weather` raises ValueError.

    Returns a Result (one run), or an EnsembleResult with `replicates` > 1
    or `summary`. Raises KelmarFileNotFoundError for a missing file,
    KelmarValueError for a value out of range (seed < 0, replicates 0,
    run_years 501), KelmarTypeError for one of the wrong type (seed="1"),
    and KelmarError with the program's text for a run
    that cannot start (an observed record with soil-temperature gaps and no
    climatology). For a type checker, a call without `replicates` and
    `summary` gives a Result, one with summary=True an EnsembleResult, and
    one with a replicate count either (`isinstance` tells which).

    >>> result = kelmar.simulate("soil.sit", "climat.cld", seed=1, start_year=1991, run_years=30)
    >>> isinstance(result, kelmar.Result), result.annual["year"].iloc[[0, -1]].tolist()
    (True, [1991, 2020])
    >>> observed = kelmar.simulate("soil.sit", "climat.cld", weather="weather.wed", seed=1)
    >>> observed.weather_from_file
    True
    >>> kelmar.simulate("soil.sit", "climat.cld", run_years=0)
    Traceback (most recent call last):
    kelmar.KelmarValueError: run_years takes a whole number from 1 to 500, not 0.
    """
    if weather is not None:
        for name, value in (("start_year", start_year), ("run_years", run_years)):
            if value is not None:
                raise KelmarValueError(f"{name} belongs to simulated weather: a weather record runs its own years.")
    start_year, run_years = _simulated_years(start_year, run_years)
    site = _site(site)
    climate = _climate(climate)
    weather = _weather(weather, site_id or "")
    scenario = _scenario(scenario)
    replicates = _whole_number(replicates, "replicates", 1, MOST_REPLICATES)
    seed = _seed(seed, LARGEST_RUN_SEED)
    name = site_id or os.path.splitext(os.path.basename(site.name))[0] or "site"
    climate_impl = None if climate is None else climate._impl
    if replicates > 1 or summary:
        if weather is not None:
            raise KelmarValueError("An ensemble needs simulated weather: give a climate and no weather record.")
        out = _kelmar.ensemble(site._impl, climate_impl, seed, scenario, rng, int(replicates), bool(summary),
                               int(jobs or 0), name, start_year, run_years)
        return EnsembleResult(name, out["scenario"], out["seed"], rng, int(replicates), out)
    out = _kelmar.simulate(site._impl, climate_impl, None if weather is None else weather._impl, seed, scenario, rng,
                           start_year, run_years)
    return Result(name, out["seed"], out["monthly"], out["annual"], weather is not None, scenario, site.to_dict())


def estimate(weather: Union[Weather, PathLike], site_id: str = "", *,
             reference: Optional[Tuple[int, int]] = None) -> Climatology:
    """The climatology estimated from an observed record (a record or a
    path; `site_id` for a tidy weather table), as kelmar-cli estimate makes
    it; a KelmarWarning for each regression coefficient that could not be
    estimated (missing, -99.9: a record under five years, say), which a
    simulated run then refuses. `reference`, a pair of calendar years
    (1961, 1990) within the record, estimates from those years alone, as
    --reference. Raises KelmarFileNotFoundError for a missing file.

    >>> climate = kelmar.estimate("weather.wed")
    >>> climate.av_Ta.shape
    (12,)
    """
    return Climatology(_kelmar.estimate(cast(Weather, _weather(weather, site_id))._impl, _reference(reference)))


class BatchResult:
    """The tables of a batch: `monthly` and `annual` (as monthly.csv and
    annual.csv, site_id a categorical in list order), `errors` (site_id,
    message, as errors.csv) and `base_seed`. to_xarray() lays them out as
    the batch's netCDF files, with the values' type and compression of
    kelmar.batch's netcdf_precision and netcdf_deflate."""

    def __init__(self, monthly, annual, errors, base_seed, netcdf_precision="double", netcdf_deflate=0):
        self.monthly = monthly
        self.annual = annual
        self.errors = errors
        self.base_seed = base_seed
        self.netcdf_precision = netcdf_precision
        self.netcdf_deflate = netcdf_deflate

    def to_xarray(self, annual=False):
        """The sites as an xarray Dataset laid out as the batch's results.nc
        (annual=True: results_annual.nc): <key>(time, site_id) in list
        order, a site without results all NaN. Positions and site
        parameters are not among the tables, so they are missing here.
        With netcdf_precision "single" the values are float32; with
        netcdf_deflate N, to_netcdf() compresses them at level N with
        shuffle, as the batch's files are."""
        from . import _cf
        ids = list(self.annual["site_id"].cat.categories)
        columns = [field["column"] for field in _kelmar.RESULT_FIELDS]

        def per_site(table, month):
            codes = table["site_id"].cat.codes.to_numpy()
            order = np.argsort(codes, kind="stable")
            cuts = np.searchsorted(codes[order], np.arange(len(ids) + 1))
            years = table["year"].to_numpy()[order]
            months = table["month"].to_numpy()[order] if month else np.zeros(len(order), dtype=np.int64)
            values = table[columns].to_numpy()[order]
            return [(years[a:b], months[a:b], values[a:b]) for a, b in zip(cuts[:-1], cuts[1:])], order, cuts

        monthly, _, _ = per_site(self.monthly, True)
        yearly, order, cuts = per_site(self.annual, False)
        seeds = self.annual["seed"].to_numpy()[order]
        site_seeds = [int(seeds[a]) if b > a else _cf.NO_SEED for a, b in zip(cuts[:-1], cuts[1:])]
        return _cf.dataset(ids, site_seeds, monthly, yearly, annual_file=annual,
                           extra_attrs={"base_seed": self.base_seed}, precision=self.netcdf_precision,
                           deflate=self.netcdf_deflate)

    def __repr__(self):
        return (f"BatchResult(sites={len(self.annual['site_id'].cat.categories)}, failed={len(self.errors)}, "
                f"base_seed={self.base_seed})")


# The name of a site list given as a DataFrame, in messages; its line N is row N - 2.
DATAFRAME_LIST_NAME = "sites DataFrame"


def _site_list_text(sites):
    """A DataFrame site list as the batch reads it: written as CSV (whole
    numbers where a column holds them). A list's path is read by the batch's
    own reader, with its size limit, never here."""
    if not isinstance(sites, pd.DataFrame):
        raise TypeError("sites: a pandas DataFrame of the site list's columns, or the path of a site list")
    frame = sites.copy()
    for column in frame.columns:
        values = frame[column]
        # A seed or flag column read with gaps is float; the list wants whole numbers.
        if values.dtype.kind == "f" and column in ("seed", "Saturat", "Permafr", "Fortype"):
            whole = values.dropna()
            if (whole == np.floor(whole)).all():
                frame[column] = values.astype("Int64")
    return frame.to_csv(index=False, lineterminator="\n", float_format=_repr_float), DATAFRAME_LIST_NAME, ""


def _repr_float(value):
    return repr(float(value))


NETCDF_PRECISIONS = ("double", "single")


def _netcdf_options(precision, deflate):
    """Refuses what kelmar-cli batch refuses of --netcdf-precision and --netcdf-deflate."""
    if precision not in NETCDF_PRECISIONS:
        raise KelmarValueError(f"netcdf_precision takes 'double' or 'single', not {precision!r}.")
    return precision, _whole_number(deflate, "netcdf_deflate", 0, 9)


def _reference(reference):
    """A reference period (Y1, Y2) as the module takes it, "Y1-Y2"; "" for none."""
    if reference is None:
        return ""
    if (not isinstance(reference, (tuple, list)) or len(reference) != 2
            or any(isinstance(y, bool) or not isinstance(y, (int, np.integer)) for y in reference)):
        raise KelmarTypeError(f"reference takes a pair of calendar years (1961, 1990), not {reference!r}.")
    return f"{int(reference[0])}-{int(reference[1])}"


# The largest tables a batch without out= gives in memory, in bytes of the
# estimate below: 1.5 GiB, about 2,500 sites of 500 years. Each monthly row
# holds the nine result fields, year, month and the site's code (8 bytes
# each); the pandas frames and their making take about 1.4 times the
# estimate at the peak (a 2,900-site list of 500 years, estimated 1.8 GB,
# took 2.57 GB), so this keeps a batch in memory under about 2.3 GB, which
# a laptop holds. Larger lists go into a folder (out=), read lazily.
IN_MEMORY_LIMIT_BYTES = 3 * 2**29


def _in_memory_bytes(sites: int, run_years: int) -> int:
    """The estimated bytes of the monthly and annual tables of `sites`
    sites of `run_years` years (an observed record counted as long)."""
    row = (len(_kelmar.RESULT_FIELDS) + 3) * 8
    return sites * run_years * 13 * row  # twelve monthly rows and one annual a year


def _check_in_memory(sites: "pd.DataFrame | str | os.PathLike[str]", run_years: int) -> None:
    """Refuses a list whose tables would not fit in memory, before it runs."""
    if isinstance(sites, (str, os.PathLike)):
        count = len(pd.read_csv(io.BytesIO(_kelmar.site_list_bytes(os.fspath(sites))), dtype=str,
                                keep_default_na=False, usecols=["site_id"]))
    elif isinstance(sites, pd.DataFrame):
        count = len(sites)
    else:
        return  # the list's own check names the fault
    need = _in_memory_bytes(count, run_years)
    if need > IN_MEMORY_LIMIT_BYTES:
        raise KelmarValueError(
            f"{count} sites of {run_years} years make tables of about {need / 2**30:.1f} GiB, more than the "
            f"{IN_MEMORY_LIMIT_BYTES / 2**30:.1f} GiB a batch holds in memory: give out=FOLDER to write them to a "
            f"folder and read them lazily (or fewer run_years).")


def batch(sites: "pd.DataFrame | str | os.PathLike[str]", jobs: "int | None" = None, seed: "int | None" = None,
          folder: "str | os.PathLike[str] | None" = None,
          progress: "Callable[[int, int, int], Any] | None" = None, start_year: "int | None" = None,
          run_years: "int | None" = None, *, netcdf_precision: str = "double", netcdf_deflate: int = 0,
          out: "str | os.PathLike[str] | None" = None, format: str = "csv", scenarios: Any = None,
          replicates: "int | None" = None, rng: str = "lcg32", summary: bool = False,
          csv_digits: "int | None" = None, resume: bool = False,
          keep_parts: bool = False, estimate_climate: bool = False,
          reference: "Tuple[int, int] | None" = None, save_climate: bool = False, grid: Any = None,
          grid_options: "dict[str, Any] | None" = None) -> "BatchResult | BatchFolder":
    """Runs every site of a site list (a DataFrame with the columns of
    `kelmar-cli batch --sites`, or a list's path) on all cores (`jobs`
    threads) through the C++ batch, with its seed rule: site i starts from
    the base `seed` jumped i x 216,024 draws unless its seed column says
    otherwise. A bad list raises KelmarError before anything runs.

    With `out`, a folder, the batch is that of `kelmar-cli batch --sites
    LIST --out FOLDER` (the same files, byte for byte) and a BatchFolder is
    returned whose tables are read lazily, so that a list of any size fits:
    `format` ("csv", "netcdf" or "both"), `scenarios` (a scenario list's
    path, or kelmar.Scenario objects), `replicates`, `rng`, `summary`,
    `start_year`, `run_years`, `seed`, `jobs`, `netcdf_precision`,
    `netcdf_deflate`, `csv_digits`, `resume` and `keep_parts` are the
    options of the same names. A stopped batch keeps its finished chunks:
    the same call with resume=True runs the rest. A list's relative names
    are taken from its folder; a DataFrame's from `folder` (default: the
    working folder).

    Without `out`, the tables come back in memory as a BatchResult (as
    monthly.csv, annual.csv and errors.csv; site_id a categorical in list
    order), for lists whose tables are estimated at no more than
    IN_MEMORY_LIMIT_BYTES (1.5 GiB: about 2,500 sites of 500 years); a larger
    one raises KelmarValueError saying to give out=. Relative paths are
    taken from `folder` (default: the list's folder, or the working folder
    for a DataFrame).

    A failed site is a row of the errors table. When every site failed,
    KelmarError is raised (its `result` the BatchResult or BatchFolder);
    when some failed, a KelmarWarning (naming errors.csv with out=).

    `progress`, a callable, is called as progress(done, failed, total) when
    the first site starts and after each site (sites finish in any order;
    the counts only grow). Ctrl-C, or an exception raised by `progress`,
    stops the batch: the sites running end, no other starts, and the
    KeyboardInterrupt or the exception is raised.

    `start_year` and `run_years` (default 1 and 500) are the years of the
    simulated-weather sites, as kelmar-cli batch --start-year and
    --run-years; sites with a weather record keep their record's years.
    `netcdf_precision` ("double", the default, or "single") and
    `netcdf_deflate` (0, the default, to 9) are those of kelmar-cli batch
    --netcdf-precision and --netcdf-deflate (without `out`: for the
    result's to_xarray()).

    `estimate_climate=True` runs the sites with a weather record under
    simulated weather from the climatology estimated from it, as kelmar-cli
    batch --estimate-climate; `reference`, a pair of calendar years
    (1961, 1990), the years it is estimated from (default: each record's
    whole span), as --reference; `save_climate=True` (with `out`) writes
    the estimates to climatologies.csv, and with format 'netcdf' or 'both'
    to climatologies.nc too, as --save-climate (read back with
    BatchFolder.climatologies()).

    `grid` (with `out`): gridded monthly climate, as kelmar.extract takes
    it (a netCDF file, a list of them or an xarray Dataset), from which
    every site of the list that names no weather_file takes its record by
    its lat/lon, as kelmar-cli batch --grid; the cells taken go to
    FOLDER/cells.csv, a site without a usable cell to the errors, and
    `grid_options` are kelmar.extract's keywords (method, max_distance,
    var, units). With estimate_climate=True each site then runs simulated
    weather from the climatology of its own record.

    >>> runs = kelmar.batch("region/sites.csv", seed=1, run_years=2, out=f"{tmp}/runs", format="both")
    >>> runs
    BatchFolder(sites=290, failed=0, folder='.../runs')
    >>> runs.annual().groupby("site_id").t_ms_degC.mean().compute().head(2)
    site_id
    lat55.0_m0    4.443109
    lat55.0_m1    4.400743
    Name: t_ms_degC, dtype: float64
    >>> small = kelmar.batch("region/sites.csv", seed=1, run_years=2)   # in memory
    >>> small.annual.shape
    (580, 12)
    """
    if grid is not None and out is None:
        raise KelmarValueError("grid belongs to a batch into a folder: give out=FOLDER as well.")
    if grid is None and grid_options:
        raise KelmarValueError("grid_options belong to grid=: give the grid as well.")
    if out is not None:
        _folder.check_options(format, scenarios, replicates, rng, summary, csv_digits, netcdf_precision,
                              netcdf_deflate)
        start_year, run_years = _simulated_years(start_year, run_years)
        with (_grid.batch_grid(grid, os.fspath(out), dict(grid_options or {})) if grid is not None
              else contextlib.nullcontext(None)) as gridded:
            return _folder.run(sites, out, folder=folder, seed=_seed(seed), jobs=jobs, progress=progress,
                               start_year=start_year, run_years=run_years, format=format, scenarios=scenarios,
                               replicates=replicates, rng=rng, summary=summary, netcdf_precision=netcdf_precision,
                               netcdf_deflate=netcdf_deflate, csv_digits=csv_digits, resume=resume,
                               keep_parts=keep_parts, estimate_climate=estimate_climate,
                               reference=_reference(reference), save_climate=save_climate, grid=gridded)
    for name, value, default in (("format", format, "csv"), ("scenarios", scenarios, None),
                                 ("replicates", replicates, None), ("rng", rng, "lcg32"),
                                 ("summary", summary, False), ("csv_digits", csv_digits, None),
                                 ("resume", resume, False), ("keep_parts", keep_parts, False),
                                 ("save_climate", save_climate, False)):
        if value != default:
            raise KelmarValueError(f"{name} belongs to a batch into a folder: give out=FOLDER as well.")
    netcdf = _netcdf_options(netcdf_precision, netcdf_deflate)  # before anything runs
    start_year, run_years = _simulated_years(start_year, run_years)
    estimate = (bool(estimate_climate), _reference(reference))
    seed = _seed(seed)
    _check_in_memory(sites, run_years)
    # Relative names stay relative, so that messages name files as kelmar-cli does.
    folder = os.fspath(folder) if folder is not None else None
    if isinstance(sites, (str, os.PathLike)):
        told = _kelmar.batch_file(os.fspath(sites), folder, seed, 0, int(jobs or 0), progress, start_year, run_years,
                                  *estimate)
    else:
        text, name, _ = _site_list_text(sites)
        told = _kelmar.batch(text, name, folder or "", seed, 0, 0, int(jobs or 0), progress, start_year, run_years,
                             *estimate)
    ids = told["ids"]
    codes, years, months, values = told["monthly"]
    monthly = _frame(codes, ids, years, months, values, False)
    codes, years, months, values = told["annual"]
    annual = _frame(codes, ids, years, months, values, True, told["seeds"][codes])
    errors = pd.DataFrame({"site_id": pd.Series(told["error_ids"], dtype=object),
                           "message": pd.Series(told["error_messages"], dtype=object)})
    return _judged(BatchResult(monthly, annual, errors, told["base_seed"], *netcdf))


def extract(grid: Any, sites: "pd.DataFrame | str | os.PathLike[str]", out: "str | os.PathLike[str]", *,
            cells: "str | os.PathLike[str] | None" = None, method: str = "nearest", max_distance: float = 100.0,
            var: "dict[str, str] | None" = None, units: "dict[str, str] | None" = None) -> str:
    """Takes each site's monthly record from gridded monthly climate by its
    position and writes them as the tidy weather table `out`
    (site_id,year,month,tair,prec,tsoil in degC and mm per month), which
    kelmar.batch (weather_file) and kelmar.read_weather(out, site_id) read:
    kelmar-cli extract --grid ... --sites ... --out ... from Python.

    `grid` is a CF netCDF file, a list of them (e.g. one per variable) or an
    xarray Dataset (written to a scratch file beside `out` for the
    program's reader; its coordinates lat/latitude and lon/longitude taken
    as degrees where they have no units); `sites` a DataFrame or CSV file with site_id, lat and
    lon. Each site takes the cell holding it, or where that holds no data
    the nearest one that does within `max_distance` km; `method="bilinear"`
    weights the four cells around it. `var` names a variable per key
    (tair, prec, tsoil) where a file has no standard_name, `units` gives a
    unit a file lacks or leaves ambiguous ({"prec": "m/day"}). `cells`
    writes the cell each site took. Returns `out`. Raises KelmarError when
    the grid cannot be read or every site failed; some failed, or notes of
    the reader, give a KelmarWarning naming them.

    >>> import numpy as np, pandas as pd, xarray as xr
    >>> months = pd.date_range("1991-01-01", periods=72, freq="MS")
    >>> air = xr.DataArray(np.full((72, 2, 2), 280.15), dims=("time", "lat", "lon"),
    ...                    coords={"time": months, "lat": [60.0, 61.0], "lon": [25.0, 26.0]},
    ...                    attrs={"standard_name": "air_temperature", "units": "K"})
    >>> rain = (air * 0 + 2.0).assign_attrs(standard_name="lwe_thickness_of_precipitation_amount",
    ...                                     units="mm/day")
    >>> grid = xr.Dataset({"tas": air, "pr": rain})
    >>> sites = pd.DataFrame({"site_id": ["a"], "lat": [60.2], "lon": [25.1]})
    >>> path = kelmar.extract(grid, sites, f"{tmp}/stations.csv")
    >>> kelmar.read_weather(path, "a").to_dataframe().head(2)   # 2 mm a day: 62 mm in January, 56 in February
       year  month  tair  prec  tsoil
    0  1991      1   7.0  62.0    NaN
    1  1991      2   7.0  56.0    NaN
    """
    return _grid.extract(grid, sites, out, cells=cells, method=method, max_distance=max_distance, var=var,
                         units=units)


def _judged(result):
    """`result`, told as kelmar-cli batch tells a batch with failed sites
    (which then exits 1): every site failed raises KelmarError, carrying the
    result; some failed warns. Never a silent failure."""
    failed, total = len(result.errors), len(result.annual["site_id"].cat.categories)
    if not failed:
        return result
    if failed == total:
        first = result.errors.iloc[0]
        error = KelmarError(f"{failed} of {total} sites failed; their messages are in the errors table of this "
                            f"error's result; the first, of site {first['site_id']!r}: {first['message']}")
        error.result = result
        raise error
    _warn(f"{failed} of {total} sites failed; their messages are in the result's errors table.")
    return result


class CheckResult(pd.DataFrame):
    """The generator check's table, one row per variable, month and test,
    with the columns of check.csv (NaN where the file's field is empty),
    and `verdicts`, the lines kelmar-cli check prints per variable; `seed`,
    `record_years`, `simulated_years`, `record_name` and `climate_name`
    (empty when estimated from the record).

    >>> table = kelmar.check("weather.wed", seed=1, years=50)
    >>> table.simulated_years, table.climate_name
    (50, '')
    """

    verdicts: list[str]
    seed: int
    record_years: int
    simulated_years: int
    record_name: str
    climate_name: str

    _metadata = ["verdicts", "seed", "record_years", "simulated_years", "record_name", "climate_name"]

    @property
    def _constructor(self) -> type[CheckResult]:
        return CheckResult


# The columns of check.csv.
CHECK_COLUMNS = [f["name"] for f in _kelmar.CHECK_FIELDS]


def check(weather: Union[Weather, PathLike], climate: Optional[Union[Climatology, PathLike]] = None,
          years: int = 500, seed: Optional[int] = None, site_id: str = "") -> CheckResult:
    """Checks the weather generator against an observed record (a record or
    a path; `site_id` for a tidy weather table), as `kelmar-cli check` does:
    the climatology estimated from the record, or `climate` (a record or a
    path), `years` (2..500) simulated from the random state `seed` (default:
    the clock), and each month's observed and simulated values compared
    (Welch's t, F or Brown-Forsythe, Kolmogorov-Smirnov; Holm's adjustment
    per variable). Returns a CheckResult. The figure of kelmar-cli check is
    not drawn here: it needs the window's libraries. Raises
    KelmarFileNotFoundError for a missing file, KelmarError for `years`
    out of range, KelmarValueError for `seed` out of range, and
    KelmarTypeError for either of the wrong type.

    >>> table = kelmar.check("weather.wed", seed=1, years=50)
    >>> list(table.columns[:3])
    ['variable', 'unit', 'month']
    >>> kelmar.check("weather.wed", years=2.5)
    Traceback (most recent call last):
    kelmar.KelmarTypeError: years takes a whole number from 2 to 500, not 2.5.
    """
    weather = cast(Weather, _weather(weather, site_id or ""))
    climate = _climate(climate)
    if isinstance(years, bool) or not isinstance(years, (int, np.integer)):
        raise KelmarTypeError(f"years takes a whole number from 2 to 500, not {years!r}.")
    out = _kelmar.check(weather._impl, None if climate is None else climate._impl, int(years), _seed(seed))
    table = CheckResult(pd.DataFrame(_columns(CHECK_COLUMNS, out["columns"])))
    table.verdicts = list(out["verdicts"])
    for key in ("seed", "record_years", "simulated_years", "record_name", "climate_name"):
        setattr(table, key, out[key])
    return table
