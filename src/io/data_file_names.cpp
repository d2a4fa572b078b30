#include "io/data_file_names.h"

namespace kelmar {

std::string SiteFileName(const std::string& name) {
    return name.find('.') == std::string::npos ? name + std::string(SITE_EXTENSION) : name;
}

std::string ReplaceExtension(const std::string& name, std::string_view extension) {
    const std::size_t lastComponent = name.find_last_of("/\\") + 1;  // npos + 1 == 0
    const std::size_t dot = name.rfind('.');
    const std::size_t stemEnd = dot != std::string::npos && dot >= lastComponent ? dot : name.size();
    return name.substr(0, stemEnd) + std::string(extension);
}

}  // namespace kelmar
