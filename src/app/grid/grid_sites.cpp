#include "app/grid/grid_sites.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/number_text.h"
#include "model/errors.h"

namespace kelmar::grid {

namespace {

// A list of a million sites at some 100 bytes a row; far beyond any real one.
constexpr DataFileLimit GRID_SITES_LIMIT = {"site list", 512 * MIB};

class RaisingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { throw KelmarError(text); }
};

}  // namespace

std::vector<GridSite> ParseGridSites(std::string_view bytes, const std::string& fileName) {
    CsvReader reader(bytes, fileName);
    std::vector<std::string> fields;
    if (!reader.Next(fields)) throw KelmarError("The site list \"" + fileName + "\" is empty; it needs a header row.");
    int idAt = -1, latAt = -1, lonAt = -1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == "site_id") idAt = static_cast<int>(i);
        if (fields[i] == "lat") latAt = static_cast<int>(i);
        if (fields[i] == "lon") lonAt = static_cast<int>(i);
    }
    if (idAt < 0 || latAt < 0 || lonAt < 0)
        throw KelmarError("The site list \"" + fileName + "\" (line " + std::to_string(reader.LineNumber()) +
                          ") needs the columns site_id, lat and lon in its header row.");
    std::vector<GridSite> sites;
    std::unordered_map<std::string, int> seen;
    while (reader.Next(fields)) {
        GridSite site;
        site.Line = reader.LineNumber();
        const std::string where = "The site list \"" + fileName + "\", line " + std::to_string(site.Line) + ": ";
        if (fields.size() <= static_cast<std::size_t>(std::max({idAt, latAt, lonAt}))) {
            site.Fault = where + "the row has " + std::to_string(fields.size()) + " fields, too few for site_id, lat and lon.";
            sites.push_back(std::move(site));
            continue;
        }
        site.Id = fields[idAt];
        const auto coordinate = [&](int at, const char* name, double limit, double& value) {
            if (!site.Fault.empty()) return;
            try {
                value = ParseReal(fields[at]);
            } catch (const KelmarError& e) {
                site.Fault = where + name + ": " + e.what() + ".";
                return;
            }
            if (!std::isfinite(value) || std::fabs(value) > limit)
                site.Fault = where + name + " needs degrees from -" + std::to_string(int(limit)) + " to " +
                             std::to_string(int(limit)) + ", not '" + fields[at] + "'.";
        };
        if (site.Id.empty()) site.Fault = where + "the site_id is empty.";
        coordinate(latAt, "lat", 90, site.Lat);
        coordinate(lonAt, "lon", 180, site.Lon);
        if (site.Fault.empty()) {
            const auto [before, fresh] = seen.emplace(site.Id, site.Line);
            if (!fresh)
                site.Fault = where + "the site \"" + site.Id + "\" is given before, on line " +
                             std::to_string(before->second) + ".";
        }
        sites.push_back(std::move(site));
    }
    return sites;
}

std::vector<GridSite> ReadGridSites(const std::string& fileName) {
    RaisingNotifier notifier;
    const std::optional<std::string> bytes =
        ReadDataFile(fileName, "The site list \"%s\" does not exist.", GRID_SITES_LIMIT, notifier);
    return ParseGridSites(*bytes, fileName);
}

}  // namespace kelmar::grid
