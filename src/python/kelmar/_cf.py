"""Runs as xarray Datasets with the CF conventions of the batch's results.nc
(io/cf_netcdf.h): time and year in days since 0001-01-01 on the proleptic
Gregorian calendar at the middle of each month or year, with bounds; the
fields' units, long names, standard names and cell methods from the results
table. Decoded, as xarray opens results.nc."""
import datetime

import numpy as np
import xarray as xr

from . import _kelmar

TIME_UNITS = "days since 0001-01-01 00:00:00"
CALENDAR = "proleptic_gregorian"
_EPOCH = datetime.date(1, 1, 1).toordinal()


def _days(year, month):
    """Days from 0001-01-01 to the first of `month` (13: January of the next year)."""
    year, month = year + (month - 1) // 12, (month - 1) % 12 + 1
    return float(datetime.date(int(year), int(month), 1).toordinal() - _EPOCH)


def _axis(name, long_name, bounds):
    middle = (bounds[:, 0] + bounds[:, 1]) / 2  # exact: whole or half days
    attrs = {"standard_name": "time", "long_name": long_name, "units": TIME_UNITS, "calendar": CALENDAR,
             "axis": "T", "bounds": name + "_bnds"}
    return xr.Variable((name,), middle, attrs), xr.Variable((name, "nv"), bounds)


def _seeds(values):
    """int64, as results.nc holds seeds; uint64 for a pcg64 seed beyond it."""
    values = np.asarray(values, dtype=np.uint64)
    return values.astype(np.int64) if values.max() < 2**63 else values


def dataset(site_ids, seeds, monthly, annual, realizations=False, extra_attrs=None):
    """The runs of `site_ids` (each a (years, months, values) triple of its
    monthly and annual records) on the time axis spanning all of them;
    months a site has no record for are NaN. With `realizations`, the runs
    are the replicates of the one site in `site_ids`, along a dimension
    `realization` (CF standard_name realization, numbered from 0)."""
    years_of = [m[0] for m in monthly if len(m[0])]
    if not years_of:
        raise _kelmar.KelmarError("No site has results: a dataset needs at least one year.")
    first = int(min(y.min() for y in years_of))
    last = int(max(y.max() for y in years_of))
    span = last - first + 1
    time_bounds = np.array([[_days(first + t // 12, t % 12 + 1), _days(first + t // 12, t % 12 + 2)]
                            for t in range(span * 12)])
    year_bounds = np.array([[_days(first + y, 1), _days(first + y + 1, 1)] for y in range(span)])
    fields = _kelmar.RESULT_FIELDS
    runs = len(monthly)
    monthly_values = np.full((runs, span * 12, len(fields)), np.nan)
    annual_values = np.full((runs, span, len(fields)), np.nan)
    for s, ((years, months, values), (ayears, _, avalues)) in enumerate(zip(monthly, annual)):
        monthly_values[s, (years - first) * 12 + months - 1, :] = values
        annual_values[s, ayears - first, :] = avalues
    one = runs == 1 and not realizations
    along = "realization" if realizations else "site"
    variables = {}
    for f, field in enumerate(fields):
        base = {"units": field["cf_units"]}
        annual_name = ("annual total of " if field["annual"] == "sum" else "annual mean of ") + field["long_name"]
        for name, long_name, dim, data in ((field["key"], field["long_name"], "time", monthly_values),
                                           (field["key"] + "_annual", annual_name, "year", annual_values)):
            attrs = dict(base, long_name=long_name)
            if field["standard_name"]:
                attrs["standard_name"] = field["standard_name"]
            attrs["cell_methods"] = "time: sum" if field["annual"] == "sum" else "time: mean"
            values = data[0, :, f] if one else data[:, :, f]
            variables[name] = xr.Variable((dim,) if one else (along, dim), values, attrs)
    time, time_bnds = _axis("time", "middle of the month", time_bounds)
    year, year_bnds = _axis("year", "middle of the year", year_bounds)
    coords = {"time": time, "year": year, "time_bnds": time_bnds, "year_bnds": year_bnds}
    site_attrs = {"cf_role": "timeseries_id", "long_name": "site identifier"}
    seed_attrs = {"long_name": "state of the random source at the start of the run", "units": "1"}
    if realizations:
        coords["realization"] = xr.Variable(("realization",), np.arange(runs, dtype=np.int64),
                                            {"standard_name": "realization", "long_name": "replicate of the ensemble",
                                             "units": "1"})
        coords["site_id"] = xr.Variable((), np.array(site_ids[0], dtype=object), site_attrs)
        coords["seed"] = xr.Variable(("realization",), _seeds(seeds), seed_attrs)
    elif one:
        coords["site_id"] = xr.Variable((), np.array(site_ids[0], dtype=object), site_attrs)
        coords["seed"] = xr.Variable((), _seeds(seeds[:1])[0], seed_attrs)
    else:
        coords["site_id"] = xr.Variable(("site",), np.array(site_ids, dtype=object), site_attrs)
        coords["seed"] = xr.Variable(("site",), np.asarray(seeds, dtype=np.int64), seed_attrs)
    raw = xr.Dataset(variables, coords=coords,
                     attrs={"Conventions": "CF-1.8", "featureType": "timeSeries",
                            "title": "KELMAR soil temperature and moisture",
                            "source": "KELMAR, run from Python", **(extra_attrs or {})})
    # Decoded as a reader of results.nc sees it: times as dates, cftime's
    # where numpy's datetime64 cannot hold them (before 1678).
    decoded = xr.decode_cf(raw, use_cftime=True if first < 1678 else None)
    for name in ("time", "year", "time_bnds", "year_bnds"):  # written back as results.nc has them
        decoded.variables[name].encoding.update(units=TIME_UNITS, calendar=CALENDAR, dtype="float64")
    return decoded
