// The text of a netCDF attribute, for the readers of the netCDF module
// (results and grids): files written by other programs hold texts as NC_CHAR
// or as one NC_STRING.
#pragma once

#include <optional>
#include <string>

namespace kelmar {

// The attribute `name` of variable `var` (NC_GLOBAL: of the file) of the open
// file `file`, without trailing NULs; nothing when it is missing or no text.
std::optional<std::string> TextAttribute(int file, int var, const char* name);

}  // namespace kelmar
