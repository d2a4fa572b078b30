#include "python/module/progress_run.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace kelmar::python {

namespace {

// How often the interpreter's thread looks for Ctrl-C while a batch runs:
// often enough to feel immediate, seldom enough to cost nothing.
constexpr std::chrono::milliseconds SIGNAL_POLL{100};

}  // namespace

// Runs `work` on a thread of its own, without the Python lock, while the
// calling thread (the interpreter's) waits for it with the lock released:
// it takes each of the work's reports to `progress` (a callable of done,
// failed, total; none: no calls) with the lock held, and looks for Ctrl-C
// every SIGNAL_POLL (signals reach Python's handlers on the main thread
// only, so the worker cannot). A pending KeyboardInterrupt or an exception
// of `progress` makes the work's callback return false, so the work stops
// as a cancelled batch does; that exception is then raised here.
void RunWithProgress(const std::function<void(const ProgressCallback&)>& work, const py::object& progress) {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<ProgressReport> reports;
    bool finished = false;
    bool stop = false;
    const bool reporting = !progress.is_none();
    const ProgressCallback onProgress = [&](const ProgressReport& report) {
        std::lock_guard<std::mutex> guard(lock);
        // The last report repeats the counts of the one before it.
        if (reporting && !report.Finished) reports.push_back(report);
        wake.notify_one();
        return !stop;
    };

    std::exception_ptr workFailure;
    std::thread worker([&] {
        try {
            work(onProgress);
        } catch (...) {
            workFailure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
        wake.notify_one();
    });

    std::optional<py::error_already_set> raised;  // of Python: Ctrl-C or the callback's
    std::exception_ptr callbackFailure;           // of C++ on the way to the callback
    for (bool done = false; !done;) {
        std::deque<ProgressReport> ready;
        {
            py::gil_scoped_release unlocked;
            std::unique_lock<std::mutex> guard(lock);
            wake.wait_for(guard, SIGNAL_POLL, [&] { return finished || !reports.empty(); });
            ready.swap(reports);
            done = finished;
        }
        if (raised || callbackFailure) continue;  // stopping: the work's reports are no one's now
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            for (const ProgressReport& report : ready) {
                progress(report.Done, report.Failed, report.Total);
                // A Ctrl-C during the call stops the reports at once.
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            }
        } catch (py::error_already_set& e) {
            raised.emplace(std::move(e));
        } catch (...) {
            callbackFailure = std::current_exception();
        }
        if (raised || callbackFailure) {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
    }
    worker.join();  // finished already: the wait ended with it
    if (raised) throw std::move(*raised);
    if (callbackFailure) std::rethrow_exception(callbackFailure);
    if (workFailure) std::rethrow_exception(workFailure);
}

}  // namespace kelmar::python
