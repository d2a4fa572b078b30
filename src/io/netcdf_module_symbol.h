// A symbol of the netCDF module (kelmar-netcdf.so, looked for beside the
// program as io/program_module.h says), for the finders of its writers and
// readers (cf_netcdf_module.cpp, cf_climatology_module.cpp,
// climate_grid_module.cpp, cf_results_module.cpp).
#pragma once

#include <string>

namespace kelmar {

struct NetcdfModuleSymbol {
    void* Symbol = nullptr;
    std::string Missing;  // why there is none, to be raised
};

// Loads the module and looks up `symbol`. Without it, Missing says that no
// module could be loaded, "so " `withoutIt` (e.g. "no grid file can be
// read"), and where it was looked for.
NetcdfModuleSymbol FindNetcdfModuleSymbol(const char* symbol, const std::string& withoutIt);

}  // namespace kelmar
