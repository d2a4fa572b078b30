#include "io/path_names.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace kelmar {

fs::path PathOf(const std::string& utf8Name) { return fs::path(std::u8string(utf8Name.begin(), utf8Name.end())); }

std::string Utf8Name(const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

}  // namespace kelmar
