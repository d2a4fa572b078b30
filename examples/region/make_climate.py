#!/usr/bin/env python3
"""Writes climate.nc: a small gridded monthly climate of the example region
(53 to 71 degrees north, 28 to 38 degrees east, 0.25 degree cells), laid
out as reanalysis land products come: CF netCDF, time in hours since 1900
on the standard calendar stamped at the first of each month, latitudes
from north to south, longitudes 0..360, values packed as 16-bit integers,
the sea left empty (_FillValue), and units as such products give them:

    t2m   2 m air temperature                 K
    tp    precipitation, the month's mean
          daily total                         m day-1
    stl2  soil temperature, 7-28 cm           K

The climate is made up but shaped as the region's: colder to the north,
more continental (a wider annual swing, less precipitation) to the east,
year-to-year weather that persists from month to month, and a warming of
0.03 K a year from 1980. A sea in the north-east (about where a real one
is) covers the cell of the sites at 65.5 degrees north, so they take the
nearest land cell. The numbers come from a fixed seed, so every run writes
the same file. Run it from this folder:

    python3 make_climate.py
"""
import numpy as np
from netCDF4 import Dataset, date2num

FIRST_YEAR, LAST_YEAR = 1951, 2020
CELL = 0.25  # degrees
LATS = np.round(np.arange(71.0, 53.0 - CELL / 2, -CELL), 2)  # north to south, degrees_north
LONS = np.round(np.arange(28.0, 38.0 + CELL / 2, CELL), 2)   # degrees_east, within 0..360
DAYS = np.array([31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31])


def days_in(year, month):
    leap = year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)
    return DAYS[month - 1] + (1 if month == 2 and leap else 0)


def sea(lat, lon):
    """True for cells of the made-up sea: an ellipse east of the sites, reaching
    the cell of the sites at 65.5 degrees north."""
    return ((lat - 65.6) / 1.0) ** 2 + ((lon - 36.0) / 1.8) ** 2 < 1.0


def climate(rng):
    years = LAST_YEAR - FIRST_YEAR + 1
    lat = LATS[:, None]
    lon = LONS[None, :]
    east = (lon - 28.0) / 10.0  # 0 west .. 1 east
    annual_t = 5.5 - 0.62 * (lat - 55.0) - 0.8 * east          # degC
    swing = 10.5 + 0.12 * (lat - 55.0) + 2.5 * east            # degC, half the July-January difference
    annual_p = 720.0 - 9.0 * (lat - 55.0) - 140.0 * east       # mm a year
    phase = 2 * np.pi * (np.arange(12) + 0.5 - 6.7) / 12       # warmest in the second half of July
    mean_t = annual_t[None] + swing[None] * np.cos(phase)[:, None, None]
    share_p = 1.0 + 0.45 * np.cos(2 * np.pi * (np.arange(12) + 0.5 - 7.2) / 12)  # wet late summer
    mean_p = annual_p[None] / 12.0 * (share_p / share_p.mean())[:, None, None]
    sd_t = 1.2 + 1.6 * (np.cos(2 * np.pi * (np.arange(12) + 0.5) / 12) + 1) / 2  # degC, wide in winter

    shape = (years * 12, len(LATS), len(LONS))
    tair = np.empty(shape)
    prec = np.empty(shape)
    tsoil = np.empty(shape)
    # Anomalies shared by the region (large-scale weather) with a smooth local part.
    anomaly = np.zeros(shape[1:])
    for k in range(shape[0]):
        year, month = FIRST_YEAR + k // 12, k % 12
        regional = rng.normal()
        local = rng.normal(size=shape[1:]) * 0.3
        anomaly = 0.45 * anomaly + np.sqrt(1 - 0.45 ** 2) * (regional + local) * sd_t[month]
        warming = 0.03 * max(0, year - 1980)
        tair[k] = mean_t[month] + anomaly + warming
        wet = np.exp(rng.normal() * 0.35 + rng.normal(size=shape[1:]) * 0.15 - 0.5 * 0.38 ** 2)
        prec[k] = mean_p[month] * wet * (1 - 0.02 * np.clip(anomaly, -3, 3))
        # Under snow the soil stays near freezing; in summer it follows the air, lagging and damped.
        frozen = tair[k] < 0
        tsoil[k] = np.where(frozen, -0.3 + 0.07 * tair[k], 0.9 * tair[k] + 0.8) + rng.normal(size=shape[1:]) * 0.3
    return tair, prec, tsoil


def packed(dataset, name, values, units, fill_mask, attributes):
    low, high = float(np.nanmin(values)), float(np.nanmax(values))
    scale = (high - low) / 65000.0 or 1.0
    offset = (high + low) / 2.0
    variable = dataset.createVariable(name, "i2", ("time", "latitude", "longitude"), fill_value=np.int16(-32767),
                                      zlib=True, chunksizes=(12, len(LATS), len(LONS)))
    variable.scale_factor = scale
    variable.add_offset = offset
    variable.units = units
    for key, value in attributes.items():
        setattr(variable, key, value)
    variable[:] = np.ma.masked_array(values, np.broadcast_to(fill_mask, values.shape))


def main():
    rng = np.random.default_rng(20261211)
    tair, prec, tsoil = climate(rng)
    months = [(FIRST_YEAR + k // 12, k % 12 + 1) for k in range(tair.shape[0])]
    per_day = np.array([days_in(y, m) for y, m in months], dtype=float)[:, None, None]
    mask = sea(LATS[:, None], LONS[None, :])

    with Dataset("climate.nc", "w", format="NETCDF4") as out:
        out.Conventions = "CF-1.8"
        out.title = "Made-up monthly climate of the example region"
        out.source = "examples/region/make_climate.py"
        out.createDimension("time", None)
        out.createDimension("latitude", len(LATS))
        out.createDimension("longitude", len(LONS))
        lon = out.createVariable("longitude", "f4", ("longitude",))
        lon.units, lon.standard_name, lon.long_name = "degrees_east", "longitude", "longitude"
        lon[:] = LONS
        lat = out.createVariable("latitude", "f4", ("latitude",))
        lat.units, lat.standard_name, lat.long_name = "degrees_north", "latitude", "latitude"
        lat[:] = LATS
        time = out.createVariable("time", "i4", ("time",))
        time.units, time.calendar, time.standard_name = "hours since 1900-01-01 00:00:00.0", "gregorian", "time"
        from datetime import datetime
        time[:] = date2num([datetime(y, m, 1) for y, m in months], time.units, time.calendar)
        packed(out, "t2m", tair + 273.15, "K", mask,
               {"standard_name": "air_temperature", "long_name": "2 metre temperature"})
        packed(out, "tp", prec / 1000.0 / per_day, "m day-1", mask,
               {"long_name": "Total precipitation, the month's mean of daily totals"})
        packed(out, "stl2", tsoil + 273.15, "K", mask,
               {"standard_name": "soil_temperature", "long_name": "Soil temperature level 2 (7-28 cm)"})


if __name__ == "__main__":
    main()
