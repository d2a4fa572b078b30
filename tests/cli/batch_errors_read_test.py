"""errors.csv of kelmar-cli batch read by the readers people use.

Runs the program (argument 1) on a list of observed-weather sites, some of
which fail (a weather file that is not there, an id that needs quoting),
once plainly and once under a scenario list, whose messages have three
lines. Python's csv module, pandas, R's read.csv and data.table's fread
must each give every failed site as one row with its whole message, and
the file must hold one physical line per row.
"""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pandas as pd

PROGRAM = None   # set from the command line
EXAMPLES = None

# (id, weather_file): "absent.wed" fails.
SITES = [
    ("plot-1", "weather.wed"),
    ('odd, "id"', "absent.wed"),
    ("plot-2", "weather.wed"),
    ("gone", "absent.wed"),
]
FAILED = [site for site, weather in SITES if weather == "absent.wed"]


def r_rows(path, reader):
    """The rows R's `reader` gives, as (site_id, message) pairs."""
    script = (f"d <- {reader}; "
              "for (i in seq_len(nrow(d))) cat(d$site_id[i], '\\t', d$message[i], '\\x1e', sep = '')")
    done = subprocess.run(["Rscript", "-e", script], capture_output=True, text=True, encoding="utf-8",
                          env=dict(os.environ, KELMAR_ERRORS=path))
    if done.returncode != 0:
        raise AssertionError(f"Rscript with {reader} failed: {done.stderr}")
    return [tuple(record.split("\t", 1)) for record in done.stdout.split("\x1e") if record]


class ErrorsCsvTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="kelmar-errors-")
        with open(os.path.join(cls.scratch, "sites.csv"), "w", newline="") as f:
            writer = csv.writer(f, lineterminator="\n")
            writer.writerow(["site_id", "site_file", "climate_file", "weather_file"])
            for site, weather in SITES:
                writer.writerow([site, os.path.join(EXAMPLES, "soil.sit"), os.path.join(EXAMPLES, "climat.cld"),
                                 os.path.join(cls.scratch, weather) if weather == "absent.wed"
                                 else os.path.join(EXAMPLES, weather)])
        with open(os.path.join(cls.scratch, "scenarios.csv"), "w") as f:
            f.write("scenario,delta_t\nwarm,1\n")
        for out, extra in (("plain", []), ("scenarios", ["--scenarios", "scenarios.csv"])):
            done = subprocess.run([PROGRAM, "batch", "--sites", "sites.csv", "--out", out, "--seed", "1", "--quiet"]
                                  + extra, cwd=cls.scratch, capture_output=True, text=True)
            if done.returncode != 1:
                raise RuntimeError(f"the {out} batch gave {done.returncode}, not 1: {done.stderr}")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def check(self, out, lines_before_site):
        path = os.path.join(self.scratch, out, "errors.csv")
        with open(path, encoding="utf-8", newline="") as f:
            text = f.read()
        self.assertEqual(text.count("\n"), 1 + len(FAILED), f"{out}: not one physical line per row:\n{text}")
        self.assertNotIn("\r", text)
        with open(path, encoding="utf-8", newline="") as f:
            rows = [tuple(row) for row in csv.reader(f)]
        self.assertEqual(rows[0], ("site_id", "message"))
        rows = rows[1:]
        self.assertEqual([site for site, _ in rows], FAILED, out)
        for (site, message), line in zip(rows, (3, 5)):
            self.assertIn(f'for the site on line {line} of "sites.csv"', message, f"{out}: {message}")
            self.assertIn(lines_before_site, message, f"{out}: {message}")

        frame = pd.read_csv(path, dtype=str, keep_default_na=False)
        self.assertEqual(list(frame.itertuples(index=False, name=None)), rows, f"{out}: pandas")
        reader = "read.csv(Sys.getenv('KELMAR_ERRORS'), colClasses = 'character', encoding = 'UTF-8')"
        self.assertEqual(r_rows(path, reader), rows, f"{out}: {reader}")
        # fread (1.14) leaves a quoted field's doubled quotes doubled; rows
        # and fields it takes as the others do.
        reader = "data.table::fread(Sys.getenv('KELMAR_ERRORS'), colClasses = 'character', encoding = 'UTF-8')"
        self.assertEqual([(site.replace('""', '"'), message.replace('""', '"')) for site, message in r_rows(path, reader)],
                         rows, f"{out}: {reader}")

    def test_plain_messages(self):
        self.check("plain", " for the site")

    def test_messages_under_scenarios(self):
        self.check("scenarios", ' under the scenario "warm", replicate 0, for the site')


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    EXAMPLES = os.path.abspath(sys.argv.pop(1))
    unittest.main()
