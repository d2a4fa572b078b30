#include "python/module/run_warnings.h"

namespace kelmar::python {

void IssueWarnings(const std::vector<std::string>& texts) {
    if (texts.empty()) return;
    // The package knows its own frames: the warning names its caller's line.
    const py::object warn = py::module_::import("kelmar").attr("_warn");
    for (const std::string& text : texts) warn(text);
}

}  // namespace kelmar::python
