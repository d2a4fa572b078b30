// What a netCDF file holds, as bytes to compare two files by: for the
// tests of the batch's results.nc, written while the sites ran or joined.
#pragma once

#include <netcdf.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kelmar::testing {

// What a netCDF file holds, read through the netCDF library, as bytes to
// compare: its dimensions, its variables with their attributes and values,
// and its global attributes but history, which tells when the file was made
// (that time is also in a checksum, so the files' bytes differ).
inline std::string NetcdfContents(const std::filesystem::path& file) {
    int nc = -1;
    if (nc_open(file.c_str(), NC_NOWRITE, &nc) != NC_NOERR) return "no netCDF file " + file.string();
    std::string text;
    const auto add = [&](const void* bytes, std::size_t size) { text.append(static_cast<const char*>(bytes), size); };
    const auto sizeOf = [&](nc_type type) {
        std::size_t size = 0;
        nc_inq_type(nc, type, nullptr, &size);
        return size;
    };
    // Strings by their text: their values are pointers.
    const auto addStrings = [&](char** strings, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) text += std::string(strings[k] ? strings[k] : "") + '\0';
        nc_free_string(count, strings);
    };
    const auto attributes = [&](int var) {
        int count = 0;
        nc_inq_varnatts(nc, var, &count);
        for (int a = 0; a < count; ++a) {
            char name[NC_MAX_NAME + 1] = {};
            nc_type type = 0;
            std::size_t length = 0;
            nc_inq_attname(nc, var, a, name);
            if (var == NC_GLOBAL && std::string(name) == "history") continue;
            nc_inq_att(nc, var, name, &type, &length);
            text += std::string(name) + "=";
            if (type == NC_STRING) {
                std::vector<char*> strings(length);
                nc_get_att_string(nc, var, name, strings.data());
                addStrings(strings.data(), length);
            } else {
                std::string value(length * sizeOf(type), '\0');
                nc_get_att(nc, var, name, value.data());
                text += value;
            }
        }
    };
    int dims = 0, vars = 0;
    nc_inq_ndims(nc, &dims);
    for (int d = 0; d < dims; ++d) {
        char name[NC_MAX_NAME + 1] = {};
        std::size_t length = 0;
        nc_inq_dim(nc, d, name, &length);
        text += std::string(name) + "=" + std::to_string(length) + "\n";
    }
    attributes(NC_GLOBAL);
    nc_inq_nvars(nc, &vars);
    for (int v = 0; v < vars; ++v) {
        char name[NC_MAX_NAME + 1] = {};
        nc_type type = 0;
        int rank = 0, shape[NC_MAX_VAR_DIMS] = {};
        nc_inq_var(nc, v, name, &type, &rank, shape, nullptr);
        text.append("\n").append(name).append(":");
        add(shape, sizeof(int) * static_cast<std::size_t>(rank));
        attributes(v);
        std::size_t count = 1;
        for (int d = 0; d < rank; ++d) {
            std::size_t length = 0;
            nc_inq_dimlen(nc, shape[d], &length);
            count *= length;
        }
        if (type == NC_STRING) {
            std::vector<char*> strings(count);
            nc_get_var_string(nc, v, strings.data());
            addStrings(strings.data(), count);
        } else {
            std::string values(count * sizeOf(type), '\0');
            nc_get_var(nc, v, values.data());
            text += values;
        }
    }
    nc_close(nc);
    return text;
}

}  // namespace kelmar::testing
