// Records of sites from gridded monthly climate, as kelmar-cli extract
// writes them.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/grid/extract_run.h"
#include "model/errors.h"
#include "python/module/grid_options.h"
#include "python/module/module_units.h"

namespace kelmar::python {

namespace {

// Per key of the record (tair, prec, tsoil): the value given for it; an
// unknown key is refused with the keys there are.
std::array<std::string, 3> Keyed(const std::map<std::string, std::string>& given, const char* what) {
    std::array<std::string, 3> keyed;
    for (const auto& [key, value] : given) {
        bool known = false;
        for (std::size_t k = 0; k < grid::RECORD_KEYS.size(); ++k)
            if (key == grid::RECORD_KEYS[k]) {
                keyed[k] = value;
                known = true;
            }
        if (!known) throw BadValueError(std::string(what) + " takes the keys tair, prec and tsoil, not '" + key + "'.");
    }
    return keyed;
}

}  // namespace

grid::ExtractOptions GridOptionsOf(const std::vector<std::string>& grids, const std::string& method,
                                   double maxDistanceKm, const std::map<std::string, std::string>& variables,
                                   const std::map<std::string, std::string>& units) {
    grid::ExtractOptions options;
    options.GridFiles = grids;
    if (method != "nearest" && method != "bilinear")
        throw BadValueError("method takes 'nearest' or 'bilinear', not '" + method + "'.");
    options.Method = method == "bilinear" ? grid::GridMethod::Bilinear : grid::GridMethod::Nearest;
    options.MaxDistanceKm = maxDistanceKm;
    options.VariableNames = Keyed(variables, "var");
    options.Units = Keyed(units, "units");
    return options;
}

void AddGrid(py::module_& m) {
    m.def(
        "extract",
        [](const std::vector<std::string>& grids, const std::string& sites, const std::string& out,
           const std::string& cells, const std::string& method, double maxDistanceKm,
           const std::map<std::string, std::string>& variables, const std::map<std::string, std::string>& units) {
            grid::ExtractRequest request;
            request.SitesFile = sites;
            request.OutFile = out;
            request.CellsFile = cells;
            request.Options = GridOptionsOf(grids, method, maxDistanceKm, variables, units);
            std::ostringstream told;
            grid::ExtractSummary summary;
            {
                py::gil_scoped_release unlocked;  // the grid is read in blocks, perhaps for minutes
                summary = grid::RunExtract(request, told);
            }
            py::dict result;
            result["sites"] = summary.Sites;
            result["failed"] = summary.Failed;
            result["messages"] = told.str();
            return result;
        },
        py::arg("grids"), py::arg("sites"), py::arg("out"), py::arg("cells") = "", py::arg("method") = "nearest",
        py::arg("max_distance") = grid::DEFAULT_MAX_DISTANCE_KM,
        py::arg("variables") = std::map<std::string, std::string>{},
        py::arg("units") = std::map<std::string, std::string>{});
}

}  // namespace kelmar::python
