// File names inside the program are UTF-8 on every platform; these turn
// them into paths of the file system and back. Names only: nothing here
// touches a file.
#pragma once

#include <filesystem>
#include <string>

namespace kelmar {

std::filesystem::path PathOf(const std::string& utf8Name);
std::string Utf8Name(const std::filesystem::path& path);

}  // namespace kelmar
