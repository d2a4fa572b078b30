// Finds the results reader: linked into the program, or in the netCDF module.
#include <string>

#include "io/cf_results.h"
#include "io/netcdf_module_symbol.h"
#include "model/errors.h"

namespace kelmar {

namespace {

CfResultsOpener& LinkedMaker() {
    static CfResultsOpener maker = nullptr;
    return maker;
}

}  // namespace

void LinkCfResultsReader(CfResultsOpener maker) { LinkedMaker() = maker; }

CfResultsOpener LoadCfResultsReader() {
    if (LinkedMaker()) return LinkedMaker();
    // Looked for once; a program without the module says why at each use.
    static const NetcdfModuleSymbol module =
        FindNetcdfModuleSymbol("kelmar_open_cf_results", "no results file can be read");
    if (!module.Symbol) throw KelmarError(module.Missing);
    return reinterpret_cast<CfResultsOpener>(module.Symbol);
}

std::unique_ptr<CfResults> OpenCfResults(const std::string& file) {
    return std::unique_ptr<CfResults>(LoadCfResultsReader()(file));
}

}  // namespace kelmar
