// How a long command (a batch) tells its caller how far it has come, and
// how the caller stops it: the command reports, the caller draws (the
// command line's progress line, a Python callback, the window's bar).
#pragma once

#include <cstdint>
#include <functional>

#include "model/errors.h"

namespace kelmar {

struct ProgressReport {
    std::int64_t Done = 0;     // sites finished, those of earlier runs (--resume) included
    std::int64_t Before = 0;   // of Done, those finished by earlier runs
    std::int64_t Failed = 0;   // sites of this run that failed
    std::int64_t Total = 0;    // sites of this run's share of the list
    bool Finished = false;     // the last report: nothing more runs
};

// Called on one thread at a time, in order: once when the first site
// starts (Done == Before), after every site, and once with Finished; keep it quick, the writer waits for it. Returning false asks
// the command to stop: the sites in flight end, what is finished is kept,
// and the command raises Cancelled.
using ProgressCallback = std::function<bool(const ProgressReport&)>;

// Raised by a command its progress callback stopped.
class Cancelled : public KelmarError {
public:
    using KelmarError::KelmarError;
};

}  // namespace kelmar
