"""What the Python tests share: the programs and example files ctest names
(KELMAR_CLI, KELMAR_EXAMPLES), kelmar-cli run as a program, and its CSV
tables read back to the very doubles they hold, and its netCDF files
compared but for the second they were made."""
import os
import re
import subprocess

import numpy as np
import pandas as pd

CLI = os.environ["KELMAR_CLI"]
EXAMPLES = os.environ["KELMAR_EXAMPLES"]
SITE = os.path.join(EXAMPLES, "soil.sit")
CLIMATE = os.path.join(EXAMPLES, "climat.cld")
WEATHER = os.path.join(EXAMPLES, "weather.wed")  # 1961..1990


def cli(*args, cwd=None, expect=0):
    """Runs kelmar-cli and holds its exit status to `expect`."""
    done = subprocess.run([CLI, *args], cwd=cwd, capture_output=True, text=True)
    assert done.returncode == expect, f"kelmar-cli {' '.join(args)} gave {done.returncode}: {done.stderr}"
    return done


def read_exact(path):
    """A CSV table of kelmar-cli with every number read back exactly."""
    return pd.read_csv(path, float_precision="round_trip", keep_default_na=False, dtype={"site_id": object})


# The netCDF files' history attribute: the second they were made.
MADE_AT = re.compile(rb"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ created by")


def netcdf_differences(mine, theirs):
    """The places where two netCDF files differ beyond the second they were
    made: the history's time, and the 4-byte checksum of the HDF5 object
    header that holds it, are let pass."""
    if len(mine) != len(theirs):
        return [f"{len(mine)} bytes against {len(theirs)}"]
    differ = np.flatnonzero(np.frombuffer(mine, np.uint8) != np.frombuffer(theirs, np.uint8))
    for found in MADE_AT.finditer(mine):
        differ = differ[(differ < found.start()) | (differ >= found.end())]
    return [] if len(differ) == 0 or differ[-1] - differ[0] < 4 else differ.tolist()[:10]
