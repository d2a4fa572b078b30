// The netCDF reader behind io/climate_grid.h; built into the netCDF module
// (and into the programs that link the module's code) only.
#pragma once

#include "io/climate_grid.h"

namespace kelmar {

// Opens the grid files as OpenClimateGrid describes.
std::unique_ptr<ClimateGrid> OpenNetcdfClimateGrid(const ClimateGridRequest& request);

}  // namespace kelmar
