// The full-precision table of a run (every monthly and annual record), as
// `simulate --table` writes it.
#pragma once

#include <string>

#include "model/model_state.h"

namespace kelmar {

// Writes the table of `model`'s run to `fileName` ("-": standard output);
// a file is replaced only once the new one is complete. Raises KelmarError
// naming the file when it cannot be written.
void WriteResultsTable(const std::string& fileName, const TModel& model);

}  // namespace kelmar
