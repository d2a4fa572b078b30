#!/usr/bin/python3
"""Fills the generated blocks of README.md from what kelmar-cli prints now:
the column lines of the batch's tables (from tiny batches of the example
site) and the option lists of `kelmar-cli simulate --help`, `estimate
--help`, `batch --help`, `check --help`, `extract --help` and `map --help`, at the width of a help that
goes to no terminal (COLUMNS unset). A block stands between `<!-- generated: NAME -->` and
`<!-- end -->`; everything outside the blocks is left as it is.

    /usr/bin/python3 scripts/readme-tables.py build/src/cli/kelmar-cli
    /usr/bin/python3 scripts/readme-tables.py --check build/src/cli/kelmar-cli

With --check nothing is written: the script names every block that differs
(with a diff) and exits with 1."""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(REPOSITORY, "examples")
BLOCK = re.compile(r"(<!-- generated: ([a-z-]+) -->\n)(.*?)(<!-- end -->)", re.DOTALL)

# A launcher's variables would make the tiny batches take a share of
# themselves and leave the joining to a merge.
LAUNCHER_VARIABLES = ("SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_COUNT", "SLURM_PROCID", "SLURM_NTASKS",
                      "OMPI_COMM_WORLD_RANK", "OMPI_COMM_WORLD_SIZE", "PMI_RANK", "PMI_SIZE")


class Program:
    def __init__(self, path):
        self.path = path
        # COLUMNS would set the width the help is wrapped to.
        self.env = {k: v for k, v in os.environ.items() if k not in LAUNCHER_VARIABLES + ("COLUMNS",)}

    def run(self, *arguments, cwd=None, allowed=(0,)):
        done = subprocess.run([self.path, *arguments], cwd=cwd, env=self.env, capture_output=True, text=True)
        if done.returncode not in allowed:
            sys.exit(f"readme-tables: {self.path} {' '.join(arguments)} exited with {done.returncode}:\n"
                     f"{done.stderr}")
        return done.stdout


def options_section(help_text, command):
    """The lines after "Options:" up to the next empty line."""
    lines = help_text.splitlines()
    try:
        start = lines.index("Options:") + 1
    except ValueError:
        sys.exit(f"readme-tables: `kelmar-cli {command}` prints no \"Options:\" section")
    end = start
    while end < len(lines) and lines[end].strip():
        end += 1
    return [line.rstrip() for line in lines[start:end]]


def header_lines(tables):
    """`name  header` of each (folder, name) table, the names aligned."""
    width = max(len(name) for _, name in tables) + 2
    lines = []
    for folder, name in tables:
        with open(os.path.join(folder, name), encoding="utf-8") as table:
            lines.append(name.ljust(width) + table.readline().rstrip("\r\n"))
    return lines


def column_blocks(program):
    """Runs the example site (one of simulated weather, one failing) as a
    plain batch, with replicates and with a summary; gives their headers."""
    with tempfile.TemporaryDirectory(prefix="kelmar-readme.") as work:
        for name in ("soil.sit", "climat.cld"):
            shutil.copy(os.path.join(EXAMPLES, name), work)
        with open(os.path.join(work, "sites.csv"), "w", encoding="utf-8") as sites:
            sites.write("site_id,site_file,climate_file\nexample,soil.sit,climat.cld\nfailing,soil.sit,none.cld\n")
        runs = {"plain": [], "replicates": ["--replicates", "2"], "summary": ["--replicates", "2", "--summary"]}
        for out, extra in runs.items():
            # A failed site makes the batch exit with 1; it is there for errors.csv.
            program.run("batch", "--sites", "sites.csv", "--out", out, "--seed", "1", "--quiet", *extra,
                        cwd=work, allowed=(1,))
        plain, replicates, summary = (os.path.join(work, out) for out in runs)
        return {
            "batch-columns": header_lines([(plain, "monthly.csv"), (plain, "annual.csv"), (plain, "errors.csv")]),
            "ensemble-columns": header_lines([(replicates, "monthly.csv"), (replicates, "annual.csv"),
                                              (summary, "summary_monthly.csv"), (summary, "summary_annual.csv")]),
        }


def generated_blocks(program):
    blocks = column_blocks(program)
    blocks["cli-options"] = []
    for command in ("simulate", "estimate"):
        if blocks["cli-options"]:
            blocks["cli-options"].append("")
        blocks["cli-options"].append(f"kelmar-cli {command}:")
        blocks["cli-options"] += options_section(program.run(command, "--help"), f"{command} --help")
    for command in ("batch", "check", "extract", "map"):
        blocks[f"{command}-options"] = options_section(program.run(command, "--help"), f"{command} --help")
    return {name: "```text\n" + "\n".join(lines) + "\n```\n" for name, lines in blocks.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kelmar_cli", help="the built kelmar-cli")
    parser.add_argument("--check", action="store_true", help="compare only; exit with 1 when a block differs")
    parser.add_argument("--readme", default=os.path.join(REPOSITORY, "README.md"))
    args = parser.parse_args()

    wanted = generated_blocks(Program(os.path.abspath(args.kelmar_cli)))
    with open(args.readme, encoding="utf-8") as file:
        text = file.read()
    found = [match.group(2) for match in BLOCK.finditer(text)]
    problems = []
    for name in sorted(set(wanted) - set(found)):
        problems.append(f'{args.readme}: no block "<!-- generated: {name} -->" ... "<!-- end -->"')
    for name in sorted({n for n in found if n not in wanted or found.count(n) > 1}):
        problems.append(f'{args.readme}: the block "{name}" is unknown to this script or stands twice')
    if problems:
        sys.exit("\n".join(problems))

    def fill(match):
        return match.group(1) + wanted[match.group(2)] + match.group(4)

    if args.check:
        stale = [m for m in BLOCK.finditer(text) if m.group(3) != wanted[m.group(2)]]
        for match in stale:
            print(f'{args.readme}: the block "{match.group(2)}" differs from what kelmar-cli prints now:')
            sys.stdout.writelines(difflib.unified_diff(match.group(3).splitlines(True),
                                                       wanted[match.group(2)].splitlines(True),
                                                       "README.md", "kelmar-cli"))
        if stale:
            print(f"Run: /usr/bin/python3 scripts/readme-tables.py {args.kelmar_cli}")
            return 1
        return 0

    updated = BLOCK.sub(fill, text)
    if updated != text:
        # Replaced whole, so an interrupted run leaves the old README.
        temporary = args.readme + ".new"
        with open(temporary, "w", encoding="utf-8") as file:
            file.write(updated)
        os.replace(temporary, args.readme)
    print(f"{args.readme}: {len(found)} generated blocks, {'updated' if updated != text else 'unchanged'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
