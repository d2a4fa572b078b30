// Finds the grid reader: linked into the program, or in the netCDF module.
#include <string>

#include "io/climate_grid.h"
#include "io/netcdf_module_symbol.h"
#include "model/errors.h"

namespace kelmar {

namespace {

ClimateGridMaker& LinkedMaker() {
    static ClimateGridMaker maker = nullptr;
    return maker;
}

}  // namespace

void LinkClimateGridReader(ClimateGridMaker maker) { LinkedMaker() = maker; }

ClimateGridMaker LoadClimateGridReader() {
    if (LinkedMaker()) return LinkedMaker();
    // Looked for once; a program without the module says why at each use.
    static const NetcdfModuleSymbol module =
        FindNetcdfModuleSymbol("kelmar_open_climate_grid", "no grid file can be read");
    if (!module.Symbol) throw KelmarError(module.Missing);
    return reinterpret_cast<ClimateGridMaker>(module.Symbol);
}

std::unique_ptr<ClimateGrid> OpenClimateGrid(const ClimateGridRequest& request) {
    return std::unique_ptr<ClimateGrid>(LoadClimateGridReader()(request));
}

}  // namespace kelmar
