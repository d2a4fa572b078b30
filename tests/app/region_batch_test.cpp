// A batch folder read for maps: each statistic against one computed here
// from monthly.csv, the netCDF and the CSV paths alike, the slices read,
// and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "app/batch/batch_run.h"
#include "app/region/region_batch.h"
#include "io/csv_text.h"
#include "io/io_test_support.h"

namespace kelmar::region {
namespace {

namespace fs = std::filesystem;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;

constexpr const char* VERSION = "0.1.0";
constexpr int REPLICATES = 3;

// Three simulated sites (2001-2005) and one observed (its record's years,
// 1961-1990), each with a position, under two scenarios and three replicates.
struct Batch {
    TempDir Dir;
    std::string Out, CsvOut, Sites;
    Batch() {
        const std::string examples = KELMAR_EXAMPLES_DIR;
        const std::string params = "55.0,2.0,0.08,8,45,85,1.55,3.0,12.0,38.0,10.0,1.6,0,0,2";
        std::string list = "site_id,Lat,M_ff,D_ff,W_WP_ff,W_FC_ff,W_Sat_ff,D_ms,W_WP_ms,W_FC_ms,W_Sat_ms,Wv0_ms,Corr,"
                           "Saturat,Permafr,Fortype,climate_file,weather_file,lat,lon\n";
        for (int i = 0; i < 3; ++i)
            list += "sim" + std::to_string(i) + "," + params + "," + examples + "/climat.cld,," +
                    std::to_string(55 + i) + ",30\n";
        list += "obs," + params + "," + examples + "/climat.cld," + examples + "/weather.wed,60,25\n";
        Sites = Dir.File("sites.csv");
        WriteBytes(Sites, list);
        WriteBytes(Dir.File("scenarios.csv"), "scenario,delta_t,precip_factor\nbase,0,1\nwarm,2,1.1\n");
        batch::BatchOptions o;
        o.SitesFile = Sites;
        o.OutDir = Out = Dir.File("b");
        o.Jobs = 2;
        o.Seed = 7;
        o.Version = VERSION;
        o.ScenariosFile = Dir.File("scenarios.csv");
        o.Replicates = REPLICATES;
        o.StartYear = 2001;
        o.RunYears = 5;
        o.Format = batch::OutputFormat::Both;
        std::ostringstream err;
        batch::RunBatch(o, err);
        // The same batch as a CSV-only one.
        CsvOut = Dir.File("b-csv");
        fs::create_directory(CsvOut);
        for (const char* name : {"manifest.txt", "monthly.csv", "annual.csv", "errors.csv"})
            fs::copy_file(fs::path(Out) / name, fs::path(CsvOut) / name);
    }
};

Batch& Shared() {
    static Batch batch;
    return batch;
}

// monthly.csv's t_ms of each (site, scenario, replicate, year, month).
using Key = std::tuple<std::string, std::string, int, int, int>;
std::map<Key, double> TableValues(const std::string& dir) {
    const std::string bytes = ReadBytes(dir + "/monthly.csv");
    CsvReader reader(bytes, "monthly.csv");
    std::vector<std::string> fields, header;
    reader.Next(header);
    const auto column = std::find(header.begin(), header.end(), "t_ms_degC") - header.begin();
    std::map<Key, double> values;
    while (reader.Next(fields))
        values[{fields[0], fields[1], std::stoi(fields[2]), std::stoi(fields[3]), std::stoi(fields[4])}] =
            std::stod(fields[static_cast<std::size_t>(column)]);
    return values;
}

// The mean of a site's t_ms under one task over the period; NaN where none.
double TaskMean(const std::map<Key, double>& table, const std::string& site, const std::string& scenario, int replicate,
                int y1, int y2, const std::vector<int>& months) {
    double sum = 0;
    int count = 0;
    for (int y = y1; y <= y2; ++y)
        for (int m : months)
            if (const auto found = table.find({site, scenario, replicate, y, m}); found != table.end()) {
                sum += found->second;
                ++count;
            }
    return count ? sum / count : NAN;
}

std::vector<double> Finite(const std::vector<double>& values) {
    std::vector<double> finite;
    for (double v : values)
        if (std::isfinite(v)) finite.push_back(v);
    return finite;
}

double Mean(const std::vector<double>& values) {
    const std::vector<double> finite = Finite(values);
    double sum = 0;
    for (double v : finite) sum += v;
    return finite.empty() ? NAN : sum / static_cast<double>(finite.size());
}

// The statistic of `request` for `site`, from the table alone.
double Expected(const std::map<Key, double>& table, const std::string& site, const MapRequest& r) {
    std::vector<int> months = r.Months;
    if (months.empty()) months = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const auto means = [&](const std::string& scenario) {
        std::vector<double> perRealization;
        for (int k = 0; k < REPLICATES; ++k)
            if (!r.Realization || *r.Realization == k)
                perRealization.push_back(TaskMean(table, site, scenario, k, *r.FirstYear, *r.LastYear, months));
        return perRealization;
    };
    const std::string scenario = r.Scenario.empty() ? "base" : r.Scenario;
    switch (r.Statistic) {
        case MapStatistic::Mean: return Mean(means(scenario));
        case MapStatistic::Difference: return Mean(means(scenario)) - Mean(means(r.OtherScenario));
        case MapStatistic::Percentile: {
            std::vector<double> v = Finite(means(scenario));
            return Percentile(v, r.Percentile);
        }
        case MapStatistic::Spread: {
            std::vector<double> v = Finite(means(scenario));
            return v.empty() ? NAN : Percentile(v, 90) - Percentile(v, 10);
        }
    }
    return NAN;
}

MapRequest Request(MapStatistic statistic, std::vector<int> months, int y1, int y2, std::string scenario = "",
                   std::string other = "", std::optional<int> realization = std::nullopt, double percentile = 50) {
    MapRequest r;
    r.Variable = "t_ms";
    r.Statistic = statistic;
    r.Months = std::move(months);
    r.FirstYear = y1;
    r.LastYear = y2;
    r.Scenario = std::move(scenario);
    r.OtherScenario = std::move(other);
    r.Realization = realization;
    r.Percentile = percentile;
    return r;
}

// Linear interpolation between order statistics; the expected values are numpy.percentile's.
TEST(RegionPercentile, MatchesNumpysDefault) {
    const struct {
        std::vector<double> Values;
        double P, Numpy;
    } cases[] = {
        {{3, 1, 2, 10}, 50, 2.5},     {{3, 1, 2, 10}, 90, 7.900000000000001},
        {{3, 1, 2, 10}, 10, 1.3},     {{5}, 37, 5.0},
        {{2.5, -1}, 25, -0.125},      {{4, 8, 1, 9, 7}, 0, 1.0},
        {{4, 8, 1, 9, 7}, 100, 9.0},  {{4, 8, 1, 9, 7}, 33.3, 4.9959999999999996},
    };
    for (const auto& c : cases) {
        std::vector<double> values = c.Values;
        EXPECT_NEAR(Percentile(values, c.P), c.Numpy, 1e-12) << "P " << c.P << " of " << c.Values.size() << " values";
    }
    std::vector<double> none;
    EXPECT_TRUE(std::isnan(Percentile(none, 50)));
}

// Every statistic equals the one made here from monthly.csv, read through
// results.nc and through the CSV tables alike; the observed site has no
// month in the simulated period and gets NaN, as the simulated ones in its own.
TEST(RegionBatch, StatisticsMatchTheTableOnBothPaths) {
    Batch& b = Shared();
    const std::map<Key, double> table = TableValues(b.Out);
    RegionBatch netcdf = RegionBatch::Open(b.Out, VERSION);
    RegionBatch csv = RegionBatch::Open(b.CsvOut, VERSION, b.Sites);
    ASSERT_TRUE(netcdf.Contents().Netcdf);
    ASSERT_FALSE(csv.Contents().Netcdf);
    for (const RegionBatch* batch : {&netcdf, &csv}) {
        EXPECT_EQ(batch->Contents().FirstYear, 1961);
        EXPECT_EQ(batch->Contents().LastYear, 2005);
        EXPECT_EQ(batch->Contents().Realizations, REPLICATES);
        EXPECT_EQ(batch->Contents().Scenarios, (std::vector<std::string>{"base", "warm"}));
    }
    const MapRequest requests[] = {
        Request(MapStatistic::Mean, {7}, 2002, 2004, "warm"),
        Request(MapStatistic::Mean, {}, 2001, 2005, "base", "", 1),
        Request(MapStatistic::Mean, {1, 2}, 1961, 1962),
        Request(MapStatistic::Difference, {6, 7, 8}, 2001, 2005, "warm", "base"),
        Request(MapStatistic::Percentile, {7}, 2001, 2005, "warm", "", std::nullopt, 90),
        Request(MapStatistic::Spread, {12, 1}, 2001, 2003, "base"),
    };
    for (const MapRequest& r : requests) {
        const RegionMap fromNetcdf = netcdf.Map(r), fromCsv = csv.Map(r);
        ASSERT_EQ(fromNetcdf.Ids, (std::vector<std::string>{"sim0", "sim1", "sim2", "obs"}));
        EXPECT_EQ(fromNetcdf.Lat, fromCsv.Lat);
        EXPECT_EQ(fromNetcdf.Diverging, r.Statistic == MapStatistic::Difference);
        for (std::size_t s = 0; s < fromNetcdf.Ids.size(); ++s) {
            const double want = Expected(table, fromNetcdf.Ids[s], r);
            for (const RegionMap* map : {&fromNetcdf, &fromCsv}) {
                const std::string what = map->Title + (map == &fromCsv ? " (CSV)" : " (netCDF)") + ", site " + map->Ids[s];
                if (std::isnan(want)) {
                    EXPECT_TRUE(std::isnan(map->Value[s])) << what << ": " << map->Value[s] << ", want NaN";
                } else {
                    EXPECT_NEAR(map->Value[s], want, 1e-9) << what;
                }
            }
        }
        const bool observedPeriod = *r.FirstYear < 2000;
        EXPECT_EQ(std::isnan(fromNetcdf.Value[3]), !observedPeriod) << fromNetcdf.Title;
        EXPECT_EQ(std::isnan(fromNetcdf.Value[0]), observedPeriod) << fromNetcdf.Title;
    }
    EXPECT_EQ(netcdf.Map(requests[0]).Units, "degC");
}

// A map reads the months shown and nothing more: one month of two years is
// two values per site and realization.
TEST(RegionBatch, ReadsOnlyTheSliceShown) {
    RegionBatch batch = RegionBatch::Open(Shared().Out, VERSION);
    const std::uint64_t sites = 4;
    std::uint64_t before = batch.ValuesRead();
    batch.Map(Request(MapStatistic::Mean, {7}, 2002, 2003, "warm", "", 1));
    EXPECT_EQ(batch.ValuesRead() - before, 2 * sites);
    before = batch.ValuesRead();
    batch.Map(Request(MapStatistic::Spread, {1, 7, 12}, 2001, 2005));
    EXPECT_EQ(batch.ValuesRead() - before, 3 * 5 * sites * REPLICATES);
}

TEST(RegionBatch, SiteCourseAndInfo) {
    Batch& b = Shared();
    const std::map<Key, double> table = TableValues(b.Out);
    RegionBatch netcdf = RegionBatch::Open(b.Out, VERSION);
    RegionBatch csv = RegionBatch::Open(b.CsvOut, VERSION, b.Sites);
    for (RegionBatch* batch : {&netcdf, &csv}) {
        const RegionCourse course = batch->SiteCourse(1, "warm", 2);
        std::size_t t_ms = 0;
        while (course.Variables[t_ms].Name != "t_ms") ++t_ms;
        std::size_t checked = 0;
        for (std::size_t i = 0; i < course.Years.size(); ++i) {
            const auto found = table.find({"sim1", "warm", 2, course.Years[i], course.Months[i]});
            if (found == table.end()) continue;
            EXPECT_EQ(course.Monthly[t_ms][i], found->second) << course.Years[i] << "-" << course.Months[i];
            ++checked;
        }
        EXPECT_EQ(checked, 60u);
        EXPECT_FALSE(course.AnnualYears.empty());
        EXPECT_EQ(batch->SiteInfo(3).Id, "obs");
        EXPECT_EQ(batch->SiteInfo(3).Lat, 60);
    }
    EXPECT_FALSE(netcdf.SiteInfo(0).ParamNames.empty());
}

// Each refusal names what is wrong and what there is.
TEST(RegionBatch, RefusalsNameTheFault) {
    Batch& b = Shared();
    TempDir dir;
    const auto withManifest = [&](const std::string& name, const std::string& from, const std::string& to) {
        const std::string folder = dir.File(name);
        fs::create_directory(folder);
        for (const char* file : {"manifest.txt", "monthly.csv", "annual.csv"})
            fs::copy_file(fs::path(b.CsvOut) / file, fs::path(folder) / file);
        std::string text = ReadBytes(folder + "/manifest.txt");
        text.replace(text.find(from), from.size(), to);
        WriteBytes(folder + "/manifest.txt", text);
        return folder;
    };
    fs::create_directory(dir.File("empty"));
    const std::string newer = withManifest("newer", "version=0.1.0", "version=0.10.0");
    const std::string format = withManifest("format", "kelmar-batch-manifest 1", "kelmar-batch-manifest 2");
    const std::string unjoined = withManifest("unjoined", "joined_failed_sites=0\n", "");
    const std::string summary = withManifest("summary", "version=0.1.0\n", "version=0.1.0\nsummary=1\n");
    // No lat/lon for two sites: the list the CSV batch reads them from, with the same bytes otherwise.
    const struct {
        std::string Dir, Sites;
        std::function<void(RegionBatch&)> Act;
        std::string Says;
    } cases[] = {
        {dir.File("empty"), "", {}, "has no manifest.txt"},
        {newer, b.Sites, {}, "written by kelmar-cli 0.10.0, newer than this program (0.1.0)"},
        {format, b.Sites, {}, "newer format (kelmar-batch-manifest 2"},
        {unjoined, b.Sites, {}, "chunks 0 of 1 (numbered from 0) are not done"},
        {summary, b.Sites, {}, "ran with --summary"},
        {b.CsvOut, "", {}, "give the site list it ran (--sites FILE)"},
        {b.CsvOut, dir.File("other.csv"), {}, "other.csv"},
        {b.Out, "", [](RegionBatch& r) { r.Map(Request(MapStatistic::Mean, {7}, 2001, 2002, "hot")); },
         "The scenario \"hot\" is not in the batch; its scenarios are base, warm."},
        {b.Out, "", [](RegionBatch& r) { r.Map(Request(MapStatistic::Difference, {7}, 2001, 2002, "warm", "cold")); },
         "The scenario to subtract \"cold\" is not in the batch; its scenarios are base, warm."},
        {b.Out, "", [](RegionBatch& r) { auto q = Request(MapStatistic::Mean, {7}, 2001, 2002); q.Variable = "t_x"; r.Map(q); },
         "The variable \"t_x\" is not in the batch; its variables are tair, t_ff, tsoil, t_ms, prec"},
        {b.Out, "", [](RegionBatch& r) { r.Map(Request(MapStatistic::Mean, {7}, 2001, 2002, "", "", 3)); },
         "Realization 3 is not in the batch; its realizations are 0 to 2."},
        {b.Out, "", [](RegionBatch& r) { r.Map(Request(MapStatistic::Mean, {7}, 2001, 2071)); },
         "The years 2001-2071 lie outside the run, whose years are 1961-2005."},
        {b.Out, "", [](RegionBatch& r) { r.Map(Request(MapStatistic::Mean, {0, 7}, 2001, 2002)); },
         "Month 0 is no month: months are 1 to 12."},
        {b.Out, "", [](RegionBatch& r) { r.Map(Request(MapStatistic::Percentile, {7}, 2001, 2002, "", "", std::nullopt, 101)); },
         "The percentile 101 is not within 0 to 100."},
    };
    WriteBytes(dir.File("other.csv"), "site_id,lat\n");
    for (const auto& c : cases) {
        const std::string message = kelmar::testing::ErrorText([&] {
            RegionBatch batch = RegionBatch::Open(c.Dir, VERSION, c.Sites);
            if (c.Act) c.Act(batch);
        });
        EXPECT_NE(message.find(c.Says), std::string::npos) << "folder " << c.Dir << ": " << message;
    }
}

// A map places every site: a batch with sites without lat/lon is refused, naming them.
TEST(RegionBatch, SitesWithoutPositionsAreNamed) {
    TempDir dir;
    const std::string examples = KELMAR_EXAMPLES_DIR;
    std::string list = "site_id,site_file,climate_file,lat,lon\n";
    for (int i = 0; i < 7; ++i)
        list += "s" + std::to_string(i) + "," + examples + "/soil.sit," + examples + "/climat.cld," +
                (i == 2 ? ",\n" : "55,30\n");
    WriteBytes(dir.File("sites.csv"), list);
    batch::BatchOptions o;
    o.SitesFile = dir.File("sites.csv");
    o.OutDir = dir.File("b");
    o.Seed = 1;
    o.Version = VERSION;
    o.RunYears = 2;
    o.Format = batch::OutputFormat::NetCdf;
    std::ostringstream err;
    batch::RunBatch(o, err);
    RegionBatch batch = RegionBatch::Open(dir.File("b"), VERSION);
    MapRequest request;
    request.Variable = "t_ms";
    EXPECT_EQ(kelmar::testing::ErrorText([&] { batch.Map(request); }),
              "1 of 7 sites have no lat/lon (s2); a map places each site by them: give lat and lon in the site list.");
}

}  // namespace
}  // namespace kelmar::region
