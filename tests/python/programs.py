"""What the Python tests share: the programs and example files ctest names
(KELMAR_CLI, KELMAR_EXAMPLES), kelmar-cli run as a program, and its CSV
tables read back to the very doubles they hold."""
import os
import subprocess

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
