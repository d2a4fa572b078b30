// simulate --grid: the record of one position taken from gridded monthly
// climate exactly as extract takes a listed site's, held in memory as the
// tidy weather table extract writes of it reads back, so that the run is
// the run of `simulate --weather` on extract's table.
#pragma once

#include <ostream>
#include <string>

#include "app/grid/extract_options.h"
#include "app/open_commands.h"

namespace kelmar::grid {

// The record at `lat` (degrees north, -90..90) and `lon` (degrees east,
// -180..180), named "<grid file> at lat LAT, lon LON" for the run's texts.
// The reader's notes and the cell taken (its centre, distance and method,
// as the cells file of extract gives them) go to `notes`, one line each.
// Raises KelmarError, naming the position, when it lies outside the grid,
// no cell within reach holds data or the cell holds an absurd value, and
// with the reader's messages when the grid cannot be read.
HeldWeather TakePositionRecord(const ExtractOptions& options, double lat, double lon, std::ostream& notes);

}  // namespace kelmar::grid
