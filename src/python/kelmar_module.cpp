// _kelmar: the C++ side of the Python package kelmar. It holds the records
// (site, climatology, weather record), reads and writes them through the
// application's record files, and runs the model through the application's
// command sequences (single runs, ensembles, the generator check,
// batches); kelmar/__init__.py makes the tables (pandas, xarray) from the
// arrays it returns. Each part is a unit of module/.
#include <pybind11/pybind11.h>

#include "app/random_streams.h"
#include "basics/basics.h"
#include "model/errors.h"
#include "python/module/module_units.h"

namespace py = pybind11;

PYBIND11_MODULE(_kelmar, m) {
    using namespace kelmar;
    using namespace kelmar::python;
    m.doc() = "The KELMAR model: records, readers and writers, runs and batches.";
    // Python's exception of every error the window and kelmar-cli show as text.
    static py::exception<KelmarError> error(m, "KelmarError");
    error.attr("__module__") = "kelmar";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const KelmarError& e) {
            PyErr_SetString(error.ptr(), e.what());
        }
    });

    m.attr("MISSING_VALUE") = MISSING_VALUE;
    m.attr("UNIFORMS_PER_SITE") = streams::UNIFORMS_PER_RUN;

    AddRecords(m);
    AddRuns(m);
    AddCheck(m);
    AddBatch(m);
}
