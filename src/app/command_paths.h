// File names as a command line gives them (UTF-8), taken apart and put
// together by the file system's rules.
#pragma once

#include <string>

namespace kelmar {

// The file's own name without its extension: "data/soil.sit" -> "soil".
std::string FileStem(const std::string& name);

// The file `name` in the folder `folder`.
std::string FileInFolder(const std::string& folder, const std::string& name);

}  // namespace kelmar
