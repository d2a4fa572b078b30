#include "python/module/run_warnings.h"

namespace kelmar::python {

void IssueWarnings(const std::vector<std::string>& texts) {
    for (const std::string& text : texts)
        if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) throw py::error_already_set();
}

}  // namespace kelmar::python
