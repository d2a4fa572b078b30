// The results of a batch from monthly.csv and annual.csv, streamed line by
// line, with the ids and positions of the site list the batch ran (the
// tables hold none).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unordered_map>

#include "app/batch/batch_tables.h"
#include "app/batch/site_list.h"
#include "app/region/region_source.h"
#include "io/csv_text.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::region {

namespace {

namespace fs = std::filesystem;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// One table read a line at a time: its header's columns, then its rows.
class TableStream {
public:
    explicit TableStream(const fs::path& path) : Name(path.string()), In(path) {
        if (!In) throw KelmarError("The batch table \"" + Name + "\" cannot be read.");
        if (!Next(Header)) throw KelmarError("The batch table \"" + Name + "\" is empty.");
    }
    bool Next(std::vector<std::string>& fields) {
        std::string line;
        while (std::getline(In, line)) {
            ++Line;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            CsvReader reader(line, Name, Line);
            if (reader.Next(fields)) return true;
        }
        return false;
    }
    int Column(const std::string& name) const {
        const auto found = std::find(Header.begin(), Header.end(), name);
        if (found == Header.end())
            throw KelmarError("The batch table \"" + Name + "\" has no column " + name + ".");
        return static_cast<int>(found - Header.begin());
    }
    int Has(const std::string& name) const {
        const auto found = std::find(Header.begin(), Header.end(), name);
        return found == Header.end() ? -1 : static_cast<int>(found - Header.begin());
    }
    double Number(const std::vector<std::string>& fields, int column) const {
        if (column >= static_cast<int>(fields.size()))
            throw KelmarError("Line " + std::to_string(Line) + " of \"" + Name + "\" has too few fields.");
        const std::string& text = fields[static_cast<std::size_t>(column)];
        if (text.empty()) return NaN;
        double value = 0;
        if (std::sscanf(text.c_str(), "%lf", &value) != 1)
            throw KelmarError("Line " + std::to_string(Line) + " of \"" + Name + "\" holds \"" + text +
                              "\" where a number belongs.");
        return value;
    }
    std::string Name;
    std::vector<std::string> Header;

private:
    std::ifstream In;
    int Line = 0;
};

class CsvRegion final : public RegionSource {
public:
    CsvRegion(const std::string& dir, const batch::Manifest& manifest, const std::string& sitesFile)
        : Dir(dir), Tasks(manifest.Tasks()) {
        if (sitesFile.empty())
            throw KelmarError("The batch in \"" + dir + "\" has no results.nc, and its tables hold no positions: "
                              "give the site list it ran (--sites FILE) for the sites' lat and lon.");
        const batch::SiteList list = batch::ReadSiteList(sitesFile);
        if (Hex(batch::Fnv1a64(list.Bytes)) != manifest.ListHash)
            throw KelmarError("The site list \"" + sitesFile + "\" is not the one the batch in \"" + dir +
                              "\" ran (its bytes differ).");
        for (const batch::SiteEntry& site : list.Sites) {
            Index.emplace(site.Id, static_cast<std::int64_t>(IdList.size()));
            IdList.push_back(site.Id);
            LatList.push_back(site.Lat.value_or(NaN));
            LonList.push_back(site.Lon.value_or(NaN));
        }
        for (const ResultField& field : RESULT_FIELDS) {
            C.Variables.push_back({field.Key, field.LongName, field.CfUnits});
            Columns.push_back(batch::ColumnName(field));
        }
        C.Scenarios = manifest.ScenarioNames;
        C.Realizations = static_cast<int>(manifest.Realizations());
        C.Sites = static_cast<std::int64_t>(IdList.size());
        // The years of the run, from the annual table (a twelfth of the monthly one).
        TableStream annual(fs::path(dir) / "annual.csv");
        const int year = annual.Column("year");
        std::vector<std::string> fields;
        std::int32_t first = std::numeric_limits<std::int32_t>::max(), last = std::numeric_limits<std::int32_t>::min();
        while (annual.Next(fields)) {
            const auto y = static_cast<std::int32_t>(annual.Number(fields, year));
            first = std::min(first, y);
            last = std::max(last, y);
        }
        if (first > last) throw KelmarError("The batch in \"" + dir + "\" has no results: every site failed.");
        C.FirstYear = first;
        C.LastYear = last;
    }

    const RegionContents& Contents() const override { return C; }
    const std::vector<std::string>& Ids() const override { return IdList; }
    const std::vector<double>& Lats() const override { return LatList; }
    const std::vector<double>& Lons() const override { return LonList; }

    std::vector<std::vector<double>> Means(int variable, const std::vector<RegionTask>& tasks,
                                           const RegionPeriod& period) override {
        const std::size_t sites = IdList.size();
        std::vector<std::vector<double>> sum(tasks.size(), std::vector<double>(sites, 0.0));
        std::vector<std::vector<std::int32_t>> count(tasks.size(), std::vector<std::int32_t>(sites, 0));
        bool wanted[13] = {};
        for (int month : period.Months) wanted[month] = true;
        TableStream table(fs::path(Dir) / "monthly.csv");
        const Row row = RowColumns(table, static_cast<std::size_t>(variable));
        std::vector<std::string> fields;
        while (table.Next(fields)) {
            const auto year = static_cast<std::int32_t>(table.Number(fields, row.Year));
            const auto month = static_cast<int>(table.Number(fields, row.Month));
            if (year < period.FirstYear || year > period.LastYear || month < 1 || month > 12 || !wanted[month]) continue;
            const auto site = Index.find(fields[0]);
            if (site == Index.end()) continue;
            const RegionTask task = TaskOf(table, fields, row);
            for (std::size_t k = 0; k < tasks.size(); ++k) {
                if (tasks[k].Scenario != task.Scenario || tasks[k].Realization != task.Realization) continue;
                const double value = table.Number(fields, row.Value);
                if (std::isnan(value)) continue;
                sum[k][static_cast<std::size_t>(site->second)] += value;
                ++count[k][static_cast<std::size_t>(site->second)];
            }
        }
        for (std::size_t k = 0; k < tasks.size(); ++k)
            for (std::size_t s = 0; s < sites; ++s) sum[k][s] = count[k][s] > 0 ? sum[k][s] / count[k][s] : NaN;
        return sum;
    }

    RegionSite Site(std::int64_t index) override {
        const auto i = static_cast<std::size_t>(index);
        return {IdList[i], LatList[i], LonList[i], {}, {}};
    }

    RegionCourse Course(std::int64_t index, const RegionTask& task) override {
        RegionCourse course;
        course.Variables = C.Variables;
        course.Monthly.resize(C.Variables.size());
        course.Annual.resize(C.Variables.size());
        const std::string& id = IdList[static_cast<std::size_t>(index)];
        for (const bool annual : {false, true}) {
            TableStream table(fs::path(Dir) / (annual ? "annual.csv" : "monthly.csv"));
            const Row row = RowColumns(table, 0, annual);
            std::vector<int> value;
            for (const std::string& column : Columns) value.push_back(table.Column(column));
            std::vector<std::string> fields;
            while (table.Next(fields)) {
                if (fields[0] != id) continue;
                const RegionTask at = TaskOf(table, fields, row);
                if (at.Scenario != task.Scenario || at.Realization != task.Realization) continue;
                const auto year = static_cast<std::int32_t>(table.Number(fields, row.Year));
                (annual ? course.AnnualYears : course.Years).push_back(year);
                if (!annual) course.Months.push_back(static_cast<int>(table.Number(fields, row.Month)));
                for (std::size_t v = 0; v < value.size(); ++v)
                    (annual ? course.Annual : course.Monthly)[v].push_back(table.Number(fields, value[v]));
            }
        }
        return course;
    }

private:
    struct Row {
        int Scenario = -1, Replicate = -1, Year = -1, Month = -1, Value = -1;
    };
    Row RowColumns(const TableStream& table, std::size_t variable, bool annual = false) const {
        Row row;
        if (Tasks) {
            row.Scenario = table.Column("scenario");
            row.Replicate = table.Column("replicate");
        }
        row.Year = table.Column("year");
        if (!annual) row.Month = table.Column("month");
        row.Value = table.Column(Columns[variable]);
        return row;
    }
    RegionTask TaskOf(const TableStream& table, const std::vector<std::string>& fields, const Row& row) const {
        RegionTask task;
        if (!Tasks) return task;
        if (!C.Scenarios.empty()) {
            const std::string& name = fields[static_cast<std::size_t>(row.Scenario)];
            task.Scenario = static_cast<int>(std::find(C.Scenarios.begin(), C.Scenarios.end(), name) - C.Scenarios.begin());
        }
        task.Realization = static_cast<int>(table.Number(fields, row.Replicate));
        return task;
    }

    std::string Dir;
    bool Tasks = false;
    RegionContents C;
    std::vector<std::string> IdList, Columns;
    std::vector<double> LatList, LonList;
    std::unordered_map<std::string, std::int64_t> Index;
};

}  // namespace

std::unique_ptr<RegionSource> CsvSource(const std::string& dir, const batch::Manifest& manifest,
                                        const std::string& sitesFile) {
    return std::make_unique<CsvRegion>(dir, manifest, sitesFile);
}

}  // namespace kelmar::region
