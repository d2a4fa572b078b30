#include "io/climatology_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "io/climatology_file.h"
#include "io/csv_text.h"
#include "io/data_file_names.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "model/errors.h"
#include "model/lognormal_precipitation.h"

namespace kelmar {

namespace {

constexpr std::string_view TABLE_EXTENSION = ".csv";

// The header's columns: site_id, month, then the fields in CLIMATE_FIELDS order.
constexpr int SITE_ID = 0, MONTH = 1, FIRST_FIELD = 2;
constexpr int COLUMN_COUNT = FIRST_FIELD + CLIMATE_FIELD_COUNT;

std::vector<std::string> ColumnNames() {
    std::vector<std::string> names = {"site_id", "month"};
    for (const ClimateField& field : CLIMATE_FIELDS) names.push_back(ClimateColumnName(field));
    return names;
}

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

// The position of each column in the file's rows.
std::array<int, COLUMN_COUNT> ReadHeader(const std::vector<std::string>& fields) {
    const std::vector<std::string> names = ColumnNames();
    std::array<int, COLUMN_COUNT> position;
    position.fill(-1);
    for (int k = 0; k < static_cast<int>(fields.size()); ++k) {
        const auto known = std::find(names.begin(), names.end(), fields[k]);
        if (known == names.end())
            throw KelmarError("The column \"" + fields[k] + "\" is not one of " + JoinedNames(names) + ".");
        const auto c = known - names.begin();
        if (position[c] >= 0) throw KelmarError("The column \"" + fields[k] + "\" is named twice.");
        position[c] = k;
    }
    for (int c = 0; c < COLUMN_COUNT; ++c)
        if (position[c] < 0) throw KelmarError("The header names no column \"" + names[c] + "\".");
    return position;
}

// What a site's rows have given so far: the months and the line of each.
struct SiteMonths {
    std::array<int, 13> Line{};  // 0: not given
};

double FieldValue(const std::string& text, const ClimateField& field) {
    const double value = WithErrorLocation([&] { return "in the column " + ClimateColumnName(field); },
                                           [&] { return ParseReal(text); });
    return value;
}

}  // namespace

bool IsClimatologyTableName(std::string_view fileName) {
    if (fileName.size() < TABLE_EXTENSION.size()) return false;
    const std::string_view tail = fileName.substr(fileName.size() - TABLE_EXTENSION.size());
    return std::equal(tail.begin(), tail.end(), TABLE_EXTENSION.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

std::string ClimateColumnName(const ClimateField& field) {
    const std::string_view unit = field.Unit;
    return unit == "1" ? std::string(field.Key) : std::string(field.Key) + "_" + std::string(unit);
}

std::string ClimatologyTableHeader() {
    std::string header = "site_id,month";
    for (const ClimateField& field : CLIMATE_FIELDS) header += "," + ClimateColumnName(field);
    return header + "\n";
}

void ClimatologyTable::Store(TModel& model, const std::string& siteId) const {
    std::string id = siteId;
    if (id.empty()) {
        if (SiteIds.size() != 1)
            throw KelmarError("The climatology table \"" + FileName + "\" holds " + std::to_string(SiteIds.size()) +
                              " sites; name the site whose climatology to read.");
        id = SiteIds.front();
    }
    const auto found = Sites.find(id);
    if (found == Sites.end())
        throw KelmarError("The climatology table \"" + FileName + "\" has no rows for the site \"" + id + "\".");
    TClimatology climate = found->second;
    for (int m = 1; m <= 12; ++m)
        WithErrorLocation(
            [&] {
                return "in \"" + FileName + "\", the site \"" + id + "\", av_P and Cv_P of month " + std::to_string(m);
            },
            [&] { DeriveLognormalMonth(climate, m); });
    model.Climate = climate;
}

std::shared_ptr<const ClimatologyTable> ReadClimatologyTableBytes(std::string_view bytes, const std::string& fileName) {
    RefuseUtf16File(bytes, fileName);
    auto table = std::make_shared<ClimatologyTable>();
    table->FileName = fileName;
    CsvReader reader(bytes, fileName);
    std::vector<std::string> fields;
    if (!reader.Next(fields))
        throw KelmarError("The climatology table \"" + fileName + "\" is empty; it needs a header row.");
    const auto position = AtFileLine(fileName, reader.LineNumber(), [&] { return ReadHeader(fields); });
    const std::size_t width = fields.size();
    std::unordered_map<std::string, SiteMonths> given;
    while (reader.Next(fields)) {
        const int line = reader.LineNumber();
        AtFileLine(fileName, line, [&] {
            if (fields.size() != width)
                throw KelmarError("The row has " + std::to_string(fields.size()) + " fields; the header names " +
                                  std::to_string(width) + ".");
            const std::string& id = fields[position[SITE_ID]];
            if (id.empty()) throw KelmarError("The row has no site_id.");
            const std::int32_t month = ParseInteger(fields[position[MONTH]], IntegerForm::Decimal);
            if (month < 1 || month > 12)
                throw KelmarError("The month " + std::to_string(month) + " lies outside 1 to 12.");
            SiteMonths& months = given[id];
            if (months.Line[month] != 0)
                throw KelmarError("The site \"" + id + "\" has a second row for the month " + std::to_string(month) +
                                  " (the first is on line " + std::to_string(months.Line[month]) + ").");
            auto [entry, added] = table->Sites.try_emplace(id);
            if (added) table->SiteIds.push_back(id);
            for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v) {
                const ClimateField& field = CLIMATE_FIELDS[v];
                (entry->second.*field.Values)[month] = FieldValue(fields[position[FIRST_FIELD + v]], field);
            }
            months.Line[month] = line;
        });
    }
    // Every site needs its twelve months: a month left out would run as zeros.
    for (const std::string& id : table->SiteIds) {
        const SiteMonths& months = given[id];
        std::string missing;
        int firstLine = 0;
        for (int m = 1; m <= 12; ++m) {
            if (months.Line[m] == 0) missing += (missing.empty() ? "" : ", ") + std::to_string(m);
            else if (firstLine == 0 || months.Line[m] < firstLine) firstLine = months.Line[m];
        }
        if (!missing.empty())
            throw KelmarError(WithLocationLine("The site \"" + id + "\" has no row for the month " + missing +
                                                   "; a climatology needs all twelve.",
                                               FileLineLocation(fileName, firstLine)));
    }
    return table;
}

bool ReadClimatologyTableFile(TModel& model, const std::string& fileName, const std::string& siteId,
                              Notifier& notifier) {
    const std::optional<std::string> bytes =
        ReadDataFile(fileName, CLIMATOLOGY_NOT_FOUND_MESSAGE, CLIMATOLOGY_TABLE_LIMIT, notifier);
    if (!bytes) return false;
    ReadClimatologyTableBytes(*bytes, fileName)->Store(model, siteId);
    return true;
}

bool ReadAnyClimatologyFile(TModel& model, const std::string& fileName, const std::string& siteId,
                            Notifier& notifier) {
    if (IsClimatologyTableName(fileName)) return ReadClimatologyTableFile(model, fileName, siteId, notifier);
    return ReadClimatologyFile(model, fileName, notifier);
}

std::string ClimatologyFileName(const std::string& fileName) {
    return IsClimatologyTableName(fileName) ? fileName : ReplaceExtension(fileName, CLIMATOLOGY_EXTENSION);
}

}  // namespace kelmar
