// The names under which the readers look for their files. The writers use the
// name they are given exactly.
#pragma once

#include <string>
#include <string_view>

namespace kelmar {

inline constexpr std::string_view SITE_EXTENSION = ".sit";
inline constexpr std::string_view CLIMATOLOGY_EXTENSION = ".cld";
inline constexpr std::string_view WEATHER_EXTENSION = ".wed";

// The site file's name: ".sit" is appended only when the name holds no full
// stop anywhere, its folders included (C:\data.old\soil stays as it is).
std::string SiteFileName(const std::string& name);

// `name` with the extension of its last path component ("/" or "\"
// separated) replaced by `extension`, or with `extension` appended when that
// component has no full stop.
std::string ReplaceExtension(const std::string& name, std::string_view extension);

}  // namespace kelmar
