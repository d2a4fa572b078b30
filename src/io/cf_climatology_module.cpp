// Finds the climatologies' netCDF writer: linked into the program, or in the
// netCDF module beside the results' writer.
#include <string>

#include "io/cf_climatology.h"
#include "io/program_module.h"
#include "model/errors.h"

namespace kelmar {

namespace {

CfClimatologyWriterMaker& LinkedMaker() {
    static CfClimatologyWriterMaker maker = nullptr;
    return maker;
}

struct ModuleMaker {
    CfClimatologyWriterMaker Maker = nullptr;
    std::string Missing;
};

ModuleMaker FindModule() {
    const std::string name = KELMAR_NETCDF_MODULE;
    const ProgramModule module =
        LoadProgramModule(name, KELMAR_NETCDF_MODULE_DIR, "kelmar_new_cf_climatology_writer");
    if (!module.Unknown.empty())
        return {nullptr, "the program's own location, where the netCDF module " + name + " is looked for, is unknown (" +
                             module.Unknown + ")"};
    if (module.Symbol) return {reinterpret_cast<CfClimatologyWriterMaker>(module.Symbol), ""};
    return {nullptr, "No netCDF module " + name + " could be loaded, so climatologies.nc cannot be written; the "
                     "program looked for it in" + module.Tried};
}

}  // namespace

void LinkCfClimatologyWriter(CfClimatologyWriterMaker maker) { LinkedMaker() = maker; }

CfClimatologyWriterMaker LoadCfClimatologyWriter() {
    if (LinkedMaker()) return LinkedMaker();
    static const ModuleMaker module = FindModule();
    if (!module.Maker) throw KelmarError(module.Missing);
    return module.Maker;
}

std::unique_ptr<CfClimatologyWriter> NewCfClimatologyWriter(const std::string& file,
                                                            const CfClimatologyDescription& description) {
    return std::unique_ptr<CfClimatologyWriter>(LoadCfClimatologyWriter()(file, description));
}

}  // namespace kelmar
