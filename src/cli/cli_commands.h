// The commands of kelmar-cli: the same sequences of operations as the
// window's commands, with the file dialogs answered from the options.
#pragma once

#include <ostream>
#include <string>

#include "app/generator_check.h"
#include "app/region/region_map.h"
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
// Failed sites are named on `err` and exit EXIT_FAILED once the others are written.
int RunExtractCommand(const CliOptions& options, std::ostream& out, std::ostream& err);
// `figure` draws check.png and check.svg; without one only check.csv is
// written, and a note says why: `whyNoFigure` (say, the figure module could
// not be loaded), or when empty, that the build lacks the window's libraries.
// A completed check exits with EXIT_OK whatever its verdicts.
int RunCheckCommand(const CliOptions& options, std::ostream& out, std::ostream& err, CheckFigureWriter* figure,
                    const std::string& whyNoFigure = "");
// Computes the map of the batch and draws it through `writer` (the module
// kelmar-region-map); without one, the map's faults are still reported and
// the command fails with `whyNoWriter`. Writes nothing on any fault.
int RunMapCommand(const CliOptions& options, std::ostream& out, std::ostream& err, region::RegionMapWriter* writer,
                  const std::string& whyNoWriter);

}  // namespace kelmar::cli
