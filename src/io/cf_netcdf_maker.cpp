// The maker of the netCDF writer, as the module gives it to the program
// (and a program that links the writer gives it to itself).
#include "io/cf_netcdf.h"

extern "C" __attribute__((visibility("default"))) kelmar::CfWriter* kelmar_new_cf_netcdf_writer(
    const std::string& monthlyFile, const std::string& annualFile, const kelmar::CfFileDescription& description) {
    return new kelmar::CfNetcdfWriter(monthlyFile, annualFile, description);
}
