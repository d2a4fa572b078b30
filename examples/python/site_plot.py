#!/usr/bin/env python3
"""Runs the example site on the example weather record (its soil-temperature
gaps filled from the example climatology) and plots the soil temperature and
moisture of the forest floor and the mineral soil into soil_climate.png.

    PYTHONPATH=../../build/python /usr/bin/python3 site_plot.py
"""
import os

import matplotlib

matplotlib.use("Agg")  # no display needed: the figure goes to a file
import matplotlib.pyplot as plt
import pandas as pd

import kelmar

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.dirname(HERE)

result = kelmar.simulate(os.path.join(EXAMPLES, "soil.sit"), climate=os.path.join(EXAMPLES, "climat.cld"),
                         weather=os.path.join(EXAMPLES, "weather.wed"), seed=1)
monthly = result.monthly
dates = pd.to_datetime(dict(year=monthly["year"], month=monthly["month"], day=15))

fig, (temperature, moisture) = plt.subplots(2, 1, sharex=True, figsize=(10, 6))
temperature.plot(dates, monthly["t_ff_degC"], label="forest floor")
temperature.plot(dates, monthly["t_ms_degC"], label="mineral soil")
temperature.set_ylabel("temperature (°C)")
temperature.legend(loc="upper right")
moisture.plot(dates, monthly["w_ff_vol_pct"], label="forest floor")
moisture.plot(dates, monthly["w_ms_vol_pct"], label="mineral soil")
moisture.set_ylabel("moisture (vol.%)")
moisture.legend(loc="upper right")
fig.suptitle(f"Example site, observed weather {monthly['year'].min()}-{monthly['year'].max()} (seed {result.seed})")
fig.tight_layout()
out = os.path.join(os.getcwd(), "soil_climate.png")
fig.savefig(out, dpi=100)
print(f"wrote {out}")
print(result.annual[["year", "t_ff_degC", "t_ms_degC", "w_ms_vol_pct", "prec_mm"]].describe().loc[["mean", "min", "max"]])
