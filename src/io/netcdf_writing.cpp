#include "io/netcdf_writing.h"

#include <chrono>
#include <cstdio>

#include "io/cf_netcdf.h"

namespace kelmar {

int NcFile::Create(const std::string& path, int mode) {
    Close();
    // The HDF5 library closes the files it still holds when the process
    // ends, after the netCDF library has let go of them. A file whose close
    // failed is still among them, and closing it there crashed the process
    // after its message (exit status 139 in place of 1). Every file of the
    // writers is closed, or its close has failed, before the end, so nothing
    // is lost by turning that off; it can be turned off only before the
    // HDF5 library starts, which the first file created does.
    KeepHdf5FromClosingFilesAtExit();
    int id = -1;
    const int status = nc_create(path.c_str(), mode, &id);
    if (status == NC_NOERR) Id = id;
    return status;
}

std::string UtcTimestamp() {
    namespace chr = std::chrono;
    const auto now = chr::floor<chr::seconds>(chr::system_clock::now());
    const auto today = chr::floor<chr::days>(now);
    const chr::year_month_day date{today};
    const chr::hh_mm_ss time{now - today};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

NcSiteVariables DefineSiteCoordinates(int ncid, int siteDim, const NcCheck& check) {
    const auto text = [&](int var, const char* name, const std::string& value) {
        check(nc_put_att_text(ncid, var, name, value.size(), value.c_str()));
    };
    NcSiteVariables vars;
    check(nc_def_var(ncid, "site_id", NC_STRING, 1, &siteDim, &vars.Id));
    text(vars.Id, "cf_role", "timeseries_id");
    text(vars.Id, "long_name", "site identifier");
    const auto position = [&](int& var, const char* name, const char* standardName, const char* units) {
        check(nc_def_var(ncid, name, NC_DOUBLE, 1, &siteDim, &var));
        text(var, "standard_name", standardName);
        text(var, "long_name", standardName);
        text(var, "units", units);
        check(nc_put_att_double(ncid, var, "_FillValue", NC_DOUBLE, 1, &NC_MISSING));
    };
    position(vars.Lat, "lat", "latitude", "degrees_north");
    position(vars.Lon, "lon", "longitude", "degrees_east");
    return vars;
}

void WriteSiteCoordinates(int ncid, const NcSiteVariables& vars, const std::vector<std::string>& ids,
                          const std::vector<double>& lats, const std::vector<double>& lons, const NcCheck& check) {
    std::vector<const char*> texts;
    texts.reserve(ids.size());
    for (const std::string& id : ids) texts.push_back(id.c_str());
    check(nc_put_var_string(ncid, vars.Id, texts.data()));
    check(nc_put_var_double(ncid, vars.Lat, lats.data()));
    check(nc_put_var_double(ncid, vars.Lon, lons.data()));
}

}  // namespace kelmar
