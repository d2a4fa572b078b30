#!/usr/bin/env python3
"""Writes sites.csv: a few hundred forest sites across a latitude gradient
(55 to 69 degrees north) and a moisture gradient (dry sandy to wet loamy
soils), each with its site parameters as columns, all driven by the example
climatology with simulated weather. Run it from this folder:

    python3 make_sites.py && ../../build/src/cli/kelmar-cli batch --sites sites.csv --out out --seed 1

It also writes sites_grid.csv, the same sites with their weather from
stations.csv, the records `kelmar-cli extract` takes from the gridded
climate of make_climate.py (see the README's "Regional climate in").
"""
import csv

LATITUDES = [55.0 + 0.5 * k for k in range(29)]  # degrees north, 55..69
MOISTURE_STEPS = 10                              # dry to wet

# Water contents of the mineral soil (vol.%) at the dry and the wet end.
DRY = {"W_WP_ms": 3.0, "W_FC_ms": 12.0, "W_Sat_ms": 38.0, "Wv0_ms": 10.0, "D_ms": 1.55}
WET = {"W_WP_ms": 9.0, "W_FC_ms": 34.0, "W_Sat_ms": 50.0, "Wv0_ms": 30.0, "D_ms": 1.15}

COLUMNS = ["site_id", "Lat", "M_ff", "D_ff", "W_WP_ff", "W_FC_ff", "W_Sat_ff", "D_ms", "W_WP_ms", "W_FC_ms",
           "W_Sat_ms", "Wv0_ms", "Corr", "Saturat", "Permafr", "Fortype"]


def sites():
    """Each site's columns, then its position (lat, lon)."""
    for i, lat in enumerate(LATITUDES):
        for m in range(MOISTURE_STEPS):
            share = m / (MOISTURE_STEPS - 1)  # 0 dry .. 1 wet
            soil = {key: round(DRY[key] + share * (WET[key] - DRY[key]), 3) for key in DRY}
            fortype = 2 if share < 0.3 else 1  # pine on the dry soils, spruce elsewhere
            forest_floor = round(2.0 + 2.5 * share + 0.05 * (lat - 55), 3)  # kg/m^2
            yield ([f"lat{lat:04.1f}_m{m}", lat, forest_floor, 0.08, 8, 45, 85,
                    soil["D_ms"], soil["W_WP_ms"], soil["W_FC_ms"], soil["W_Sat_ms"], soil["Wv0_ms"],
                    1.6, 1 if share == 1 else 0, 0, fortype], [lat, round(30.0 + 0.2 * i, 2)])


for name, source_column, source in (("sites.csv", "climate_file", "../climat.cld"),
                                    ("sites_grid.csv", "weather_file", "stations.csv")):
    with open(name, "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(COLUMNS + [source_column, "lat", "lon"])
        for columns, position in sites():
            writer.writerow(columns + [source] + position)
