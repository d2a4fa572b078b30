"""mypy (Debian's mypy) on the package kelmar as built, on a user's
script that uses its API under --strict, and on calls it must refuse: each
line of typed_misuse.py marked `# error: TEXT` must draw an error holding
TEXT, and no other line may. mypy's stubtest holds the stub _kelmar.pyi
against the extension (every name in both). Usage: check_types.py
PACKAGE_FOLDER, with the folder on PYTHONPATH for stubtest's import."""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CONFIG = os.path.join(HERE, "mypy.ini")
ALLOWLIST = os.path.join(HERE, "stubtest_allowlist.txt")


def run_lines(command):
    """The exit code and the output lines of a mypy command, the package found in the folder given."""
    run = subprocess.run([sys.executable, "-m", *command], capture_output=True, text=True,
                         env={**os.environ, "MYPYPATH": sys.argv[1]})
    return run.returncode, (run.stdout + run.stderr).splitlines()


def mypy(cache, *arguments):
    return run_lines(["mypy", "--config-file", CONFIG, "--cache-dir", cache, "--no-error-summary",
                      "--show-error-codes", *arguments])


def expected_errors(path):
    """{line number: text} of the lines marked `# error: TEXT`."""
    with open(path, encoding="utf-8") as source:
        return {number: match.group(1).strip() for number, line in enumerate(source, 1)
                if (match := re.search(r"#\s*error:\s*(.*)$", line))}


def main():
    failures = []
    with tempfile.TemporaryDirectory() as cache:
        for what, arguments in (("the package", ["-p", "kelmar"]),
                                ("the user's script", ["--strict", os.path.join(HERE, "typed_use.py")])):
            code, lines = mypy(cache, *arguments)
            if code != 0:
                failures.append(f"mypy on {what} exited {code}, wanted 0:\n  " + "\n  ".join(lines))

        code, lines = run_lines(["mypy.stubtest", "--mypy-config-file", CONFIG, "--allowlist", ALLOWLIST,
                                 "kelmar._kelmar"])
        if code != 0:
            failures.append(f"stubtest of _kelmar.pyi exited {code}, wanted 0:\n  " + "\n  ".join(lines))

        misuse = os.path.join(HERE, "typed_misuse.py")
        wanted = expected_errors(misuse)
        code, lines = mypy(cache, misuse)
        if code != 1:
            failures.append(f"mypy on typed_misuse.py exited {code}, wanted 1:\n  " + "\n  ".join(lines))
        errors = {}
        for line in lines:
            if match := re.match(r".*typed_misuse\.py:(\d+): error: (.*)$", line):
                errors.setdefault(int(match.group(1)), []).append(match.group(2))
        for number, text in sorted(wanted.items()):
            if not any(text in error for error in errors.get(number, [])):
                failures.append(f"typed_misuse.py:{number}: wanted an error holding {text!r}, "
                                f"mypy said {errors.get(number, 'nothing')}")
        for number in sorted(set(errors) - set(wanted)):
            failures.append(f"typed_misuse.py:{number}: an error on a line marked as sound: {errors[number]}")
    for failure in failures:
        print(failure)
    print(f"{len(wanted)} refused calls checked; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
