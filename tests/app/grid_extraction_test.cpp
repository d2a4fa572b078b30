// The extraction reads a grid in bands under a byte budget: a budget of a
// few cells (many bands, windows of one or two sites) must give the very
// records a budget holding the whole grid gives, in the order of the list.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/grid/grid_extraction.h"

namespace kelmar::grid {
namespace {

constexpr int MONTHS = 5, ROWS = 20, COLS = 30;

// Temperature (degC) of a cell; sea (NaN) where row + col is a multiple of 7.
double Tair(int month, int row, int col) {
    if ((row + col) % 7 == 0) return NAN;
    return month + row * 0.25 + col * 0.01;
}

void Check(int status) { ASSERT_EQ(status, NC_NOERR) << nc_strerror(status); }

// Latitudes falling from 19.5 to 0.5, longitudes 0..348 every 12 degrees
// (the whole globe), months from 2001-01 in a noleap calendar.
void WriteGrid(const std::string& path) {
    int file = 0, time = 0, lat = 0, lon = 0, dims[3] = {};
    Check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &file));
    Check(nc_def_dim(file, "time", MONTHS, &dims[0]));
    Check(nc_def_dim(file, "lat", ROWS, &dims[1]));
    Check(nc_def_dim(file, "lon", COLS, &dims[2]));
    Check(nc_def_var(file, "time", NC_DOUBLE, 1, &dims[0], &time));
    Check(nc_def_var(file, "lat", NC_DOUBLE, 1, &dims[1], &lat));
    Check(nc_def_var(file, "lon", NC_DOUBLE, 1, &dims[2], &lon));
    const auto text = [file](int var, const char* name, const std::string& value) {
        Check(nc_put_att_text(file, var, name, value.size(), value.c_str()));
    };
    text(time, "units", "days since 2001-01-01");
    text(time, "calendar", "noleap");
    text(lat, "units", "degrees_north");
    text(lon, "units", "degrees_east");
    int t = 0, p = 0;
    Check(nc_def_var(file, "tas", NC_FLOAT, 3, dims, &t));
    Check(nc_def_var(file, "pr", NC_DOUBLE, 3, dims, &p));
    text(t, "standard_name", "air_temperature");
    text(t, "units", "degC");
    text(p, "standard_name", "precipitation_flux");
    text(p, "units", "mm/day");
    const float fill = 1e20f;
    Check(nc_put_att_float(file, t, "_FillValue", NC_FLOAT, 1, &fill));
    Check(nc_enddef(file));
    std::vector<double> times, lats, lons;
    for (int m = 0; m < MONTHS; ++m) times.push_back(m * 30 + 14);
    for (int r = 0; r < ROWS; ++r) lats.push_back(19.5 - r);
    for (int c = 0; c < COLS; ++c) lons.push_back(c * 12.0);
    Check(nc_put_var_double(file, time, times.data()));
    Check(nc_put_var_double(file, lat, lats.data()));
    Check(nc_put_var_double(file, lon, lons.data()));
    std::vector<float> tas;
    std::vector<double> pr;
    for (int m = 0; m < MONTHS; ++m)
        for (int r = 0; r < ROWS; ++r)
            for (int c = 0; c < COLS; ++c) {
                const double value = Tair(m, r, c);
                tas.push_back(std::isnan(value) ? fill : static_cast<float>(value));
                pr.push_back(1.0 + r + c);
            }
    Check(nc_put_var_float(file, t, tas.data()));
    Check(nc_put_var_double(file, p, pr.data()));
    Check(nc_close(file));
}

std::vector<SiteRecord> Extract(const std::string& path, const std::vector<GridSite>& sites, std::size_t budget) {
    ExtractOptions options;
    options.GridFiles = {path};
    options.BlockBytes = budget;
    options.MaxDistanceKm = 1500;  // every sea cell has land within 1,500 km on this coarse grid
    GridExtraction extraction(options);
    std::vector<SiteRecord> records;
    extraction.Run(sites, [&records](const SiteRecord& record) { records.push_back(record); });
    return records;
}

TEST(GridExtraction, BandsUnderAnyBudgetGiveTheSameRecordsInListOrder) {
    const std::string path = (std::filesystem::path(testing::TempDir()) / "grid_extraction_test.nc").string();
    WriteGrid(path);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> lat(0.0, 20.0), lon(-180.0, 180.0);
    std::vector<GridSite> sites;
    for (int i = 0; i < 60; ++i) sites.push_back({"s" + std::to_string(i), i + 2, lat(random), lon(random), ""});
    sites.push_back({"north", 70, 40.0, 0.0, ""});  // outside the grid
    sites.push_back({"centre", 71, 10.5, 24.0, ""});  // row 9, column 2

    const std::vector<SiteRecord> whole = Extract(path, sites, std::size_t{1} << 30);
    // Room for a few cells' months only: one site per window, many bands.
    const std::vector<SiteRecord> bands = Extract(path, sites, 6 * MONTHS * 3 * sizeof(double));
    ASSERT_EQ(whole.size(), sites.size());
    ASSERT_EQ(bands.size(), sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        SCOPED_TRACE(sites[i].Id);
        EXPECT_EQ(whole[i].Site, &sites[i]);
        EXPECT_EQ(bands[i].Site, &sites[i]);
        EXPECT_EQ(whole[i].Error, bands[i].Error);
        EXPECT_EQ(whole[i].Cell.Lat, bands[i].Cell.Lat);
        EXPECT_EQ(whole[i].Cell.Lon, bands[i].Cell.Lon);
        for (int k = 0; k < GRID_KEY_COUNT; ++k) {
            ASSERT_EQ(whole[i].Values[k].size(), bands[i].Values[k].size());
            for (std::size_t m = 0; m < whole[i].Values[k].size(); ++m) {
                const double a = whole[i].Values[k][m], b = bands[i].Values[k][m];
                EXPECT_TRUE(a == b || (std::isnan(a) && std::isnan(b))) << k << " " << m << ": " << a << " " << b;
            }
        }
    }
    EXPECT_NE(whole[60].Error.find("\"north\" (line 70)"), std::string::npos) << whole[60].Error;
    const SiteRecord& centre = whole[61];
    ASSERT_TRUE(centre.Error.empty()) << centre.Error;
    EXPECT_EQ(centre.Cell.Lat, 10.5);
    EXPECT_EQ(centre.Cell.Lon, 24.0);
    EXPECT_EQ(centre.FirstYear, 2001);
    for (int m = 0; m < MONTHS; ++m) {
        EXPECT_EQ(centre.Values[0][m], static_cast<double>(static_cast<float>(Tair(m, 9, 2)))) << m;
        // 12 mm/day times the days of the month in the noleap calendar.
        EXPECT_EQ(centre.Values[1][m], 12.0 * (m == 1 ? 28 : m % 2 == 0 ? 31 : 30)) << m;
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace kelmar::grid
