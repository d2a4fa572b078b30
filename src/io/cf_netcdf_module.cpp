// Finds the netCDF writer: linked into the program, or in its module.
#include <string>

#include "io/cf_netcdf.h"
#include "io/program_module.h"
#include "model/errors.h"

namespace kelmar {

namespace {

CfWriterMaker& LinkedMaker() {
    static CfWriterMaker maker = nullptr;
    return maker;
}

// The module's maker, or the reason none was found: looked for once.
struct ModuleMaker {
    CfWriterMaker Maker = nullptr;
    std::string Missing;
};

ModuleMaker FindModule() {
    const std::string name = KELMAR_NETCDF_MODULE;
    const ProgramModule module = LoadProgramModule(name, KELMAR_NETCDF_MODULE_DIR, "kelmar_new_cf_netcdf_writer");
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the netCDF module " + name + " is looked for, is unknown (" +
                             module.Unknown + ")"};
    if (module.Symbol) return {reinterpret_cast<CfWriterMaker>(module.Symbol), ""};
    return {nullptr, "No netCDF module " + name + " could be loaded, so results.nc and results_annual.nc cannot be "
                     "written; the program looked for it in" + module.Tried};
}

}  // namespace

void LinkCfNetcdfWriter(CfWriterMaker maker) { LinkedMaker() = maker; }

CfWriterMaker LoadCfNetcdfWriter() {
    if (LinkedMaker()) return LinkedMaker();
    static const ModuleMaker module = FindModule();
    if (!module.Maker) throw KelmarError(module.Missing);
    return module.Maker;
}

std::unique_ptr<CfWriter> NewCfNetcdfWriter(const std::string& monthlyFile, const std::string& annualFile,
                                            const CfFileDescription& description) {
    return std::unique_ptr<CfWriter>(LoadCfNetcdfWriter()(monthlyFile, annualFile, description));
}

}  // namespace kelmar
