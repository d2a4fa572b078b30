#include "app/command_paths.h"

#include "io/path_names.h"

namespace kelmar {

std::string FileStem(const std::string& name) { return Utf8Name(PathOf(name).stem()); }

std::string FileInFolder(const std::string& folder, const std::string& name) {
    return Utf8Name(PathOf(folder) / PathOf(name));
}

}  // namespace kelmar
