// How a running batch stops: the first error, or the caller's wish through
// its progress callback (app/progress.h), which is told of every finished site.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/progress.h"

namespace kelmar::batch {

// Shared by the pipeline's stages and the recorder's thread.
class BatchStop {
public:
    // Stops the batch for `what`; the first error is the one reported.
    void Fail(const char* what) {
        std::lock_guard<std::mutex> guard(Lock);
        if (First.empty()) First = what;
        Stop.store(true);
    }
    // Stops the batch as its caller asked.
    void Cancel() {
        WasCancelled.store(true);
        Stop.store(true);
    }
    bool Stopped() const { return Stop.load(); }
    bool Cancelled() const { return WasCancelled.load(); }
    // The first error; read once every thread has ended.
    const std::string& Error() const { return First; }

private:
    std::atomic<bool> Stop{false}, WasCancelled{false};
    std::mutex Lock;
    std::string First;
};

// Counts the finished sites and reports them to the caller's callback,
// which may ask the batch to stop.
class ProgressReporter {
public:
    ProgressReporter(const ProgressCallback& callback, std::int64_t total, std::int64_t alreadyDone)
        : Callback(callback) {
        Report.Total = total;
        Report.Done = Report.Before = alreadyDone;
    }
    // Before the first site runs; false: the caller asked to stop.
    bool Start() { return !Callback || Callback(Report); }
    // From the writer, one site at a time; false: the caller asked to stop.
    bool SiteDone(bool failed) {
        ++Report.Done;
        if (failed) ++Report.Failed;
        return !Callback || Callback(Report);
    }
    void Finish() {
        Report.Finished = true;
        if (Callback) Callback(Report);
    }

private:
    const ProgressCallback& Callback;
    ProgressReport Report;
};

}  // namespace kelmar::batch
