// The netCDF reader behind io/cf_results.h; built into the netCDF module
// (and into the programs that link the module's code) only.
#pragma once

#include "io/cf_results.h"

namespace kelmar {

// Opens a results file as OpenCfResults describes.
std::unique_ptr<CfResults> OpenNetcdfCfResults(const std::string& file);

}  // namespace kelmar
