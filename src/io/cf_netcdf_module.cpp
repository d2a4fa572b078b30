// Finds the netCDF writer: linked into the program, or in its module.
#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "io/cf_netcdf.h"
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
    namespace fs = std::filesystem;
    const std::string name = KELMAR_NETCDF_MODULE;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {nullptr, "the program's own location, where the netCDF module " + name +
                             " is looked for, is unknown (/proc/self/exe: " + error.message() + ")"};
    const fs::path folder = program.parent_path();
    std::string tried;
    for (const fs::path& dir : {(folder / KELMAR_NETCDF_MODULE_DIR).lexically_normal(), folder}) {
        const fs::path module = dir / name;
        // Never closed: the writers' code lives in the module.
        if (void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (auto* maker = reinterpret_cast<CfWriterMaker>(::dlsym(handle, "kelmar_new_cf_netcdf_writer")))
                return {maker, ""};
        }
        const char* text = ::dlerror();
        std::string reason = text ? text : "unknown reason";
        // dlerror names the file first when the file itself is at fault.
        if (reason.rfind(module.string() + ": ", 0) == 0) reason.erase(0, module.string().size() + 2);
        tried += "\n  " + module.string() + " (" + reason + ")";
    }
    return {nullptr, "No netCDF module " + name + " could be loaded, so results.nc and results_annual.nc cannot be "
                     "written; the program looked for it in" + tried};
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
