#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace kelmar {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

struct Step {
    std::chrono::milliseconds At;  // since the start report
    std::int64_t Done;
    std::int64_t Failed;
    bool Finished;
};

// What each style writes for one batch of 10 sites, 2 finished before
// (--resume), reported at the given moments.
std::string Draw(ProgressStyle style, const std::vector<Step>& steps) {
    std::ostringstream err;
    Time now{};
    ProgressLine line(style, err, [&now] { return now; });
    now += 3s;  // reading the list before the first site: not in the rate
    ProgressReport report;
    report.Total = 10;
    report.Done = report.Before = 2;
    EXPECT_TRUE(line(report));
    const Time start = now;
    for (const Step& step : steps) {
        now = start + step.At;
        report.Done = step.Done;
        report.Failed = step.Failed;
        report.Finished = step.Finished;
        EXPECT_TRUE(line(report)) << "the command line never stops a batch";
    }
    return err.str();
}

TEST(ProgressLine, EachStyleDrawsAtItsPaceAndEndsWithTheTotals) {
    const std::vector<Step> steps = {{100ms, 3, 0, false},  // too soon after the start for either
                                     {1000ms, 6, 1, false},
                                     {6000ms, 8, 1, false},
                                     {8000ms, 10, 1, true}};
    struct Case {
        ProgressStyle Style;
        std::string Expected;
    } cases[] = {
        {ProgressStyle::None, ""},
        {ProgressStyle::Terminal,
         "\r\x1b[Ksites 6/10, 4.0 sites/s, 1 s left, 1 failed"
         "\r\x1b[Ksites 8/10, 1.0 sites/s, 2 s left, 1 failed"
         "\r\x1b[Ksites 10/10, 1.0 sites/s, 1 failed\n"},
        {ProgressStyle::Plain,
         "sites 8/10, 1.0 sites/s, 2 s left, 1 failed\n"
         "sites 10/10, 1.0 sites/s, 1 failed\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Draw(c.Style, steps), c.Expected) << "style " << static_cast<int>(c.Style);
}

}  // namespace
}  // namespace kelmar
