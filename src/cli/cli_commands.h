// The commands of kelmar-cli: the same sequences of operations as the
// window's commands, with the file dialogs answered from the options.
#pragma once

#include <ostream>

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

}  // namespace kelmar::cli
