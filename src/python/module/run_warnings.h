// The warnings of the readers and the runs, kept while the work runs
// without the Python lock and given to Python's warnings once it is held
// again.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "model/notifier.h"

namespace kelmar::python {

namespace py = pybind11;

class CollectingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { Texts.push_back(text); }
    std::vector<std::string> Texts;
};

// Each text as a kelmar.KelmarWarning (a UserWarning) at the line of the
// caller of the package; the lock must be held.
void IssueWarnings(const std::vector<std::string>& texts);

// Runs `work` without the Python lock, then gives its warnings to Python,
// also when it fails: a warning that came before the error (an estimate
// without regression coefficients) explains it, as kelmar-cli prints both.
template <typename Work>
void RunUnlocked(const CollectingNotifier& notifier, Work&& work) {
    try {
        py::gil_scoped_release unlocked;
        work();
    } catch (...) {
        IssueWarnings(notifier.Texts);
        throw;
    }
    IssueWarnings(notifier.Texts);
}

}  // namespace kelmar::python
