#include "app/grid/position_record.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "app/grid/extract_run.h"
#include "app/grid/grid_extraction.h"
#include "io/path_names.h"
#include "io/weather_table.h"
#include "io/weather_table_rows.h"
#include "model/errors.h"

namespace kelmar::grid {

namespace {

// The id of the one site in the table held in memory; no text shows it.
constexpr const char* POSITION_ID = "position";

std::string Degrees(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// "tair.nc, prec.nc at lat 50.1, lon 0.6": the grid's files as a weather
// file's name stands in the run's texts, and where in them.
std::string RecordName(const std::vector<std::string>& files, double lat, double lon) {
    std::string name;
    for (const std::string& file : files) name += (name.empty() ? "" : ", ") + Utf8Name(PathOf(file).filename());
    return name + " at lat " + Degrees(lat) + ", lon " + Degrees(lon);
}

std::string CellNote(const GridSite& site, const CellTaken& cell) {
    std::string note = "note: lat ";
    AppendShortest(note, site.Lat);
    note += ", lon ";
    AppendShortest(note, site.Lon);
    note += cell.Method == GridMethod::Bilinear
                ? " takes the record interpolated between the grid cells around it, the nearest at lat "
                : " takes the record of the grid cell at lat ";
    AppendShortest(note, cell.Lat);
    note += ", lon ";
    AppendShortest(note, cell.Lon);
    note += ", ";
    AppendShortest(note, cell.DistanceKm);
    return note + " km away (method " + GridMethodName(cell.Method) + ")";
}

}  // namespace

HeldWeather TakePositionRecord(const ExtractOptions& options, double lat, double lon, std::ostream& notes) {
    GridExtraction extraction(options);
    for (const std::string& note : extraction.Notes()) notes << "note: " << note << '\n';
    // Line 0: no list holds it, and the messages name it by its position.
    const std::vector<GridSite> sites = {{POSITION_ID, 0, lat, lon, {}}};
    std::string table = WEATHER_TABLE_HEADER;
    std::optional<CellTaken> cell;
    std::string error;
    extraction.Run(sites, [&](const SiteRecord& record) {
        if (!record.Error.empty()) {
            error = record.Error;
            return;
        }
        AppendWeatherTableRows(table, record.Site->Id, record.FirstYear, record.FirstMonth, record.Values);
        cell = record.Cell;
    });
    if (!cell) throw KelmarError(error);
    HeldWeather held;
    held.Name = RecordName(options.GridFiles, lat, lon);
    // Read back as simulate --weather reads extract's table: the same values and years.
    auto model = std::make_unique<TModel>();
    ReadWeatherTableBytes(table, held.Name)->Store(*model, POSITION_ID);
    held.Record = {model->Weather, model->Settings.YearBeg, model->Settings.YearEnd};
    notes << CellNote(sites.front(), *cell) << '\n';
    return held;
}

}  // namespace kelmar::grid
