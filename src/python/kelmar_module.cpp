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
#include "python/module/converters.h"
#include "python/module/module_units.h"

namespace py = pybind11;

namespace {

// The class kelmar.<name>, a KelmarError that is also Python's `builtin`.
py::object ErrorKind(py::module_& m, const char* name, const py::handle& error, PyObject* builtin) {
    const std::string qualified = std::string("kelmar.") + name;
    py::object kind = py::reinterpret_steal<py::object>(PyErr_NewException(
        qualified.c_str(), py::make_tuple(error, py::handle(builtin)).ptr(), nullptr));
    if (!kind) throw py::error_already_set();
    m.attr(name) = kind;
    return kind;
}

}  // namespace

PYBIND11_MODULE(_kelmar, m) {
    using namespace kelmar;
    using namespace kelmar::python;
    m.doc() = "The KELMAR model: records, readers and writers, runs and batches.";
    // Python's exception of every error the window and kelmar-cli show as
    // text, and its kinds that are Python's own kinds as well, so that
    // `except FileNotFoundError` catches a missing file as it would of open().
    static py::exception<KelmarError> error(m, "KelmarError");
    error.attr("__module__") = "kelmar";
    static py::object missingFile = ErrorKind(m, "KelmarFileNotFoundError", error, PyExc_FileNotFoundError);
    static py::object badValue = ErrorKind(m, "KelmarValueError", error, PyExc_ValueError);
    static py::object wrongType = ErrorKind(m, "KelmarTypeError", error, PyExc_TypeError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const MissingFileError& e) {
            PyErr_SetString(missingFile.ptr(), e.what());
        } catch (const BadValueError& e) {
            PyErr_SetString(badValue.ptr(), e.what());
        } catch (const WrongTypeError& e) {
            PyErr_SetString(wrongType.ptr(), e.what());
        } catch (const KelmarError& e) {
            PyErr_SetString(error.ptr(), e.what());
        }
    });
    // The category of the package's warnings: UserWarning's, so filters on that still apply.
    m.attr("KelmarWarning") = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc("kelmar.KelmarWarning", "A warning of KELMAR: its text is what kelmar-cli prints.",
                                  PyExc_UserWarning, nullptr));
    m.attr("__version__") = KELMAR_VERSION;

    m.attr("MISSING_VALUE") = MISSING_VALUE;
    m.attr("UNIFORMS_PER_SITE") = streams::UNIFORMS_PER_RUN;

    AddRecords(m);
    AddRuns(m);
    AddCheck(m);
    AddBatch(m);
    AddBatchFolder(m);
    AddGrid(m);
}
