// Monthly gridded climate (CF netCDF: gridded observations, reanalysis
// monthly means, climate model output) as the extraction of site records
// sees it: the cells' centres, the months every required variable covers,
// and blocks of cells read with their values converted to degrees Celsius
// and millimetres per month.
//
// The reader lives in the netCDF module (kelmar-netcdf.so) beside the
// results writer (io/cf_netcdf.h), so that only a process that reads a grid
// loads the netCDF library; this header has no netCDF in it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/grid_time.h"
#include "io/grid_units.h"

namespace kelmar {

// The variables of a record, in the order of the tidy weather table.
enum class GridKey { Tair = 0, Prec = 1, Tsoil = 2 };
inline constexpr int GRID_KEY_COUNT = 3;
inline constexpr std::array<const char*, GRID_KEY_COUNT> GRID_KEY_NAMES = {"tair", "prec", "tsoil"};
inline GridQuantity GridKeyQuantity(GridKey key) {
    return key == GridKey::Prec ? GridQuantity::Precipitation : GridQuantity::Temperature;
}

struct ClimateGridRequest {
    // One or more: one per variable, one holding several, or several holding
    // one variable's months one after the other (a file per decade).
    std::vector<std::string> Files;
    // Per key (GridKey order): the variable's name when the user gives it
    // (--var tair=t2m); empty: found by its CF standard_name.
    std::array<std::string, GRID_KEY_COUNT> Names;
    // Per key: the unit the user gives (--units prec=m/day), taken instead
    // of the file's; empty: the variable's own "units".
    std::array<std::string, GRID_KEY_COUNT> Units;
};

// Where a variable was found, for messages.
struct GridSource {
    bool Present = false;
    std::string File;
    std::string Name;
    std::string Unit;
};

// Cells [RowBegin, RowEnd) x [ColBegin, ColEnd) of every month of the
// grid's span. Values are degC or mm per month, NaN where missing.
struct GridBlock {
    int RowBegin = 0, RowEnd = 0, ColBegin = 0, ColEnd = 0, Months = 0;
    std::array<std::vector<double>, GRID_KEY_COUNT> Values;  // [month][row][col]; empty for an absent variable

    double At(GridKey key, int month, int row, int col) const {
        const std::vector<double>& values = Values[static_cast<int>(key)];
        const int cols = ColEnd - ColBegin;
        return values[(static_cast<std::size_t>(month) * (RowEnd - RowBegin) + (row - RowBegin)) * cols + (col - ColBegin)];
    }
    bool Holds(int row, int col) const { return row >= RowBegin && row < RowEnd && col >= ColBegin && col < ColEnd; }
};

class ClimateGrid {
public:
    virtual ~ClimateGrid() = default;
    // Centres of the rows (degrees_north, ascending or descending) and of
    // the columns (degrees_east, ascending, as the file has them: -180..180
    // or 0..360).
    virtual const std::vector<double>& Lats() const = 0;
    virtual const std::vector<double>& Lons() const = 0;
    // The months the record covers: those tair and prec both have.
    virtual GridMonths Months() const = 0;
    virtual GridCalendar Calendar() const = 0;
    virtual GridSource Source(GridKey key) const = 0;
    // The file holding the variable's `month`, for a variable whose months
    // several files hold one after the other (a file per decade).
    virtual GridSource SourceAt(GridKey key, GridMonth month) const = 0;
    // What the reader chose that the user should know (the months the
    // variables share, a variable left out), one line each.
    virtual std::vector<std::string> Notes() const = 0;
    // Reads the cells of rows [rowBegin, rowEnd) and columns [colBegin,
    // colEnd), all months, into `block`. Negative precipitation within
    // rounding (GRID_PRECIPITATION_ROUNDING, or one packing step) is read as
    // 0; other values are as converted, absurd ones included, for the caller
    // to refuse per cell (AbsurdGridValue). Raises KelmarError naming the
    // file and variable when the library fails.
    virtual void ReadBlock(int rowBegin, int rowEnd, int colBegin, int colEnd, GridBlock& block) = 0;
};

// Opens the grid files: finds each variable, its unit, calendar, time axis
// and horizontal axes, and checks that the files agree. Raises KelmarError
// naming the file (and variable, time step or dimension) for anything it
// cannot read: not netCDF, no time axis, time steps that are not
// consecutive months, an unknown or ambiguous unit, calendars or grids that
// differ between the files, dimensions other than time, latitude, longitude
// and ones of length 1.
using ClimateGridMaker = ClimateGrid* (*)(const ClimateGridRequest& request);

// A program that links the reader (tests, the Python extension) gives its
// maker here, and no module is loaded.
void LinkClimateGridReader(ClimateGridMaker maker);

// The linked maker, else the module's (as LoadCfNetcdfWriter finds it).
ClimateGridMaker LoadClimateGridReader();

std::unique_ptr<ClimateGrid> OpenClimateGrid(const ClimateGridRequest& request);

}  // namespace kelmar
