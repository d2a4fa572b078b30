// The commands of kelmar-cli: the same sequences of operations as the
// window's commands, with the file dialogs answered from the options.
#pragma once

#include <ostream>

#include "app/generator_check.h"
#include "cli/cli_options.h"

namespace kelmar::cli {

// Exit statuses.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;  // a file or a run failed
inline constexpr int EXIT_USAGE = 2;   // the command line cannot be understood

int RunSimulate(const CliOptions& options, std::ostream& out, std::ostream& err);
int RunEstimate(const CliOptions& options, std::ostream& out, std::ostream& err);
// `stderrIsTerminal` chooses the progress line updated in place over plain lines.
int RunBatchCommand(const CliOptions& options, std::ostream& out, std::ostream& err, bool stderrIsTerminal);
int RunMergeCommand(const CliOptions& options, std::ostream& out, std::ostream& err);
// `figure` draws check.png and check.svg; without one (a build without the
// window's libraries) only check.csv is written, and a note says why.
// A completed check exits with EXIT_OK whatever its verdicts.
int RunCheckCommand(const CliOptions& options, std::ostream& out, std::ostream& err, CheckFigureWriter* figure);

}  // namespace kelmar::cli
