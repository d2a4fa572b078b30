// Finds the netCDF writer: linked into the program, or in its module.
#include <string>

#include "io/cf_netcdf.h"
#include "io/netcdf_module_symbol.h"
#include "model/errors.h"

namespace kelmar {

namespace {

CfWriterMaker& LinkedMaker() {
    static CfWriterMaker maker = nullptr;
    return maker;
}

}  // namespace

void LinkCfNetcdfWriter(CfWriterMaker maker) { LinkedMaker() = maker; }

CfWriterMaker LoadCfNetcdfWriter() {
    if (LinkedMaker()) return LinkedMaker();
    // Looked for once; a program without the module says why at each use.
    static const NetcdfModuleSymbol module =
        FindNetcdfModuleSymbol("kelmar_new_cf_netcdf_writer", "results.nc and results_annual.nc cannot be written");
    if (!module.Symbol) throw KelmarError(module.Missing);
    return reinterpret_cast<CfWriterMaker>(module.Symbol);
}

std::unique_ptr<CfWriter> NewCfNetcdfWriter(const std::string& monthlyFile, const std::string& annualFile,
                                            const CfFileDescription& description) {
    return std::unique_ptr<CfWriter>(LoadCfNetcdfWriter()(monthlyFile, annualFile, description));
}

}  // namespace kelmar
