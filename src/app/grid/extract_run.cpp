#include "app/grid/extract_run.h"

#include <charconv>
#include <memory>

#include "app/grid/grid_extraction.h"
#include "io/csv_text.h"
#include "io/file_stream.h"
#include "io/weather_table_rows.h"

namespace kelmar::grid {

void AppendShortest(std::string& out, double value) {
    char buffer[32];  // the longest shortest form of a double has 24 characters
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

namespace {

// Bytes gathered before they are handed to the file.
constexpr std::size_t WRITE_BYTES = std::size_t{1} << 20;

}  // namespace

ExtractSummary RunExtract(const ExtractRequest& request, std::ostream& err) {
    const std::vector<GridSite> sites = ReadGridSites(request.SitesFile);
    GridExtraction extraction(request.Options);
    for (const std::string& note : extraction.Notes()) err << "note: " << note << '\n';
    DurableFileStream out(request.OutFile);
    std::unique_ptr<DurableFileStream> cells;
    if (!request.CellsFile.empty()) cells = std::make_unique<DurableFileStream>(request.CellsFile);
    out.Write(WEATHER_TABLE_HEADER);
    if (cells) cells->Write(CELLS_HEADER);
    std::string rows, cellRows;
    ExtractSummary summary;
    extraction.Run(sites, [&](const SiteRecord& record) {
        ++summary.Sites;
        if (!record.Error.empty()) {
            ++summary.Failed;
            err << record.Error << '\n';
            return;
        }
        AppendWeatherTableRows(rows, record.Site->Id, record.FirstYear, record.FirstMonth, record.Values);
        if (cells) {
            AppendCsvField(cellRows, record.Site->Id);
            for (double value : {record.Site->Lat, record.Site->Lon, record.Cell.Lat, record.Cell.Lon,
                                 record.Cell.DistanceKm}) {
                cellRows += ',';
                AppendShortest(cellRows, value);
            }
            cellRows.append(",").append(GridMethodName(record.Cell.Method)).append("\n");
        }
        if (rows.size() >= WRITE_BYTES) {
            out.Write(rows);
            rows.clear();
        }
        if (cellRows.size() >= WRITE_BYTES) {
            cells->Write(cellRows);
            cellRows.clear();
        }
    });
    out.Write(rows);
    out.Commit();
    if (cells) {
        cells->Write(cellRows);
        cells->Commit();
    }
    return summary;
}

}  // namespace kelmar::grid
