// What an extraction of site records from gridded monthly climate is asked
// for, as the fronts give it (no file layer in it).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace kelmar::grid {

enum class GridMethod { Nearest, Bilinear };
const char* GridMethodName(GridMethod method);

// The variables of a record, in the order of the tidy weather table.
inline constexpr std::array<const char*, 3> RECORD_KEYS = {"tair", "prec", "tsoil"};

// A cell that stands in for a site's own cell lies at most this far from
// the site (km): a coastal site whose own cell is sea takes its land
// neighbour on grids up to about 0.75 degree (the next centre is 56 km away
// on a 0.5-degree grid, the diagonal one up to 79 km; 83 km on a 0.75-degree
// grid), while a small island far from any land cell is refused rather
// than given the weather of a distant coast.
inline constexpr double DEFAULT_MAX_DISTANCE_KM = 100.0;

struct ExtractOptions {
    std::vector<std::string> GridFiles;  // one or more, e.g. one per variable
    // Per key of RECORD_KEYS: the variable's name in the files (empty:
    // found by its CF standard_name), and the unit to take instead of the
    // file's (empty: the variable's own).
    std::array<std::string, 3> VariableNames;
    std::array<std::string, 3> Units;
    GridMethod Method = GridMethod::Nearest;
    double MaxDistanceKm = DEFAULT_MAX_DISTANCE_KM;
    // The most bytes a band of rows read at once may take, and the most the
    // records held for list order may (each is held until the sites before
    // it are delivered).
    std::size_t BlockBytes = std::size_t{256} << 20;
};

}  // namespace kelmar::grid
