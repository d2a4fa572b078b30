#!/usr/bin/env python3
"""Writes the inputs of the extraction benchmark into the working folder:
tas.nc and pr.nc, a 0.5-degree global monthly grid (360 x 720 cells, float32,
chunked a month at a time as model output often is, noleap calendar) of
YEARS years of made-up weather, and sites.csv, SITES random positions
between 60 S and 80 N.

    python3 bench/make_global_grid.py YEARS SITES
"""
import sys

import numpy as np
from netCDF4 import Dataset

MONTH_START = [0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334]  # day of the year, noleap


def main(years, sites):
    months = years * 12
    lats = np.arange(89.75, -90, -0.5)
    lons = np.arange(0.25, 360, 0.5)
    rng = np.random.default_rng(1)
    for name, standard_name, units in (("tas", "air_temperature", "K"), ("pr", "precipitation_flux", "kg m-2 s-1")):
        with Dataset(f"{name}.nc", "w") as out:
            out.createDimension("time", None)
            out.createDimension("lat", len(lats))
            out.createDimension("lon", len(lons))
            time = out.createVariable("time", "f8", ("time",))
            time.units, time.calendar = "days since 1981-01-01", "noleap"
            time[:] = [(k // 12) * 365 + MONTH_START[k % 12] + 14 for k in range(months)]
            lat = out.createVariable("lat", "f8", ("lat",))
            lat.units = "degrees_north"
            lat[:] = lats
            lon = out.createVariable("lon", "f8", ("lon",))
            lon.units = "degrees_east"
            lon[:] = lons
            values = out.createVariable(name, "f4", ("time", "lat", "lon"), chunksizes=(1, len(lats), len(lons)))
            values.standard_name, values.units = standard_name, units
            # Weather that varies from year to year, so that a climatology can be
            # estimated from every cell's record: a smooth seasonal course and noise.
            plane = (len(lats), len(lons))
            for k in range(months):
                season = np.cos(2 * np.pi * (k % 12 - 6.5) / 12)
                if name == "tas":
                    values[k] = (280.0 + 10.0 * season + 2.0 * rng.normal(size=plane)).astype("f4")
                else:  # about 53 mm a month
                    values[k] = (2e-5 * np.exp(0.4 * rng.normal(size=plane) - 0.08)).astype("f4")
    with open("sites.csv", "w") as out:
        out.write("site_id,lat,lon\n")
        for i in range(sites):
            out.write(f"s{i},{rng.uniform(-60, 80):.3f},{rng.uniform(-180, 180):.3f}\n")


if __name__ == "__main__":
    main(int(sys.argv[1]), int(sys.argv[2]))
