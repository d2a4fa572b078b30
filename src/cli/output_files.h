// Checks on the files a kelmar-cli command writes, made before anything is
// read or run.
#pragma once

#include "cli/cli_options.h"

namespace kelmar::cli {

// Raises UsageError when an output (--results, --table, --output, and the
// files check writes into --out) would
// overwrite a file the command reads (--site, --climate, --weather, --grid, under
// the names the readers look for) or another output.
void RefuseOutputsOverInputs(const CliOptions& options);

// Whether an output goes to standard output ("-"); the command's report line
// then goes to standard error so that it does not mix with the data.
bool WritesToStandardOutput(const CliOptions& options);

}  // namespace kelmar::cli
