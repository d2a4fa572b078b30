#include "app/batch/batch_grid.h"

#include <charconv>
#include <vector>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_run.h"
#include "app/batch/stream_digest.h"
#include "app/grid/extract_run.h"
#include "app/grid/grid_extraction.h"
#include "io/path_names.h"

namespace kelmar::batch {

std::string GridRecordsPath(const std::filesystem::path& dir) {
    return Utf8Name(dir / PARTS_FOLDER / GRID_RECORDS_FILE);
}

void AddGridInputs(BatchInputs& inputs, const grid::ExtractOptions& options) {
    for (const std::string& file : options.GridFiles) inputs.Files.push_back(IdentifyInput(file, 0));
    inputs.Hash = FoldIdentities(inputs.Identities());
}

std::string GridOptionsDigest(const grid::ExtractOptions& options) {
    char distance[32];
    std::string text = std::string("method=") + grid::GridMethodName(options.Method) + "\nmax_distance_km=";
    text.append(distance, std::to_chars(distance, distance + sizeof distance, options.MaxDistanceKm).ptr);
    for (std::size_t k = 0; k < grid::RECORD_KEYS.size(); ++k)
        text += std::string("\n") + grid::RECORD_KEYS[k] + "=" + options.VariableNames[k] + "\n" +
                grid::RECORD_KEYS[k] + "_units=" + options.Units[k];
    return DigestHex(DigestOf(text));
}

GridFaults ExtractGridRecords(const SiteListFile& list, const grid::ExtractOptions& options,
                              const std::filesystem::path& dir, std::ostream& err) {
    std::vector<grid::GridSite> sites;
    for (std::int64_t block = 0; block * CHUNK_SITES < list.Count(); ++block)
        for (const SiteEntry& entry : list.ReadBlock(block)) {
            if (!entry.FromGrid) continue;
            grid::GridSite& site = sites.emplace_back();
            site.Id = entry.Id;
            site.Line = entry.Line;
            site.Lat = *entry.Lat;
            // The list takes degrees east from 0 too; the grid's sites lie in -180..180.
            site.Lon = *entry.Lon > 180 ? *entry.Lon - 360 : *entry.Lon;
        }
    GridFaults faults;
    if (sites.empty()) return faults;
    grid::GridExtraction extraction(options);
    for (const std::string& note : extraction.Notes()) err << "note: " << note << '\n';
    grid::WriteSiteRecords(extraction, sites, GridRecordsPath(dir), Utf8Name(dir / GRID_CELLS_FILE),
                           [&](const grid::SiteRecord& record) { faults.emplace(record.Site->Id, record.Error); });
    return faults;
}

}  // namespace kelmar::batch
