// Finds the climatologies' netCDF writer: linked into the program, or in the
// netCDF module beside the results' writer.
#include <string>

#include "io/cf_climatology.h"
#include "io/netcdf_module_symbol.h"
#include "model/errors.h"

namespace kelmar {

namespace {

CfClimatologyWriterMaker& LinkedMaker() {
    static CfClimatologyWriterMaker maker = nullptr;
    return maker;
}

}  // namespace

void LinkCfClimatologyWriter(CfClimatologyWriterMaker maker) { LinkedMaker() = maker; }

CfClimatologyWriterMaker LoadCfClimatologyWriter() {
    if (LinkedMaker()) return LinkedMaker();
    // Looked for once; a program without the module says why at each use.
    static const NetcdfModuleSymbol module =
        FindNetcdfModuleSymbol("kelmar_new_cf_climatology_writer", "climatologies.nc cannot be written");
    if (!module.Symbol) throw KelmarError(module.Missing);
    return reinterpret_cast<CfClimatologyWriterMaker>(module.Symbol);
}

std::unique_ptr<CfClimatologyWriter> NewCfClimatologyWriter(const std::string& file,
                                                            const CfClimatologyDescription& description) {
    return std::unique_ptr<CfClimatologyWriter>(LoadCfClimatologyWriter()(file, description));
}

}  // namespace kelmar
