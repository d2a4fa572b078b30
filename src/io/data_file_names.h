// The names under which the readers look for their files. The writers use the
// name they are given exactly.
#pragma once

#include <string>
#include <string_view>

namespace kelmar {

inline constexpr std::string_view SITE_EXTENSION = ".sit";
inline constexpr std::string_view CLIMATOLOGY_EXTENSION = ".cld";
inline constexpr std::string_view WEATHER_EXTENSION = ".wed";

// The site file's name: ".sit" is appended only when the file's own name (the
// last path component) holds no full stop; the folders do not count, so
// /home/j.smith/soil reads /home/j.smith/soil.sit.
std::string SiteFileName(const std::string& name);

// `name` with the extension of its last path component ("/" or "\"
// separated) replaced by `extension`, or with `extension` appended when that
// component has no full stop.
std::string ReplaceExtension(const std::string& name, std::string_view extension);

}  // namespace kelmar
