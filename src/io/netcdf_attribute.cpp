#include "io/netcdf_attribute.h"

#include <netcdf.h>

namespace kelmar {

std::optional<std::string> TextAttribute(int file, int var, const char* name) {
    nc_type type = 0;
    std::size_t length = 0;
    if (nc_inq_att(file, var, name, &type, &length) != NC_NOERR) return std::nullopt;
    if (type == NC_CHAR) {
        std::string text(length, '\0');
        if (nc_get_att_text(file, var, name, text.data()) != NC_NOERR) return std::nullopt;
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
    }
    if (type == NC_STRING && length == 1) {
        char* value = nullptr;
        if (nc_get_att_string(file, var, name, &value) != NC_NOERR) return std::nullopt;
        std::string text = value ? value : "";
        nc_free_string(1, &value);
        return text;
    }
    return std::nullopt;
}

}  // namespace kelmar
