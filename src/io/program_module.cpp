#include "io/program_module.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace kelmar {

ProgramModule LoadProgramModule(const std::string& name, const std::string& privateDir, const char* symbol) {
    namespace fs = std::filesystem;
    ProgramModule found;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        found.Unknown = "/proc/self/exe: " + error.message();
        return found;
    }
    const fs::path folder = program.parent_path();
    for (const fs::path& dir : {(folder / privateDir).lexically_normal(), folder}) {
        const fs::path module = dir / name;
        if (void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (void* address = ::dlsym(handle, symbol)) {
                found.Symbol = address;
                return found;
            }
        }
        const char* text = ::dlerror();
        std::string reason = text ? text : "unknown reason";
        // dlerror names the file first when the file itself is at fault.
        if (reason.rfind(module.string() + ": ", 0) == 0) reason.erase(0, module.string().size() + 2);
        found.Tried += "\n  " + module.string() + " (" + reason + ")";
    }
    return found;
}

}  // namespace kelmar
