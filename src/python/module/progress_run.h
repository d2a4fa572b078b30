// A batch's work run with its progress given to a Python callable and
// Ctrl-C stopping it: signals reach Python's handlers on the main thread
// only, so the work runs on a thread of its own.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

#include "app/progress.h"

namespace kelmar::python {

namespace py = pybind11;

// Runs `work` (handed the callback to give its reports to) without the
// Python lock; `progress` is a Python callable of done, failed, total, or
// None. A Ctrl-C or an exception of `progress` makes the callback return
// false, so the work stops as a cancelled batch does, and is raised once the
// work has ended; otherwise the work's own exception is raised.
void RunWithProgress(const std::function<void(const ProgressCallback&)>& work, const py::object& progress);

}  // namespace kelmar::python
