// How a site's record is taken from gridded climate, from the keywords of
// kelmar.extract and kelmar.batch(grid=...).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/grid/extract_options.h"

namespace kelmar::python {

// Raises BadValueError for a method other than nearest and bilinear and for
// a key other than tair, prec and tsoil in `variables` or `units`.
grid::ExtractOptions GridOptionsOf(const std::vector<std::string>& grids, const std::string& method,
                                   double maxDistanceKm, const std::map<std::string, std::string>& variables,
                                   const std::map<std::string, std::string>& units);

}  // namespace kelmar::python
