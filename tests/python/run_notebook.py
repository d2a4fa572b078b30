"""examples/python/region.ipynb run by Debian's nbclient on a kernel of this
interpreter, with a few years per site: it must run through, draw its two
figures, be stored without outputs (clean diffs) and write nothing into the
source tree. Usage: run_notebook.py NOTEBOOK EXAMPLES_FOLDER."""
import json
import os
import sys
import tempfile

import nbclient
import nbformat

# Years per site: enough for a mean and a line, few enough for a quick test.
RUN_YEARS = 3


def files_under(folder):
    return {os.path.join(root, name) for root, _, names in os.walk(folder) for name in names
            if "__pycache__" not in root}


def main():
    path, examples = sys.argv[1], os.path.abspath(sys.argv[2])
    notebook = nbformat.read(path, as_version=4)
    failures = [f"cell {n} is stored with outputs or an execution count"
                for n, cell in enumerate(notebook.cells)
                if cell.cell_type == "code" and (cell.outputs or cell.execution_count is not None)]
    before = files_under(examples)
    with tempfile.TemporaryDirectory() as scratch:
        # A kernel of this interpreter (the module's), whatever python3 the PATH finds first.
        kernels = os.path.join(scratch, "jupyter", "kernels", "kelmar-test")
        os.makedirs(kernels)
        with open(os.path.join(kernels, "kernel.json"), "w") as kernel:
            json.dump({"argv": [sys.executable, "-m", "ipykernel_launcher", "-f", "{connection_file}"],
                       "display_name": "kelmar test", "language": "python"}, kernel)
        os.environ.update({"JUPYTER_PATH": os.path.join(scratch, "jupyter"), "TMPDIR": scratch,
                           "KELMAR_REGION_RUN_YEARS": str(RUN_YEARS), "KELMAR_EXAMPLES": examples})
        tempfile.tempdir = None  # TMPDIR read again
        client = nbclient.NotebookClient(notebook, timeout=600, kernel_name="kelmar-test",
                                         resources={"metadata": {"path": os.path.join(examples, "python")}})
        client.execute()
        written = [name for name in os.listdir(scratch) if name.startswith("kelmar-region-")]
        if len(written) != 1 or not os.path.isfile(os.path.join(scratch, written[0], "region", "sites.csv")):
            failures.append(f"the site list was not written into a temporary folder: {written}")
    figures = sum("image/png" in output.get("data", {}) for cell in notebook.cells if cell.cell_type == "code"
                  for output in cell.outputs)
    if figures != 2:
        failures.append(f"{figures} figures drawn, wanted 2 (the map and the years)")
    errors = [output for cell in notebook.cells if cell.cell_type == "code" for output in cell.outputs
              if output.get("name") == "stderr"]
    if errors:
        failures.append(f"the notebook wrote to stderr: {[e['text'] for e in errors]}")
    added = files_under(examples) - before
    if added:
        failures.append(f"the notebook wrote into the source tree: {sorted(added)}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
