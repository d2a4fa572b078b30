// The name under which "Save file" writes the results.
#pragma once

#include <string>

namespace kelmar {

// The chosen name with ".csv" appended unless its extension is exactly ".csv"
// (out.CSV becomes out.CSV.csv), then moved off existing files: for k = 1..1024
// in turn, an existing name becomes its stem followed by k and ".csv", so the
// digits accumulate (results.csv, results1.csv, results12.csv, ...). A derived
// name stays in the folder the user chose.
std::string ResultsFileName(const std::string& chosenName);

}  // namespace kelmar
