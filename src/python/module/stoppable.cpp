#include "python/module/stoppable.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace kelmar::python {

namespace {

// How often the waiting thread looks for Ctrl-C: often enough to feel
// immediate, seldom enough to cost nothing.
constexpr std::chrono::milliseconds SIGNAL_POLL{100};

}  // namespace

void RunStoppable(const std::function<void(const std::atomic<bool>& stop)>& work) {
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable wake;
    bool finished = false;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(stop);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
        wake.notify_one();
    });
    std::optional<py::error_already_set> raised;
    for (bool done = false; !done;) {
        {
            py::gil_scoped_release unlocked;
            std::unique_lock<std::mutex> guard(lock);
            wake.wait_for(guard, SIGNAL_POLL, [&] { return finished; });
            done = finished;
        }
        if (!raised && PyErr_CheckSignals() != 0) {
            raised.emplace();  // takes the handler's exception
            stop = true;
        }
    }
    worker.join();  // finished already: the wait ended with it
    if (raised) throw std::move(*raised);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace kelmar::python
