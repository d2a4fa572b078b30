#include "app/batch/site_list.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "io/site_file.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::batch {

namespace {

// A list of a million sites with every parameter as a column is about
// 200 MB; the limit leaves room to spare and refuses a mistaken huge file.
constexpr DataFileLimit SITE_LIST_LIMIT = {"site list", 1024 * MIB};

enum class ColumnKind { Id, SiteFile, Param, Climate, Weather, Seed, Lat, Lon };

struct ListColumn {
    ColumnKind Kind;
    const SiteField* Field = nullptr;  // for Param
};

constexpr std::pair<const char*, ColumnKind> NAMED_COLUMNS[] = {
    {"site_id", ColumnKind::Id},          {"site_file", ColumnKind::SiteFile}, {"climate_file", ColumnKind::Climate},
    {"weather_file", ColumnKind::Weather}, {"seed", ColumnKind::Seed},          {"lat", ColumnKind::Lat},
    {"lon", ColumnKind::Lon},
};

std::string KnownColumnNames() {
    std::string names = "site_id, site_file, ";
    for (const SiteField& field : SITE_FIELDS) names.append(field.Key).append(", ");
    return names + "climate_file, weather_file, seed, lat, lon";
}

ListColumn ColumnNamed(const std::string& name) {
    for (const auto& [key, kind] : NAMED_COLUMNS)
        if (name == key) return {kind};
    for (const SiteField& field : SITE_FIELDS)
        if (name == field.Key) return {ColumnKind::Param, &field};
    throw KelmarError("The column \"" + name + "\" is unknown; a site list has the columns " + KnownColumnNames() + ".");
}

std::string Relative(const std::string& folder, const std::string& path) {
    const std::filesystem::path p = PathOf(path);
    if (p.is_absolute() || folder.empty()) return path;
    return Utf8Name(PathOf(folder) / p);
}

std::uint32_t ParseSeed(const std::string& text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        throw KelmarError("The seed '" + text + "' is not a whole number from 0 to 4294967295.");
    return value;
}

// The range is the one the netCDF output's coordinates take (degrees east
// from -180 or from 0), so a list read here never fails at the merge.
double ParseDegrees(const std::string& text, const char* column, double lowest, double highest) {
    const double value = ParseReal(text);
    if (!(value >= lowest && value <= highest))  // NaN too
        throw KelmarError(std::string("The ") + column + " " + text + " lies outside " + std::to_string(int(lowest)) +
                          " to " + std::to_string(int(highest)) + " degrees.");
    return value;
}

// An error whose message already names its place in the list.
class LocatedError : public KelmarError {
public:
    using KelmarError::KelmarError;
};

class ErrorList {
public:
    explicit ErrorList(std::string fileName) : FileName(std::move(fileName)) {}
    template <typename Action>
    void AtLine(int line, Action&& action) {
        try {
            action();
        } catch (const LocatedError& e) {
            Add(e.what());
        } catch (const KelmarError& e) {
            Add(WithLocationLine(e.what(), FileLineLocation(FileName, line)));
        }
    }
    void Add(const std::string& message) {
        if (Count++ < SHOWN_LIST_ERRORS) Text.append(Text.empty() ? "" : "\n").append(message);
    }
    void ThrowIfAny() const {
        if (Count == 0) return;
        std::string all = "The site list \"" + FileName + "\" has " + std::to_string(Count) +
                          (Count == 1 ? " fault" : " faults") + "; no site was run.\n" + Text;
        if (Count > SHOWN_LIST_ERRORS) all += "\n... and " + std::to_string(Count - SHOWN_LIST_ERRORS) + " more";
        throw KelmarError(all);
    }

private:
    std::string FileName;
    std::string Text;
    int Count = 0;
};

// Raises the not-found warning of a missing list as an error.
class RefusingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { throw KelmarError(text); }
};

}  // namespace

SiteList ParseSiteList(std::string bytes, const std::string& fileName, const std::string& folder) {
    SiteList list;
    list.FileName = fileName;
    list.Bytes = std::move(bytes);
    CsvReader reader(list.Bytes, fileName);
    std::vector<std::string> fields;
    if (!reader.Next(fields)) throw KelmarError("The site list \"" + fileName + "\" is empty; it needs a header row.");

    ErrorList errors(fileName);
    std::vector<ListColumn> columns;
    bool hasId = false, hasSiteFile = false, hasParam = false, hasLat = false, hasParamLat = false;
    errors.AtLine(reader.LineNumber(), [&] {
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const ListColumn column = ColumnNamed(fields[k]);
            if (std::find(fields.begin(), fields.begin() + static_cast<long>(k), fields[k]) != fields.begin() + static_cast<long>(k))
                throw KelmarError("The column \"" + fields[k] + "\" is named twice.");
            columns.push_back(column);
            hasId |= column.Kind == ColumnKind::Id;
            hasSiteFile |= column.Kind == ColumnKind::SiteFile;
            hasParam |= column.Kind == ColumnKind::Param;
            hasLat |= column.Kind == ColumnKind::Lat;
            hasParamLat |= column.Kind == ColumnKind::Param && column.Field->Real == &TSiteParams::Lat;
        }
        if (!hasId) throw KelmarError("The header names no column \"site_id\".");
        if (hasSiteFile && hasParam)
            throw KelmarError("The header names both site_file and site parameters; give either.");
        if (!hasSiteFile && !hasParam)
            throw KelmarError("The header names neither site_file nor any site parameter (" + KnownColumnNames() + ").");
        // "lat" only places a site on a map; without "Lat" the model would
        // silently run at the equator.
        if (hasParam && hasLat && !hasParamLat)
            throw KelmarError("The column \"lat\" only places a site on maps; the model's latitude is the column \"Lat\".");
    });
    errors.ThrowIfAny();

    std::unordered_map<std::string, int> firstLine;
    while (reader.Next(fields)) {
        SiteEntry site;
        site.Line = reader.LineNumber();
        ApplySiteDefaults(site.Params);
        errors.AtLine(site.Line, [&] {
            if (fields.size() != columns.size())
                throw KelmarError("The row has " + std::to_string(fields.size()) + " fields; the header names " +
                                  std::to_string(columns.size()) + ".");
            for (std::size_t k = 0; k < columns.size(); ++k) {
                const std::string& text = fields[k];
                const ListColumn& column = columns[k];
                const bool optional = column.Kind == ColumnKind::Seed || column.Kind == ColumnKind::Lat ||
                                      column.Kind == ColumnKind::Lon || column.Kind == ColumnKind::Climate ||
                                      column.Kind == ColumnKind::Weather;
                if (text.empty() && !optional) {
                    const std::string name = column.Kind == ColumnKind::Param ? column.Field->Key
                                             : column.Kind == ColumnKind::Id ? "site_id" : "site_file";
                    throw KelmarError("The field " + name + " is empty.");
                }
                if (text.empty()) continue;
                switch (column.Kind) {
                    case ColumnKind::Id: site.Id = text; break;
                    case ColumnKind::SiteFile: site.SiteFile = Relative(folder, text); break;
                    case ColumnKind::Param:
                        try {
                            ParseSiteLine(site.Params, std::string(column.Field->Key) + "," + text);
                        } catch (const KelmarError& e) {
                            throw LocatedError(WithLocationLine(
                                e.what(), FileLineLocation(fileName, site.Line) + ", column " + column.Field->Key));
                        }
                        break;
                    case ColumnKind::Climate: site.ClimateFile = Relative(folder, text); break;
                    case ColumnKind::Weather: site.WeatherFile = Relative(folder, text); break;
                    case ColumnKind::Seed: site.Seed = ParseSeed(text); break;
                    case ColumnKind::Lat: site.Lat = ParseDegrees(text, "lat", -90, 90); break;
                    case ColumnKind::Lon: site.Lon = ParseDegrees(text, "lon", -180, 360); break;
                }
            }
            if (site.ClimateFile.empty() && site.WeatherFile.empty())
                throw KelmarError("The site \"" + site.Id + "\" has neither a climate_file nor a weather_file.");
            const auto [seen, added] = firstLine.emplace(site.Id, site.Line);
            if (!added)
                throw KelmarError("The site_id \"" + site.Id + "\" was given before, on line " +
                                  std::to_string(seen->second) + ".");
        });
        list.Sites.push_back(std::move(site));
    }
    errors.ThrowIfAny();
    if (list.Sites.empty()) throw KelmarError("The site list \"" + fileName + "\" names no site.");
    return list;
}

SiteList ReadSiteList(const std::string& fileName) {
    RefusingNotifier notifier;
    std::optional<std::string> bytes =
        ReadDataFile(fileName, "The site list \"%s\" was not found.", SITE_LIST_LIMIT, notifier);
    const std::filesystem::path folder = PathOf(fileName).parent_path();
    return ParseSiteList(std::move(*bytes), fileName, Utf8Name(folder));
}

}  // namespace kelmar::batch
