// The makers of the netCDF writers (results, climatologies) and of the grid and results readers, as the module
// gives them to the program (and a program that links them gives them to
// itself).
#include "io/cf_climatology_netcdf.h"
#include "io/cf_netcdf.h"
#include "io/cf_results_netcdf.h"
#include "io/climate_grid_netcdf.h"

extern "C" __attribute__((visibility("default"))) kelmar::CfWriter* kelmar_new_cf_netcdf_writer(
    const std::string& monthlyFile, const std::string& annualFile, const kelmar::CfFileDescription& description) {
    return new kelmar::CfNetcdfWriter(monthlyFile, annualFile, description);
}

extern "C" __attribute__((visibility("default"))) kelmar::ClimateGrid* kelmar_open_climate_grid(
    const kelmar::ClimateGridRequest& request) {
    return kelmar::OpenNetcdfClimateGrid(request).release();
}

extern "C" __attribute__((visibility("default"))) kelmar::CfClimatologyWriter* kelmar_new_cf_climatology_writer(
    const std::string& file, const kelmar::CfClimatologyDescription& description) {
    return kelmar::NewCfClimatologyNetcdfWriter(file, description);
}

extern "C" __attribute__((visibility("default"))) kelmar::CfResults* kelmar_open_cf_results(const std::string& file) {
    return kelmar::OpenNetcdfCfResults(file).release();
}
