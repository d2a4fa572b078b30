// A long call that Ctrl-C stops: the work runs on a thread of its own while
// the interpreter's thread waits for it without the Python lock and looks
// for signals, which reach Python's handlers on the main thread only.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <functional>

namespace kelmar::python {

namespace py = pybind11;

// Runs `work` so: on a signal whose handler raises (Ctrl-C), `stop` is set,
// the work is to end soon by itself (what it has started may finish), and
// the handler's exception is raised once it has ended. The work must not
// touch Python objects; its own exception is raised when no signal came.
void RunStoppable(const std::function<void(const std::atomic<bool>& stop)>& work);

}  // namespace kelmar::python
