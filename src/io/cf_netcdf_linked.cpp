// Linked into each program that has the netCDF writer in itself rather
// than loading its module: gives the linked maker before main runs. The
// program's link names kelmar_cf_netcdf_linked, so this object is taken
// from its archive though nothing calls into it.
#include "io/cf_netcdf.h"

extern "C" kelmar::CfWriter* kelmar_new_cf_netcdf_writer(const std::string& monthlyFile, const std::string& annualFile,
                                                         const kelmar::CfFileDescription& description);

extern "C" const bool kelmar_cf_netcdf_linked = (kelmar::LinkCfNetcdfWriter(&kelmar_new_cf_netcdf_writer), true);
