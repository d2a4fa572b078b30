"""`import kelmar` where the extension or numpy does not load: the error
keeps its kind and text and adds which interpreter the extension was built
for and how to build for this one."""
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import kelmar
from kelmar import _build

PACKAGE = os.path.dirname(kelmar.__file__)


def test_the_build_records_the_interpreter_running_the_tests():
    # ctest runs these tests with the interpreter CMake built the module for.
    assert os.path.realpath(_build.PYTHON_EXECUTABLE) == os.path.realpath(sys.executable)
    assert _build.PYTHON_VERSION == f"{sys.version_info.major}.{sys.version_info.minor}"


def package_without_extension(folder):
    """A copy of the package without its compiled extension."""
    shutil.copytree(PACKAGE, folder / "kelmar", ignore=shutil.ignore_patterns("_kelmar*.so", "__pycache__"))
    return folder


def fake_numpy_first(folder):
    """The package as built, behind a numpy that fails to import as one built for another Python does."""
    (folder / "numpy").mkdir()
    (folder / "numpy" / "__init__.py").write_text('raise ImportError("numpy built for another Python")\n')
    return folder


@pytest.mark.parametrize("make, kind, original", [
    (package_without_extension, "ImportError", "cannot import name '_kelmar' from partially initialized module"),
    (fake_numpy_first, "ImportError", "numpy built for another Python"),
])
def test_a_failed_import_names_the_interpreter_built_for(tmp_path, make, kind, original):
    folder = make(tmp_path)
    path = os.pathsep.join([str(folder), os.path.dirname(PACKAGE)])
    script = textwrap.dedent("""
        try:
            import kelmar
        except ImportError as error:
            print(type(error).__name__)
            print(error)
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         env={**os.environ, "PYTHONPATH": path})
    lines = run.stdout.splitlines()
    # Python's own kind and text first, as without the hint.
    assert len(lines) > 2 and lines[0] == kind and lines[1].startswith(original), run.stdout + run.stderr
    hint = " ".join(lines[2:])
    for wanted in (f"built for Python {_build.PYTHON_VERSION} ({_build.PYTHON_EXECUTABLE})",
                   f"this is Python {sys.version_info.major}.{sys.version_info.minor} ({sys.executable})",
                   f"-DPYTHON_EXECUTABLE={sys.executable}"):
        assert wanted in hint, f"{wanted!r} not in the hint {hint!r}"
