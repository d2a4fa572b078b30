"""Runs as xarray Datasets with the CF conventions of the batch's netCDF
files (io/cf_netcdf.h): results.nc (monthly) and results_annual.nc
(annual), each with time first (days since 0001-01-01 on the proleptic
Gregorian calendar, the middle of each month or year, with bounds) and the
sites last along the dimension site_id, which indexes them by id; the
fields' units, long names, standard names, cell methods and comments from
the results table. Decoded, as xarray opens those files."""
import datetime

import numpy as np
import xarray as xr

from . import _kelmar

TIME_UNITS = "days since 0001-01-01 00:00:00"
CALENDAR = "proleptic_gregorian"
_EPOCH = datetime.date(1, 1, 1).toordinal()
FILL_VALUE = 9.969209968386869e36  # the netCDF library's default for doubles, as the files hold
FLAG_FILL_VALUE = -1
NO_SEED = -1
GRASS_SOIL_DEPTH = 0.2  # m, the depth of tsoil
MEAN_OVER_DAYS = "time: mean (comment: months weighted by their days)"

# What tells the layers apart, as io/cf_netcdf.cpp writes it.
FIELD_NOTES = {
    "tsoil": (True, "soil under grass in the open, at 0.2 m depth: an input of the run (observed or simulated weather)"),
    "t_ms": (False, "mineral soil under the forest: the soil temperature under grass at 0.2 m plus the monthly "
                    "offset of the site's forest type; no single depth"),
    "t_ff": (False, "forest floor (litter and humus on top of the mineral soil), from the air and the mineral-soil "
                    "temperature; no single depth"),
    "w_ms_vol": (False, "mean over the upper 1 m of mineral soil"),
    "w_ms_mass": (False, "mean over the upper 1 m of mineral soil"),
}


def _days(year, month):
    """Days from 0001-01-01 to the first of `month` (13: January of the next year)."""
    year, month = year + (month - 1) // 12, (month - 1) % 12 + 1
    return float(datetime.date(int(year), int(month), 1).toordinal() - _EPOCH)


def _axis(long_name, bounds):
    middle = (bounds[:, 0] + bounds[:, 1]) / 2  # exact: whole or half days
    attrs = {"standard_name": "time", "long_name": long_name, "units": TIME_UNITS, "calendar": CALENDAR,
             "axis": "T", "bounds": "time_bnds"}
    return xr.Variable(("time",), middle, attrs), xr.Variable(("time", "nv"), bounds)


def _seeds(values):
    """int64, as the files hold seeds (NO_SEED where a site has none);
    uint64 for a pcg64 seed beyond it."""
    values = np.asarray(values)
    if values.dtype == object or (values.dtype.kind == "u" and values.size and values.max() >= 2**63):
        return values.astype(np.uint64)
    return values.astype(np.int64)


def _annual_means(years, months, values, ayears, avalues, fields):
    """The annual values: sums as the annual records hold them, means of
    the months weighted by their days in that calendar year."""
    out = np.array(avalues, dtype=float, copy=True)
    if not len(years):
        return out
    days = np.array([_days(y, m + 1) - _days(y, m) for y, m in zip(years, months)])
    row_of = {int(y): k for k, y in enumerate(ayears)}
    rows = np.array([row_of[int(y)] for y in years])
    weighted = np.zeros_like(out)
    total = np.zeros(len(out))
    np.add.at(weighted, rows, values * days[:, None])
    np.add.at(total, rows, days)
    for f, field in enumerate(fields):
        if field["annual"] == "mean":
            out[:, f] = weighted[:, f] / total
    return out


def dataset(site_ids, seeds, monthly, annual, realizations=False, extra_attrs=None, annual_file=False,
            params=None, precision="double", deflate=0):
    """The runs of `site_ids` (each a (years, months, values) triple of its
    monthly and annual records) on the time axis spanning all of them, as
    results.nc holds them (`annual_file`: as results_annual.nc); months a
    site has no record for are NaN. With `realizations`, the runs are the
    replicates of the one site in `site_ids`, along a dimension
    `realization` (CF standard_name realization, numbered from 0) before
    site_id. `params`: the site parameters by key of each site, or None.
    `precision` "single" holds the values as float32; `deflate` N > 0 asks
    to_netcdf() for deflate level N with shuffle, as the batch writes them."""
    single = precision == "single"
    fill = np.float32(FILL_VALUE) if single else FILL_VALUE
    years_of = [m[0] for m in monthly if len(m[0])]
    if not years_of:
        raise _kelmar.KelmarError("No site has results: a dataset needs at least one year.")
    first = int(min(y.min() for y in years_of))
    last = int(max(y.max() for y in years_of))
    span = last - first + 1
    fields = _kelmar.RESULT_FIELDS
    runs = len(monthly)
    sites = len(site_ids)
    if annual_file:
        steps = span
        bounds = np.array([[_days(first + y, 1), _days(first + y + 1, 1)] for y in range(span)])
    else:
        steps = span * 12
        bounds = np.array([[_days(first + t // 12, t % 12 + 1), _days(first + t // 12, t % 12 + 2)]
                           for t in range(steps)])
    values = np.full((steps, runs, len(fields)), np.nan)
    for r, ((years, months, mvalues), (ayears, _, avalues)) in enumerate(zip(monthly, annual)):
        if annual_file:
            values[ayears - first, r, :] = _annual_means(years, months, mvalues, ayears, avalues, fields)
        else:
            values[(years - first) * 12 + months - 1, r, :] = mvalues
    # time, then the realization where there is one, then the sites.
    dims = ("time", "realization", "site_id") if realizations else ("time", "site_id")
    shape = (steps, runs, 1) if realizations else (steps, sites)
    variables = {}
    for f, field in enumerate(fields):
        total = field["annual"] == "sum"
        long_name = field["long_name"]
        if annual_file:
            long_name = ("annual total of " if total else "annual mean of ") + long_name
        attrs = {"_FillValue": fill, "units": field["cf_units"], "long_name": long_name}
        if field["standard_name"]:
            attrs["standard_name"] = field["standard_name"]
        attrs["cell_methods"] = "time: sum" if total else MEAN_OVER_DAYS if annual_file else "time: mean"
        at_depth, comment = FIELD_NOTES.get(field["key"], (False, None))
        attrs["coordinates"] = "lat lon depth" if at_depth else "lat lon"
        if comment:
            attrs["comment"] = comment
        data = values[:, :, f].reshape(shape)
        variables[field["key"]] = xr.Variable(dims, data.astype(np.float32) if single else data, attrs)
    time, time_bnds = _axis("middle of the year" if annual_file else "middle of the month", bounds)
    variables["time"], variables["time_bnds"] = time, time_bnds
    variables["site_id"] = xr.Variable(("site_id",), np.array(site_ids, dtype=object),
                                       {"cf_role": "timeseries_id", "long_name": "site identifier"})
    for name, standard_name, units in (("lat", "latitude", "degrees_north"), ("lon", "longitude", "degrees_east")):
        variables[name] = xr.Variable(("site_id",), np.full(sites, FILL_VALUE),
                                      {"standard_name": standard_name, "long_name": standard_name, "units": units,
                                       "_FillValue": FILL_VALUE})
    seed_attrs = {"long_name": "state of the random source at the start of the run", "units": "1",
                  "comment": "-1 where no run was made (an observed record has realization 0 alone)",
                  "coordinates": "lat lon"}
    if realizations:
        variables["seed"] = xr.Variable(("realization", "site_id"), _seeds(seeds).reshape(runs, 1), seed_attrs)
    else:
        variables["seed"] = xr.Variable(("site_id",), _seeds(seeds[:sites]), seed_attrs)
    for k, field in enumerate(_kelmar.SITE_FIELDS):
        real = field["kind"] == "real"
        fill = FILL_VALUE if real else FLAG_FILL_VALUE
        given = [fill if p is None else p[field["key"]] for p in (params or [None] * sites)]
        attrs = {"long_name": "site parameter " + field["key"], "coordinates": "lat lon"}
        if real:
            attrs["units"] = "%" if field["unit"] == "vol_pct" else field["unit"]
        attrs["_FillValue"] = fill
        variables[field["key"]] = xr.Variable(("site_id",), np.array(given, dtype=np.float64 if real else np.int16),
                                              attrs)
    variables["depth"] = xr.Variable((), GRASS_SOIL_DEPTH,
                                     {"standard_name": "depth", "long_name": "depth of the soil temperature under grass",
                                      "units": "m", "positive": "down", "axis": "Z"})
    if realizations:
        variables["realization"] = xr.Variable(("realization",), np.arange(runs, dtype=np.int32),
                                               {"standard_name": "realization",
                                                "long_name": "replicate of the weather generator", "units": "1"})
    raw = xr.Dataset(variables,
                     attrs={"Conventions": "CF-1.8", "featureType": "timeSeries",
                            "title": "KELMAR soil temperature and moisture" + (", annual values" if annual_file
                                                                               else ", monthly values"),
                            "source": "KELMAR, run from Python", **(extra_attrs or {})})
    # Decoded as a reader of the files sees them: times as dates, cftime's
    # where numpy's datetime64 cannot hold them (before 1678).
    decoded = xr.decode_cf(raw, use_cftime=True if first < 1678 else None)
    for name in ("time", "time_bnds"):  # written back as the files have them
        decoded.variables[name].encoding.update(units=TIME_UNITS, calendar=CALENDAR, dtype="float64")
    if deflate:
        for field in fields:
            decoded[field["key"]].encoding.update(zlib=True, complevel=int(deflate), shuffle=True)
    return decoded
