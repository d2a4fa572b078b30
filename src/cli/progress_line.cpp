#include "cli/progress_line.h"

#include <cmath>
#include <cstdio>

namespace kelmar {

namespace {

// Seconds between progress lines: often enough to look alive in a
// terminal, rarely enough not to flood a log file.
constexpr double TERMINAL_INTERVAL = 0.25;
constexpr double PLAIN_INTERVAL = 5.0;

}  // namespace

ProgressLine::ProgressLine(ProgressStyle style, std::ostream& err, Clock now)
    : Style(style), Err(err), Now(std::move(now)), Start(Now()), Last(Start) {}

bool ProgressLine::operator()(const ProgressReport& report) {
    if (Style == ProgressStyle::None) return true;
    const auto now = Now();
    if (report.Done == report.Before && !report.Finished) {  // the start: the rate counts from here
        Start = Last = now;
        return true;
    }
    if (!report.Finished) {
        const double interval = Style == ProgressStyle::Terminal ? TERMINAL_INTERVAL : PLAIN_INTERVAL;
        if (std::chrono::duration<double>(now - Last).count() < interval) return true;
        Last = now;
    }
    Print(report, now);
    return true;
}

void ProgressLine::Print(const ProgressReport& report, std::chrono::steady_clock::time_point at) {
    const double seconds = std::chrono::duration<double>(at - Start).count();
    const std::int64_t ran = report.Done - report.Before;
    const double rate = seconds > 0 ? static_cast<double>(ran) / seconds : 0.0;
    char text[160];
    int length = std::snprintf(text, sizeof text, "sites %lld/%lld, %.1f sites/s", static_cast<long long>(report.Done),
                               static_cast<long long>(report.Total), rate);
    if (!report.Finished && rate > 0) {
        const double left = static_cast<double>(report.Total - report.Done) / rate;
        length += std::snprintf(text + length, sizeof text - length, ", %.0f s left", std::ceil(left));
    }
    std::snprintf(text + length, sizeof text - length, ", %lld failed", static_cast<long long>(report.Failed));
    if (Style == ProgressStyle::Terminal)
        Err << "\r\x1b[K" << text << (report.Finished ? "\n" : "") << std::flush;
    else
        Err << text << '\n' << std::flush;
}

}  // namespace kelmar
