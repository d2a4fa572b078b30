"""Batches into a folder: kelmar.batch(sites, out=FOLDER) runs the command
sequence of `kelmar-cli batch --out FOLDER` (the same bytes), and the
BatchFolder it returns, or open_batch(FOLDER) gives for a finished batch,
reads the folder's tables lazily (Dask DataFrames, xarray on Dask), so
that the Python process holds a block of a table at a time whatever the
size of the list.
"""
from __future__ import annotations

import io
import os
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING, Any, Literal, Union

import numpy as np
import pandas as pd

from . import _kelmar

if TYPE_CHECKING:
    import dask.dataframe as dd
    import xarray as xr

# A site list or scenario list: a file's path or a table of its columns.
PathLike = Union[str, "os.PathLike[str]"]
ProgressFunction = Callable[[int, int, int], Any]

FORMATS = ("csv", "netcdf", "both")
RNGS = ("lcg32", "pcg64")
MANIFEST_NAME = "manifest.txt"
MANIFEST_HEADER = "kelmar-batch-manifest 1"  # its first line (app/batch/batch_records.h)
# The manifest's line of a batch whose outputs are joined and in place.
JOINED_KEY = "joined_failed_sites"
# Sites per chunk of the batch (app/batch/batch_run.h CHUNK_SITES): the
# netCDF files are read in blocks of as many sites, so that a block of the
# Dataset is as large as the batch held while it wrote them.
CHUNK_SITES = 64
# Bytes of monthly.csv or annual.csv read as one block of a Dask DataFrame:
# Dask's own default, about half a million monthly rows (some 50 MB of
# numbers) a block.
CSV_BLOCK_BYTES = 64 * 2**20
# The list and scenario list the package writes for a table or scenario
# objects, in the batch's folder: every worker of a cluster finds them
# there, errors.csv names the list file and its lines, and their bytes
# identify the batch, so that resume=True with the same table goes on.
LIST_FILE = ".kelmar-sites.csv"
SCENARIOS_FILE = ".kelmar-scenarios.csv"
# Columns of a site list holding file names, taken from the list's folder when relative.
FILE_COLUMNS = ("site_file", "climate_file", "weather_file")
# The most replicates kelmar-cli batch --replicates takes (as simulate's).
MOST_REPLICATES = 100_000_000


def _value_error(text: str) -> Exception:
    return _kelmar.KelmarValueError(text)


def check_options(format: str, scenarios: Any, replicates: int | None, rng: str, summary: bool,
                  csv_digits: int | None, netcdf_precision: str, netcdf_deflate: int) -> None:
    """Refuses, before anything runs or is sent, what kelmar-cli batch
    refuses of its options, naming the keyword."""
    import kelmar
    if format not in FORMATS:
        raise _value_error(f"format takes 'csv', 'netcdf' or 'both', not {format!r}.")
    if rng not in RNGS:
        raise _value_error(f"rng takes 'lcg32' or 'pcg64', not {rng!r}.")
    if replicates is not None:
        kelmar._whole_number(replicates, "replicates", 1, MOST_REPLICATES)
    if summary and replicates is None:
        raise _value_error("summary summarises replicates: give replicates=R as well.")
    if summary and format != "csv":
        raise _value_error(f"summary writes CSV tables, not format {format!r}: give format='csv'.")
    if csv_digits is not None:
        kelmar._whole_number(csv_digits, "csv_digits", 1, 17)
        if format == "netcdf":
            raise _value_error("csv_digits sets the numbers of the CSV tables; format 'netcdf' writes none.")
    kelmar._netcdf_options(netcdf_precision, netcdf_deflate)
    if format == "csv" and (netcdf_precision != "double" or netcdf_deflate != 0):
        raise _value_error("netcdf_precision and netcdf_deflate need format 'netcdf' or 'both'.")


def _list_table(sites: pd.DataFrame, folder: str | None) -> pd.DataFrame:
    """A list given as a table, its relative file names made absolute from
    `folder` (default: the working folder), as the batch's list file lies
    elsewhere."""
    base = os.path.abspath(folder if folder is not None else os.getcwd())
    table = sites.copy()
    for column in FILE_COLUMNS:
        if column in table.columns:
            table[column] = [name if not isinstance(name, str) or not name or os.path.isabs(name)
                             else os.path.join(base, name) for name in table[column]]
    return table


def _scenario_rows(scenarios: Sequence[Any]) -> str:
    """Scenario objects as the batch's scenario list (scenario_list.h):
    each month of delta_t and precip_factor a column, the numbers as the
    shortest text that reads back to the same double."""
    import kelmar
    columns = (["scenario"] + [f"delta_t_{m}" for m in range(1, 13)] + [f"precip_factor_{m}" for m in range(1, 13)]
               + ["variability", "trend_t", "trend_precip"])
    rows = [",".join(columns)]
    for scenario in scenarios:
        if not isinstance(scenario, kelmar.Scenario):
            raise _kelmar.KelmarTypeError(
                f"scenarios takes the path of a scenario list or a list of kelmar.Scenario, not {scenario!r}.")
        name = scenario.name or scenario.describe()
        if any(c in name for c in ',"\r\n'):
            name = '"' + name.replace('"', '""') + '"'
        numbers = (list(scenario.delta_t) + list(scenario.precip_factor)
                   + [scenario.variability, scenario.trend_t, scenario.trend_precip])
        rows.append(",".join([name] + [repr(float(v)) for v in numbers]))
    return "\n".join(rows) + "\n"


def _write_input(path: str, text: str, out: str) -> None:
    """`text` into the batch's folder as `path`, unless it is there: a
    different one of a batch in that folder stays (the batch refuses the
    other list), as its errors.csv names it."""
    try:
        with open(path, encoding="utf-8", newline="") as file:
            if file.read() == text:
                return
        if os.path.exists(os.path.join(out, MANIFEST_NAME)):
            raise _kelmar.KelmarError(
                f"The folder \"{out}\" holds a batch of another list (\"{os.path.basename(path)}\"); choose "
                f"another folder.")
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8", newline="") as file:
        file.write(text)


def batch_inputs(sites: pd.DataFrame | PathLike, folder: str | None, scenarios: Any,
                 out: str) -> tuple[str, str, list[str]]:
    """The paths of the site list and scenario list ('' for none) that the
    batch reads, and the sites' ids in list order: a path as given (a list
    file's relative names are its folder's, as kelmar-cli batch takes them);
    a table or scenario objects written into `out`, where they stay."""
    import kelmar
    os.makedirs(out, exist_ok=True)
    if isinstance(sites, (str, os.PathLike)):
        if folder is not None:
            raise _value_error("folder applies to a site list given as a DataFrame; a list file's relative names "
                               "are taken from the list's own folder, as kelmar-cli batch takes them.")
        list_path = os.fspath(sites)
        # Read and checked by the batch's reader (its size limit), for the ids only.
        ids = pd.read_csv(io.BytesIO(_kelmar.site_list_bytes(list_path)), dtype=str, keep_default_na=False,
                          usecols=["site_id"])["site_id"].tolist()
    else:
        text, name, _ = kelmar._site_list_text(sites)
        # The list's faults named as a DataFrame's, with its lines, before the copy is written.
        _kelmar.check_site_list(text, name, os.path.abspath(folder if folder is not None else os.getcwd()))
        ids = [str(i) for i in sites["site_id"]]
        text, _, _ = kelmar._site_list_text(_list_table(sites, folder))
        list_path = os.path.join(out, LIST_FILE)
        _write_input(list_path, text, out)
    if scenarios is None:
        scenario_path = ""
    elif isinstance(scenarios, (str, os.PathLike)):
        scenario_path = os.fspath(scenarios)
    else:
        scenario_path = os.path.join(out, SCENARIOS_FILE)
        if isinstance(scenarios, kelmar.Scenario):
            scenarios = [scenarios]
        _write_input(scenario_path, _scenario_rows(list(scenarios)), out)
    return list_path, scenario_path, ids


def warn_notes(notes: str) -> None:
    """The batch's notes for kelmar-cli's standard error (warnings, jobs
    capped) as KelmarWarnings; a shard's note on how to merge is the
    caller's business here."""
    import kelmar
    for line in notes.splitlines():
        if line.strip() and not line.startswith("Shard "):
            kelmar._warn(line)


def judged(folder: "BatchFolder") -> "BatchFolder":
    """`folder`, told as kelmar-cli batch tells a batch with failed sites
    (which then exits 1): every site failed raises KelmarError carrying the
    folder as its `result`; some failed warns. Both name errors.csv."""
    import kelmar
    failed, total = folder.failed, folder.sites
    if not failed:
        return folder
    where = os.path.join(folder.path, "errors.csv")
    if failed == total:
        error = kelmar.KelmarError(f"{failed} of {total} sites failed; their messages are in {where}")
        error.result = folder  # type: ignore[attr-defined]
        raise error
    kelmar._warn(f"{failed} of {total} sites failed; their messages are in {where}")
    return folder


def run(sites: pd.DataFrame | PathLike, out: PathLike, *, folder: PathLike | None, seed: int | None,
        jobs: int | None, progress: ProgressFunction | None, start_year: int, run_years: int, format: str,
        scenarios: Any, replicates: int | None, rng: str, summary: bool, netcdf_precision: str,
        netcdf_deflate: int, csv_digits: int | None, resume: bool, keep_parts: bool,
        estimate_climate: bool = False, reference: str = "", save_climate: bool = False,
        grid: dict[str, Any] | None = None) -> "BatchFolder":
    """kelmar.batch(..., out=FOLDER): see its docstring."""
    out = os.fspath(out)
    folder = os.fspath(folder) if folder is not None else None
    list_path, scenario_path, ids = batch_inputs(sites, folder, scenarios, out)
    told = _kelmar.run_batch(
        list_path, out, format=format, scenarios=scenario_path, replicates=replicates or 0, rng=rng,
        summary=summary, start_year=start_year, run_years=run_years, seed=seed, jobs=int(jobs or 0),
        netcdf_precision=netcdf_precision, netcdf_deflate=netcdf_deflate, csv_digits=csv_digits or 0,
        resume=resume, keep_parts=keep_parts, progress=progress, estimate_climate=estimate_climate,
        reference=reference, save_climate=save_climate, **(grid or {}))
    warn_notes(told["notes"])
    return judged(BatchFolder(out, ids, told["failed"]))


def _read_manifest(path: str) -> dict[str, str]:
    """The manifest of the batch in `path` by key; KelmarError for a folder
    that holds no batch."""
    where = os.path.join(path, MANIFEST_NAME)
    if not os.path.isdir(path):
        raise _kelmar.KelmarFileNotFoundError(f"The batch folder \"{path}\" does not exist.")
    try:
        with open(where, encoding="utf-8") as file:
            lines = file.read().splitlines()
    except FileNotFoundError:
        raise _kelmar.KelmarError(f"The folder \"{path}\" holds no batch (no {MANIFEST_NAME}).") from None
    except (OSError, UnicodeDecodeError) as error:
        raise _kelmar.KelmarError(f"The file \"{where}\" cannot be read as a batch manifest: {error}") from None
    if not lines or lines[0] != MANIFEST_HEADER:
        raise _kelmar.KelmarError(f"The file \"{where}\" is not a batch manifest.")
    return dict(line.split("=", 1) for line in lines[1:] if "=" in line)


class BatchFolder:
    """A finished batch on the disk, its tables read when asked for:
    monthly() and annual() as Dask DataFrames (lazy=False: pandas), read
    from monthly.csv and annual.csv a block at a time; errors() as pandas;
    to_xarray() opening results.nc on Dask; climatologies() the kept
    climatologies (pandas, or xarray from climatologies.nc). `path` is the folder,
    `manifest` its manifest.txt by key, `sites`, `failed` and `base_seed`
    the batch's. site_id is a categorical in list order when the list is
    known (kelmar.batch, or open_batch(..., sites=)), text otherwise.

    >>> runs = kelmar.open_batch("out")
    >>> runs.annual().groupby("site_id").tair_degC.mean().compute()
    """

    def __init__(self, path: PathLike, site_ids: Sequence[str] | None = None, failed: int | None = None) -> None:
        self.path = os.fspath(path)
        self.manifest = _read_manifest(self.path)
        errors = os.path.join(self.path, "errors.csv")
        # The manifest is marked once the outputs are joined, unless the
        # parts were kept; errors.csv is written by the join only.
        if JOINED_KEY not in self.manifest and not os.path.exists(errors):
            raise _kelmar.KelmarError(
                f"The batch in \"{self.path}\" is not finished: its outputs are not joined yet. Run it again with "
                f"resume=True (kelmar-cli batch --resume), or join its shards (kelmar-cli merge {self.path}).")
        self.sites = int(self.manifest["sites"])
        if failed is None and JOINED_KEY in self.manifest:
            failed = int(self.manifest[JOINED_KEY])
        elif failed is None:
            failed = pd.read_csv(errors, dtype=str, keep_default_na=False, usecols=["site_id"])["site_id"].nunique()
        self.failed = int(failed)
        self.base_seed = int(self.manifest["base_seed"])
        self.format = self.manifest.get("format", "csv")
        self.site_ids = None if site_ids is None else list(site_ids)
        if self.site_ids is not None and len(self.site_ids) != self.sites:
            raise _value_error(f"The batch in \"{self.path}\" ran {self.sites} sites; the list given has "
                               f"{len(self.site_ids)}.")

    def _table(self, name: str, annual: bool) -> str:
        path = os.path.join(self.path, name)
        if self.manifest.get("summary") == "1" and name in ("monthly.csv", "annual.csv"):
            raise _value_error(f"The batch in \"{self.path}\" wrote summary tables (summary=True): read them "
                               f"with summary(annual={annual}).")
        if self.format == "netcdf" and name.endswith(".csv") and name != "errors.csv":
            raise _value_error(f"The batch in \"{self.path}\" wrote netCDF files only (format 'netcdf'): read "
                               f"them with to_xarray(), or run the batch with format 'csv' or 'both'.")
        if name.startswith("summary_") and self.manifest.get("summary") != "1":
            raise _value_error(f"The batch in \"{self.path}\" wrote no summary tables: run it with replicates=R and "
                               f"summary=True for them.")
        if not os.path.exists(path):
            raise _kelmar.KelmarFileNotFoundError(f"The batch's table \"{path}\" is gone.")
        return path

    def _dtypes(self, columns: Sequence[str]) -> dict[str, Any]:
        """The dtype of each column of a table, as the in-memory frames have them."""
        seed = np.uint64 if self.manifest.get("rng") == "pcg64" else np.int64
        known = {"year": np.int64, "month": np.int64, "replicate": np.int64, "seed": seed, "n": np.int64,
                 "scenario": object, "variable": object, "site_id": object}
        return {c: known.get(c, np.float64) for c in columns}

    def _read(self, name: str, annual: bool, lazy: bool) -> "dd.DataFrame | pd.DataFrame":
        path = self._table(name, annual)
        header = pd.read_csv(path, nrows=0).columns.tolist()
        dtypes = self._dtypes(header)
        # Only an empty field is missing (a summary's sd of one value); every number read back exactly.
        options = dict(dtype=dtypes, keep_default_na=False, na_values=[""], float_precision="round_trip")
        if lazy:
            import dask.dataframe as dd
            frame = dd.read_csv(path, blocksize=CSV_BLOCK_BYTES, **options)
        else:
            frame = pd.read_csv(path, **options)
        if self.site_ids is not None:
            kind = pd.CategoricalDtype(pd.Index(self.site_ids, dtype=object))
            frame = frame.astype({"site_id": kind})
        return frame

    def monthly(self, lazy: bool = True) -> "dd.DataFrame | pd.DataFrame":
        """monthly.csv: a Dask DataFrame read a block at a time (lazy=False:
        a pandas DataFrame, the whole table in memory).

        >>> runs.monthly()[["site_id", "tsoil_degC"]].groupby("site_id").max().compute()
        """
        return self._read("monthly.csv", False, lazy)

    def annual(self, lazy: bool = True) -> "dd.DataFrame | pd.DataFrame":
        """annual.csv, as monthly() reads monthly.csv.

        >>> runs.annual(lazy=False).query("year == 1")
        """
        return self._read("annual.csv", True, lazy)

    def summary(self, annual: bool = False, lazy: bool = True) -> "dd.DataFrame | pd.DataFrame":
        """summary_monthly.csv (annual=True: summary_annual.csv) of a batch
        run with summary=True, as monthly() reads monthly.csv.

        >>> runs.summary().query("variable == 'tsoil'").compute()
        """
        return self._read("summary_annual.csv" if annual else "summary_monthly.csv", annual, lazy)

    def errors(self) -> pd.DataFrame:
        """errors.csv: a row for each failed site (and scenario, replicate), in list order.

        >>> runs.errors().message.tolist()
        """
        path = self._table("errors.csv", False)
        return pd.read_csv(path, dtype=str, keep_default_na=False)

    def to_xarray(self, annual: bool = False,
                  chunks: int | dict[str, int] | Literal["auto"] | None = None) -> "xr.Dataset":
        """results.nc (annual=True: results_annual.nc) opened lazily: its
        variables are Dask arrays in blocks of `chunks` (default: the
        batch's 64 sites a block, every month), read when computed.

        >>> runs.to_xarray().tsoil.sel(site_id="A").mean().compute()
        """
        import xarray as xr
        if self.format == "csv":
            raise _value_error(f"The batch in \"{self.path}\" wrote no netCDF file (format 'csv'): run it with "
                               f"format 'netcdf' or 'both' for results.nc.")
        path = os.path.join(self.path, "results_annual.nc" if annual else "results.nc")
        if not os.path.exists(path):
            raise _kelmar.KelmarFileNotFoundError(
                f"The batch in \"{self.path}\" has no \"{os.path.basename(path)}\": it is written only when some "
                f"site ran a whole year.")
        return xr.open_dataset(path, chunks=chunks if chunks is not None else {"site_id": CHUNK_SITES})

    def climatologies(self, xarray: bool = False) -> "pd.DataFrame | xr.Dataset":
        """The climatologies the sites that ran were run with, of a batch run
        with estimate_climate=True and save_climate=True: climatologies.csv as a
        pandas DataFrame (site_id, month and the twelve fields, every number
        read back exactly, a missing one -99.9 as the file holds it), in
        every format; xarray=True: climatologies.nc (formats 'netcdf' and
        'both') as an xarray Dataset on month and site_id, a missing value
        NaN. Both are small: twelve rows a site.

        >>> runs.climatologies().query("month == 7").av_Ta_degC.mean()
        >>> runs.climatologies(xarray=True).av_Ta.sel(site_id="A")
        """
        if self.manifest.get("save_climate") != "1":
            raise _value_error(f"The batch in \"{self.path}\" kept no climatologies: run it with "
                               f"estimate_climate=True and save_climate=True for them.")
        if not xarray:
            path = os.path.join(self.path, "climatologies.csv")
            if not os.path.exists(path):
                raise _kelmar.KelmarFileNotFoundError(f"The batch's table \"{path}\" is gone.")
            return pd.read_csv(path, dtype={"site_id": object, "month": np.int64}, keep_default_na=False,
                               float_precision="round_trip")
        import xarray as xr
        if self.format == "csv":
            raise _value_error(f"The batch in \"{self.path}\" wrote no netCDF file (format 'csv'): read "
                               f"climatologies.csv with climatologies(), or run the batch with format 'netcdf' or "
                               f"'both' for climatologies.nc.")
        path = os.path.join(self.path, "climatologies.nc")
        if not os.path.exists(path):
            raise _kelmar.KelmarFileNotFoundError(
                f"The batch in \"{self.path}\" has no \"climatologies.nc\": it is written only when some site ran.")
        return xr.open_dataset(path)

    def __repr__(self) -> str:
        return f"BatchFolder(sites={self.sites}, failed={self.failed}, folder={self.path!r})"


def open_batch(folder: PathLike, sites: pd.DataFrame | PathLike | None = None) -> BatchFolder:
    """The finished batch in `folder` (of kelmar.batch(..., out=) or
    kelmar-cli batch), its tables read lazily. A folder without a batch, or
    whose batch is not finished (stopped, or shards not merged), raises
    KelmarError saying what to do. With `sites`, the batch's list (a path
    or a DataFrame), site_id is a categorical in list order.

    >>> runs = kelmar.open_batch("out", sites="sites.csv")
    >>> runs.monthly().tsoil_degC.mean().compute()
    """
    ids = None
    if sites is not None:
        if isinstance(sites, (str, os.PathLike)):
            ids = pd.read_csv(io.BytesIO(_kelmar.site_list_bytes(os.fspath(sites))), dtype=str,
                              keep_default_na=False, usecols=["site_id"])["site_id"].tolist()
        else:
            ids = [str(i) for i in sites["site_id"]]
    return BatchFolder(folder, ids)
