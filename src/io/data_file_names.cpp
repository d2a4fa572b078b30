#include "io/data_file_names.h"

namespace kelmar {

namespace {

// Where the last path component starts ("/" or "\" separated).
std::size_t LastComponent(const std::string& name) {
    return name.find_last_of("/\\") + 1;  // npos + 1 == 0
}

}  // namespace

std::string SiteFileName(const std::string& name) {
    const bool hasFullStop = name.find('.', LastComponent(name)) != std::string::npos;
    return hasFullStop ? name : name + std::string(SITE_EXTENSION);
}

std::string ReplaceExtension(const std::string& name, std::string_view extension) {
    const std::size_t lastComponent = LastComponent(name);
    const std::size_t dot = name.rfind('.');
    const std::size_t stemEnd = dot != std::string::npos && dot >= lastComponent ? dot : name.size();
    return name.substr(0, stemEnd) + std::string(extension);
}

}  // namespace kelmar
