// The scenarios of a batch: a comma-separated file (UTF-8, header row), one
// scenario a row, every site of the list run under each of them.
//
//     scenario,delta_t,precip_factor,variability,trend_t,trend_precip
//     none,0,1,,,
//     warm,2,0.9,,,
//     transient,,,,3,-10
//
// `scenario` (the name, written in the outputs' scenario column) comes
// first; the other columns are the keys of a scenario file, each optional.
// A key with twelve monthly values takes twelve columns named
// <key>_1 .. <key>_12 (January to December) instead of its one column. An
// empty cell leaves that key unchanged (0 for delta_t and the trends, 1 for
// the factors).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/site_list.h"
#include "model/scenario.h"

namespace kelmar::batch {

struct ScenarioList {
    std::string FileName;
    std::uint64_t Hash = 0;  // Fnv1a64 of the file's bytes: identifies the batch
    std::vector<TScenario> Scenarios;
    FormulaLabels FormulaNames;  // names a spreadsheet would take for formulas
};

// Reads and checks the whole file before any site runs: unknown or repeated
// columns, a key given both as one column and as monthly ones, an incomplete
// set of monthly columns, an empty or repeated name, a value that does not
// convert or that no run could take, a name that is not UTF-8 or holds a
// control character, a UTF-16 file (ValidateScenario): raises KelmarError
// listing each fault with its line. Whether a scenario suits a site (a
// variability factor with an observed record, a trend over a site's years)
// is left to that site's run.
ScenarioList ReadScenarioList(const std::string& fileName);
ScenarioList ParseScenarioList(const std::string& bytes, const std::string& fileName);

}  // namespace kelmar::batch
