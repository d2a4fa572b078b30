// The netCDF writer of climatologies.nc (io/cf_climatology.h), which lives in
// the netCDF module; programs reach it through NewCfClimatologyWriter.
#pragma once

#include "io/cf_climatology.h"

namespace kelmar {

// Creates the temporary file beside `file` and defines every dimension,
// variable and attribute; the caller owns the writer.
CfClimatologyWriter* NewCfClimatologyNetcdfWriter(const std::string& file, const CfClimatologyDescription& description);

}  // namespace kelmar
