#include "app/grid/extract_run.h"

#include <charconv>
#include <memory>

#include "app/grid/grid_extraction.h"
#include "io/csv_text.h"
#include "io/file_stream.h"
#include "io/path_names.h"
#include "io/posix_file.h"
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

ExtractSummary WriteSiteRecords(GridExtraction& extraction, const std::vector<GridSite>& sites,
                                const std::string& outFile, const std::string& cellsFile,
                                const std::function<void(const SiteRecord&)>& failed) {
    DurableFileStream out(outFile);
    std::unique_ptr<DurableFileStream> cells;
    if (!cellsFile.empty()) cells = std::make_unique<DurableFileStream>(cellsFile);
    out.Write(WEATHER_TABLE_HEADER);
    if (cells) cells->Write(CELLS_HEADER);
    std::string rows, cellRows;
    ExtractSummary summary;
    extraction.Run(sites, [&](const SiteRecord& record) {
        ++summary.Sites;
        if (!record.Error.empty()) {
            ++summary.Failed;
            failed(record);
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

ExtractSummary RunExtract(const ExtractRequest& request, std::ostream& err) {
    const std::vector<GridSite> sites = ReadGridSites(request.SitesFile);
    // What an extraction killed outright left beside its files.
    for (const std::string* file : {&request.OutFile, &request.CellsFile})
        if (!file->empty()) RemoveStaleTemporaries(PathOf(*file).parent_path().empty() ? "." : PathOf(*file).parent_path());
    GridExtraction extraction(request.Options);
    for (const std::string& note : extraction.Notes()) err << "note: " << note << '\n';
    return WriteSiteRecords(extraction, sites, request.OutFile, request.CellsFile,
                            [&](const SiteRecord& record) { err << record.Error << '\n'; });
}

}  // namespace kelmar::grid
