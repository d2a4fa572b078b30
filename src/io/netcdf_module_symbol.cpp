#include "io/netcdf_module_symbol.h"

#include "io/program_module.h"

namespace kelmar {

NetcdfModuleSymbol FindNetcdfModuleSymbol(const char* symbol, const std::string& withoutIt) {
    const std::string name = KELMAR_NETCDF_MODULE;
    const ProgramModule module = LoadProgramModule(name, KELMAR_NETCDF_MODULE_DIR, symbol);
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the netCDF module " + name +
                             " is looked for, is unknown (" + module.Unknown + ")"};
    if (module.Symbol) return {module.Symbol, ""};
    return {nullptr, "No netCDF module " + name + " could be loaded, so " + withoutIt +
                         "; the program looked for it in" + module.Tried};
}

}  // namespace kelmar
