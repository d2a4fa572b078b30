// Finds the grid reader: linked into the program, or in the netCDF module.
#include <string>

#include "io/climate_grid.h"
#include "io/program_module.h"
#include "model/errors.h"

namespace kelmar {

namespace {

ClimateGridMaker& LinkedMaker() {
    static ClimateGridMaker maker = nullptr;
    return maker;
}

struct ModuleMaker {
    ClimateGridMaker Maker = nullptr;
    std::string Missing;
};

ModuleMaker FindModule() {
    const std::string name = KELMAR_NETCDF_MODULE;
    const ProgramModule module = LoadProgramModule(name, KELMAR_NETCDF_MODULE_DIR, "kelmar_open_climate_grid");
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the netCDF module " + name + " is looked for, is unknown (" +
                             module.Unknown + ")"};
    if (module.Symbol) return {reinterpret_cast<ClimateGridMaker>(module.Symbol), ""};
    return {nullptr, "No netCDF module " + name + " could be loaded, so no grid file can be read; the program looked "
                     "for it in" + module.Tried};
}

}  // namespace

void LinkClimateGridReader(ClimateGridMaker maker) { LinkedMaker() = maker; }

ClimateGridMaker LoadClimateGridReader() {
    if (LinkedMaker()) return LinkedMaker();
    static const ModuleMaker module = FindModule();
    if (!module.Maker) throw KelmarError(module.Missing);
    return module.Maker;
}

std::unique_ptr<ClimateGrid> OpenClimateGrid(const ClimateGridRequest& request) {
    return std::unique_ptr<ClimateGrid>(LoadClimateGridReader()(request));
}

}  // namespace kelmar
