// What the netCDF files the program writes share (results.nc and its
// annual file, climatologies.nc): the file handle, the history's time and
// the site coordinates, defined and written alike so that the files line
// up site by site in the tools that read them together. Only the writers in
// the netCDF module include it.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <netcdf.h>

namespace kelmar {

// Marks a value that is not there. The library's own default for doubles
// (9.969209968386869e+36), which CF readers know and no result or
// climatology value comes near.
inline constexpr double NC_MISSING = NC_FILL_DOUBLE;

// A netCDF file open for writing, closed when it goes, also when an error
// unwinds past it. The close is tried once only: after a failed one (a full
// disk) the HDF5 library beneath has half torn the file down, and both
// another close and an abort crash the process (SIGSEGV).
class NcFile {
public:
    NcFile() = default;
    ~NcFile() { Close(); }
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;

    // Creates `path` with the library's `mode`; gives its status.
    int Create(const std::string& path, int mode);
    int Get() const { return Id; }
    bool IsOpen() const { return Id >= 0; }

    // Writes what the library holds and closes; gives its status. The file
    // is let go of either way.
    int Close() { return Id >= 0 ? nc_close(std::exchange(Id, -1)) : NC_NOERR; }

private:
    int Id = -1;
};

// "2024-05-01T12:00:00Z", the moment of the call in UTC, for the history line.
std::string UtcTimestamp();

// Raises for a status of the library that is not NC_NOERR.
using NcCheck = std::function<void(int status)>;

// The site coordinates on the dimension `siteDim`: site_id (strings,
// cf_role timeseries_id, named as its dimension so that readers index the
// sites by it) and lat, lon (degrees, the fill value where unknown).
struct NcSiteVariables {
    int Id = -1, Lat = -1, Lon = -1;
};
NcSiteVariables DefineSiteCoordinates(int ncid, int siteDim, const NcCheck& check);
// Writes them, one call each; `lats` and `lons` hold NC_MISSING where unknown.
void WriteSiteCoordinates(int ncid, const NcSiteVariables& vars, const std::vector<std::string>& ids,
                          const std::vector<double>& lats, const std::vector<double>& lons, const NcCheck& check);

}  // namespace kelmar
