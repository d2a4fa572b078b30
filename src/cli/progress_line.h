// The progress of a batch as the command line shows it on its error
// stream: one line redrawn in place in a terminal, a plain line every few
// seconds in a log, nothing with --quiet.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>

#include "app/progress.h"

namespace kelmar {

enum class ProgressStyle {
    None,      // --quiet
    Terminal,  // one line updated in place
    Plain,     // a line every few seconds, for logs
};

class ProgressLine {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `now` is the clock, replaceable for tests.
    ProgressLine(ProgressStyle style, std::ostream& err, Clock now = std::chrono::steady_clock::now);

    // The callback a batch reports to; never asks it to stop.
    bool operator()(const ProgressReport& report);

private:
    void Print(const ProgressReport& report, std::chrono::steady_clock::time_point at);

    ProgressStyle Style;
    std::ostream& Err;
    Clock Now;
    std::chrono::steady_clock::time_point Start, Last;
};

}  // namespace kelmar
