// Linked into each program that has the netCDF writer and the grid reader
// in itself rather than loading their module: gives the linked makers
// before main runs. The program's link names kelmar_cf_netcdf_linked, so
// this object is taken from its archive though nothing calls into it.
#include "io/cf_climatology.h"
#include "io/cf_netcdf.h"
#include "io/cf_results.h"
#include "io/climate_grid.h"

extern "C" kelmar::CfWriter* kelmar_new_cf_netcdf_writer(const std::string& monthlyFile, const std::string& annualFile,
                                                         const kelmar::CfFileDescription& description);
extern "C" kelmar::CfClimatologyWriter* kelmar_new_cf_climatology_writer(
    const std::string& file, const kelmar::CfClimatologyDescription& description);
extern "C" kelmar::ClimateGrid* kelmar_open_climate_grid(const kelmar::ClimateGridRequest& request);
extern "C" kelmar::CfResults* kelmar_open_cf_results(const std::string& file);

extern "C" const bool kelmar_cf_netcdf_linked = (kelmar::LinkCfNetcdfWriter(&kelmar_new_cf_netcdf_writer), true);
extern "C" const bool kelmar_cf_climatology_linked =
    (kelmar::LinkCfClimatologyWriter(&kelmar_new_cf_climatology_writer), true);
extern "C" const bool kelmar_climate_grid_linked = (kelmar::LinkClimateGridReader(&kelmar_open_climate_grid), true);
extern "C" const bool kelmar_cf_results_linked = (kelmar::LinkCfResultsReader(&kelmar_open_cf_results), true);
// The thread that loads the program (or imports the Python extension) is
// the one that later opens files with other libraries.
extern "C" const bool kelmar_hdf5_quiet = (kelmar::SilenceHdf5DiagnosticsOfThisThread(), true);
