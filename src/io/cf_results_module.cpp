// Finds the results reader: linked into the program, or in the netCDF module.
#include <string>

#include "io/cf_results.h"
#include "io/program_module.h"
#include "model/errors.h"

namespace kelmar {

namespace {

CfResultsOpener& LinkedMaker() {
    static CfResultsOpener maker = nullptr;
    return maker;
}

struct ModuleMaker {
    CfResultsOpener Maker = nullptr;
    std::string Missing;
};

ModuleMaker FindModule() {
    const std::string name = KELMAR_NETCDF_MODULE;
    const ProgramModule module = LoadProgramModule(name, KELMAR_NETCDF_MODULE_DIR, "kelmar_open_cf_results");
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the netCDF module " + name + " is looked for, is unknown (" +
                             module.Unknown + ")"};
    if (module.Symbol) return {reinterpret_cast<CfResultsOpener>(module.Symbol), ""};
    return {nullptr, "No netCDF module " + name + " could be loaded, so no results file can be read; the program looked "
                     "for it in" + module.Tried};
}

}  // namespace

void LinkCfResultsReader(CfResultsOpener maker) { LinkedMaker() = maker; }

CfResultsOpener LoadCfResultsReader() {
    if (LinkedMaker()) return LinkedMaker();
    static const ModuleMaker module = FindModule();
    if (!module.Maker) throw KelmarError(module.Missing);
    return module.Maker;
}

std::unique_ptr<CfResults> OpenCfResults(const std::string& file) {
    return std::unique_ptr<CfResults>(LoadCfResultsReader()(file));
}

}  // namespace kelmar
