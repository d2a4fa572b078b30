"""Records of sites from gridded monthly climate: kelmar.extract, and the
grid behind kelmar.batch(..., grid=...)."""
from __future__ import annotations

import contextlib
import os
import tempfile
from typing import Any, Iterator, Mapping, Sequence, Union

import pandas as pd

from . import _kelmar

PathLike = Union[str, "os.PathLike[str]"]
# A grid as kelmar.extract takes it: one file, several, or an xarray Dataset.
Grid = Union[PathLike, Sequence[PathLike], Any]



def _grid_files(grid: Grid, scratch: str) -> list[str]:
    """The grid's files: paths as given; an xarray Dataset written to a
    netCDF file in `scratch` (the reader is the program's, which reads
    files, in blocks)."""
    if isinstance(grid, (str, os.PathLike)):
        return [os.fspath(grid)]
    if hasattr(grid, "to_netcdf") and hasattr(grid, "data_vars"):
        path = os.path.join(scratch, "grid.nc")
        _with_axis_units(grid).to_netcdf(path)
        return [path]
    if isinstance(grid, (list, tuple)) and grid and all(isinstance(g, (str, os.PathLike)) for g in grid):
        return [os.fspath(g) for g in grid]
    import kelmar
    raise kelmar.KelmarTypeError("grid takes the path of a netCDF file, a list of them or an xarray Dataset, "
                                 f"not {type(grid).__name__}.")


# Coordinates a Dataset made in Python often carries without units: by
# these names they can only be the grid's axes (in degrees), as CF's units
# would say in a file.
AXIS_UNITS = {"lat": "degrees_north", "latitude": "degrees_north", "lon": "degrees_east", "longitude": "degrees_east"}


def _with_axis_units(grid: Any) -> Any:
    missing = {name: unit for name, unit in AXIS_UNITS.items()
               if name in grid.coords and grid[name].ndim == 1 and "units" not in grid[name].attrs}
    if not missing:
        return grid
    grid = grid.copy()
    for name, unit in missing.items():
        grid[name].attrs["units"] = unit
    return grid


def _sites_file(sites: Any, scratch: str) -> str:
    if isinstance(sites, (str, os.PathLike)):
        return os.fspath(sites)
    if isinstance(sites, pd.DataFrame):
        import kelmar
        missing = [c for c in ("site_id", "lat", "lon") if c not in sites.columns]
        if missing:
            raise kelmar.KelmarValueError(f"sites needs the columns site_id, lat and lon; it lacks {', '.join(missing)}.")
        path = os.path.join(scratch, "sites.csv")
        sites[["site_id", "lat", "lon"]].to_csv(path, index=False, lineterminator="\n", float_format=repr)
        return path
    import kelmar
    raise kelmar.KelmarTypeError(f"sites takes a DataFrame or the path of a CSV file, not {type(sites).__name__}.")


def extract(grid: Grid, sites: Any, out: PathLike, *, cells: PathLike | None = None, method: str = "nearest",
            max_distance: float = 100.0, var: Mapping[str, str] | None = None,
            units: Mapping[str, str] | None = None) -> str:
    """kelmar.extract: see its docstring there."""
    import kelmar
    out = os.fspath(out)
    with tempfile.TemporaryDirectory(prefix=".kelmar-extract-", dir=os.path.dirname(os.path.abspath(out))) as scratch:
        told = _kelmar.extract(_grid_files(grid, scratch), _sites_file(sites, scratch), out,
                               "" if cells is None else os.fspath(cells), method, float(max_distance),
                               dict(var or {}), dict(units or {}))
    failed, total = told["failed"], told["sites"]
    messages = told["messages"].strip()
    if failed and failed == total:
        raise kelmar.KelmarError(f"{failed} of {total} sites failed:\n{messages}")
    if messages:
        kelmar._warn(messages if not failed else f"{failed} of {total} sites failed; the others are in {out}:\n"
                     f"{messages}")
    return out


GRID_OPTIONS = ("method", "max_distance", "var", "units")


@contextlib.contextmanager
def batch_grid(grid: Grid, out: str, options: Mapping[str, Any]) -> Iterator[dict[str, Any]]:
    """The keywords of _kelmar.run_batch for a batch whose sites without a
    weather_file take their records from `grid` (kelmar-cli batch --grid):
    a Dataset is written to a netCDF file in `out` for as long as the batch
    runs."""
    import kelmar
    unknown = sorted(set(options) - set(GRID_OPTIONS))
    if unknown:
        raise kelmar.KelmarValueError(f"grid_options takes {', '.join(GRID_OPTIONS)}, not {', '.join(unknown)}.")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix=".kelmar-grid-", dir=out) as scratch:
        yield {"grids": _grid_files(grid, scratch), "grid_method": options.get("method", "nearest"),
               "max_distance": float(options.get("max_distance", 100.0)),
               "grid_variables": dict(options.get("var") or {}), "grid_units": dict(options.get("units") or {})}
