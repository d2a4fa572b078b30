// kelmar-cli batch --estimate-climate run as a program: each site's
// climatology is the one `kelmar-cli estimate` writes of its record (a tidy
// table of several sites and a .wed file, over the whole record and over a
// reference period), the batch runs as one from those files and from its
// own climatologies.csv, and the sites it cannot estimate are error rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "io/climatology_file.h"
#include "io/climatology_table.h"
#include "model/model_state.h"
#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using kelmar::testing::FileText;
using kelmar::testing::WriteFileText;

// A station's monthly record: a seasonal cycle around `meanT` degC with
// precipitation about `precip` mm a month, soil temperature following the
// air, and year-to-year noise from a small generator so that the
// regressions have something to fit. `soillessMonth` (1..12) has no soil
// temperature in any year.
struct Station {
    const char* Id;
    double MeanT, Precip;
    int SoillessMonth = 0;
};

std::string TidyWeather(const std::vector<Station>& stations, int firstYear, int years) {
    std::string text = "site_id,year,month,tair,prec,tsoil\n";
    std::uint32_t state = 12345;
    const auto noise = [&state] {  // uniform in -1..1
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / (1u << 23) - 1.0;
    };
    for (const Station& s : stations)
        for (int y = firstYear; y < firstYear + years; ++y)
            for (int m = 1; m <= 12; ++m) {
                const double tair = s.MeanT - 12 * std::cos(2 * M_PI * (m - 0.5) / 12) + 2.5 * noise();
                const double prec = std::max(0.0, s.Precip * (1 + 0.6 * noise()));
                const double tsoil = 0.7 * tair + 2 + 0.8 * noise();
                char row[160];
                std::snprintf(row, sizeof row, "%s,%d,%d,%.1f,%.1f,", s.Id, y, m, tair, prec);
                text += row;
                if (m != s.SoillessMonth) {
                    std::snprintf(row, sizeof row, "%.1f", tsoil);
                    text += row;
                }
                text += "\n";
            }
    return text;
}

struct EstimateClimateProgram : ::testing::Test {
    kelmar::testing::ExampleFolder folder{"kelmar-estimate-climate"};
    const fs::path& dir = folder.Path();
    kelmar::testing::ProgramOutcome last;

    int Run(const std::vector<std::string>& args) {
        last = kelmar::testing::RunProgram(KELMAR_CLI, args, dir, dir / ".capture");
        return last.status;
    }
    std::string Outputs(const std::string& out) const {
        std::string all;
        for (const char* name : {"monthly.csv", "annual.csv", "errors.csv"}) all += FileText(dir / out / name);
        return all;
    }
    // A site list of `rows` ("id,climate_file,weather_file"), each on soil.sit.
    void List(const std::string& name, const std::vector<std::string>& rows) {
        std::string text = "site_id,site_file,climate_file,weather_file\n";
        for (const std::string& row : rows) text += row.substr(0, row.find(',')) + ",soil.sit" + row.substr(row.find(',')) + "\n";
        WriteFileText(dir / name, text);
    }
    // The differences of the climatology of site `id` in the tidy table
    // `table` from the climatology file `cld`, value by value to the bit
    // (the sign of a zero too); empty when there are none.
    std::string Differences(const std::string& table, const std::string& id, const std::string& cld) const {
        auto fromTable = std::make_unique<kelmar::TModel>(), fromFile = std::make_unique<kelmar::TModel>();
        kelmar::ReadClimatologyTableBytes(FileText(dir / table), table)->Store(*fromTable, id);
        kelmar::ReadClimatologyBytes(*fromFile, FileText(dir / cld), cld);
        std::string differences;
        for (const kelmar::ClimateField& field : kelmar::CLIMATE_FIELDS)
            for (int m = 1; m <= 12; ++m) {
                const double a = (fromTable->Climate.*field.Values)[m], b = (fromFile->Climate.*field.Values)[m];
                if (std::bit_cast<std::uint64_t>(a) != std::bit_cast<std::uint64_t>(b))
                    differences += std::string(" ") + field.Key + " month " + std::to_string(m) + ": " +
                                   std::to_string(a) + " in " + table + ", " + std::to_string(b) + " in " + cld + ";";
            }
        return differences;
    }
};

// Three stations of different climates in one tidy table and the example
// .wed (both 1961-1990): the batch's climatologies are the values of the
// files estimate writes, to the bit, and the batch's tables are those of the same sites
// run from the estimate's files and from climatologies.csv.
TEST_F(EstimateClimateProgram, EachSiteRunsFromTheClimatologyEstimateWritesOfItsRecord) {
    WriteFileText(dir / "stations.csv", TidyWeather({{"boreal", -1, 45}, {"temperate", 9, 70}, {"dry", 12, 18}}, 1961, 30));
    const std::vector<std::pair<std::string, std::string>> sites = {
        {"boreal", "stations.csv"}, {"temperate", "stations.csv"}, {"wed", "weather.wed"}, {"dry", "stations.csv"}};
    for (const std::string reference : {"", "1965-1984"}) {
        SCOPED_TRACE("reference '" + reference + "'");
        const std::vector<std::string> withReference =
            reference.empty() ? std::vector<std::string>{} : std::vector<std::string>{"--reference", reference};
        std::vector<std::string> estimated, fromFiles, fromTable;
        for (const auto& [id, weather] : sites) {
            estimated.push_back(id + ",," + weather);
            fromFiles.push_back(id + "," + id + ".cld,");
            fromTable.push_back(id + ",est/climatologies.csv,");
            std::vector<std::string> estimate = {"estimate", "--weather", weather, "--output", id + ".cld"};
            if (weather != "weather.wed") estimate.insert(estimate.end(), {"--site-id", id});
            estimate.insert(estimate.end(), withReference.begin(), withReference.end());
            ASSERT_EQ(Run(estimate), 0) << last.err;
        }
        const std::vector<std::string> common = {"--run-years", "20", "--seed", "77", "--quiet", "--replicates", "2"};
        List("estimated.csv", estimated);
        std::vector<std::string> batch = {"batch", "--sites", "estimated.csv", "--out", "est", "--estimate-climate",
                                          "--save-climate"};
        batch.insert(batch.end(), withReference.begin(), withReference.end());
        batch.insert(batch.end(), common.begin(), common.end());
        ASSERT_EQ(Run(batch), 0) << last.err;
        for (const auto& [id, weather] : sites)
            EXPECT_EQ(Differences("est/climatologies.csv", id, id + ".cld"), "")
                << "the climatology of " << id << " differs from estimate's of " << weather;

        List("files.csv", fromFiles);
        List("table.csv", fromTable);
        for (const char* list : {"files.csv", "table.csv"}) {
            std::vector<std::string> plain = {"batch", "--sites", list, "--out", "plain"};
            plain.insert(plain.end(), common.begin(), common.end());
            ASSERT_EQ(Run(plain), 0) << last.err;
            EXPECT_TRUE(Outputs("plain") == Outputs("est")) << "the batch from " << list << " differs from --estimate-climate";
            fs::remove_all(dir / "plain");
        }
        fs::remove_all(dir / "est");
    }
}

// What cannot be estimated is the site's error row, naming the site, its
// file and the years; the other sites run. A month without soil
// temperature takes the soil fields of the site's climate_file.
TEST_F(EstimateClimateProgram, SitesThatCannotBeEstimatedAreErrorRowsNamingFileAndYears) {
    // Two stations of one climate without soil temperature in July.
    WriteFileText(dir / "stations.csv", TidyWeather({{"soilless", 1, 40, 7}, {"filled", 1, 40, 7}}, 1961, 30));
    List("sites.csv", {"soilless,,stations.csv", "filled,climat.cld,stations.csv", "wed,,weather.wed"});
    const struct {
        std::string Reference;
        std::vector<std::string> FailedWith;  // per site of the list: the texts of its error row, or none
    } cases[] = {
        {"", {"has no soil temperature in month 7 of the years 1961-1990", "", ""}},
        {"1950-1970",
         {"The reference period 1950-1970 does not lie within the years 1961 to 1990",
          "The reference period 1950-1970 does not lie within the years 1961 to 1990",
          "The reference period 1950-1970 does not lie within the years 1961 to 1990"}},
        {"1961-1963", {"too short for the regressions", "too short for the regressions", "too short for the regressions"}},
    };
    const char* ids[] = {"soilless", "filled", "wed"};
    const char* files[] = {"stations.csv", "stations.csv", "weather.wed"};
    for (const auto& c : cases) {
        SCOPED_TRACE("reference '" + c.Reference + "'");
        std::vector<std::string> args = {"batch", "--sites", "sites.csv", "--out", "out", "--estimate-climate",
                                         "--save-climate", "--run-years", "10", "--seed", "3", "--quiet"};
        if (!c.Reference.empty()) args.insert(args.end(), {"--reference", c.Reference});
        Run(args);
        const std::string errors = FileText(dir / "out/errors.csv");
        const std::string climates = FileText(dir / "out/climatologies.csv");
        for (int k = 0; k < 3; ++k) {
            const std::string row = "\n" + std::string(ids[k]) + ",";
            const std::size_t at = errors.find(row);
            if (c.FailedWith[k].empty()) {
                EXPECT_EQ(at, std::string::npos) << ids[k] << " failed: " << errors;
                EXPECT_NE(climates.find(row), std::string::npos) << ids[k] << " has no climatology rows";
                continue;
            }
            ASSERT_NE(at, std::string::npos) << ids[k] << " did not fail: " << errors;
            const std::string message = errors.substr(at, errors.find('\n', at + 1) - at);
            for (const std::string& part : {c.FailedWith[k], std::string(files[k]),
                                            "the site \"\"" + std::string(ids[k]) + "\"\""})
                EXPECT_NE(message.find(part), std::string::npos) << "the error row of " << ids[k] << " lacks '" << part
                                                                 << "': " << message;
            EXPECT_EQ(climates.find(row), std::string::npos) << ids[k] << " failed but has climatology rows";
        }
        fs::remove_all(dir / "out");
    }

    // "filled" ran with July's soil fields from climat.cld and the rest estimated.
    Run({"batch", "--sites", "sites.csv", "--out", "out", "--estimate-climate", "--save-climate", "--run-years", "10",
         "--seed", "3", "--quiet"});
    auto filled = std::make_unique<kelmar::TModel>(), file = std::make_unique<kelmar::TModel>();
    kelmar::ReadClimatologyTableBytes(FileText(dir / "out/climatologies.csv"), "c.csv")->Store(*filled, "filled");
    kelmar::ReadClimatologyBytes(*file, FileText(dir / "climat.cld"));
    for (const auto field : {&kelmar::TClimatology::av_Ts, &kelmar::TClimatology::std_Ts, &kelmar::TClimatology::Bss,
                             &kelmar::TClimatology::Bsa, &kelmar::TClimatology::Ss}) {
        EXPECT_EQ((filled->Climate.*field)[7], (file->Climate.*field)[7]) << "July's soil field is not climat.cld's";
        EXPECT_NE((filled->Climate.*field)[6], (file->Climate.*field)[6]) << "June's soil field is not the estimate's";
    }
}

// Two shards merged give the bytes of one run, climatologies.csv too (70
// sites: two chunks of the list, one per shard).
TEST_F(EstimateClimateProgram, ShardsAndAMergeGiveTheBytesOfOneRun) {
    WriteFileText(dir / "stations.csv", TidyWeather({{"t", 4, 55}}, 1961, 30));
    std::vector<std::string> rows;
    for (int i = 0; i < 70; ++i) rows.push_back("s" + std::to_string(i) + (i % 2 ? ",,weather.wed" : ",climat.cld,"));
    rows[10] = "t,,stations.csv";
    List("sites.csv", rows);
    const std::vector<std::string> common = {"batch", "--sites", "sites.csv", "--estimate-climate", "--save-climate",
                                             "--reference", "1962-1985", "--run-years", "3", "--seed", "8", "--quiet"};
    const auto run = [&](const std::string& out, const std::vector<std::string>& more) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--out", out});
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    };
    ASSERT_EQ(run("one", {}), 0) << last.err;
    ASSERT_EQ(run("split", {"--shard", "0/2"}), 0) << last.err;
    ASSERT_EQ(run("split", {"--shard", "1/2"}), 0) << last.err;
    ASSERT_EQ(Run({"merge", "split"}), 0) << last.err;
    for (const char* name : {"monthly.csv", "annual.csv", "errors.csv", "climatologies.csv"})
        EXPECT_TRUE(FileText(dir / "one" / name) == FileText(dir / "split" / name)) << name << " of two shards differs";
    const std::string climates = FileText(dir / "one/climatologies.csv");
    EXPECT_EQ(std::count(climates.begin(), climates.end(), '\n'), 1 + 70 * 12) << climates.substr(0, 400);
}

// simulate --estimate-climate runs as simulate --climate on the file
// estimate writes of the same years, and a tidy climatology table's site
// (--site-id) as its own climatology file: the same result files and
// ensembles, byte for byte.
TEST_F(EstimateClimateProgram, SimulateFromTheEstimateIsSimulateFromItsFile) {
    WriteFileText(dir / "stations.csv", TidyWeather({{"north", 2, 50}, {"south", 11, 35}}, 1961, 30));
    List("sites.csv", {"north,,stations.csv", "south,,stations.csv"});
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "b", "--estimate-climate", "--save-climate", "--reference",
                   "1962-1981", "--run-years", "5", "--quiet"}),
              0)
        << last.err;
    const std::vector<std::string> run = {"simulate", "--site", "soil.sit", "--seed", "11", "--run-years", "30"};
    const auto same = [&](std::vector<std::string> a, std::vector<std::string> b, const std::vector<std::string>& files) {
        a.insert(a.begin(), run.begin(), run.end());
        b.insert(b.begin(), run.begin(), run.end());
        ASSERT_EQ(Run(a), 0) << last.err;
        std::vector<std::string> first;
        for (const std::string& file : files) first.push_back(FileText(dir / file));
        ASSERT_EQ(Run(b), 0) << last.err;
        for (std::size_t k = 0; k < files.size(); ++k)
            EXPECT_TRUE(FileText(dir / files[k]) == first[k]) << files[k] << " differs between " << a.back() << " and " << b.back();
    };
    ASSERT_EQ(Run({"estimate", "--weather", "weather.wed", "--output", "w.cld"}), 0) << last.err;
    same({"--weather", "weather.wed", "--estimate-climate", "--results", "r.txt", "--table", "t.csv"},
         {"--climate", "w.cld", "--results", "r.txt", "--table", "t.csv"}, {"r.txt", "t.csv"});
    ASSERT_EQ(Run({"estimate", "--weather", "stations.csv", "--site-id", "south", "--reference", "1962-1981", "--output",
                   "s.cld"}),
              0)
        << last.err;
    same({"--weather", "stations.csv", "--site-id", "south", "--estimate-climate", "--reference", "1962-1981",
          "--replicates", "3", "--out", "e"},
         {"--climate", "s.cld", "--replicates", "3", "--out", "e"}, {"e/monthly.csv", "e/annual.csv"});
    same({"--climate", "s.cld", "--table", "t.csv"}, {"--climate", "b/climatologies.csv", "--site-id", "south", "--table", "t.csv"},
         {"t.csv"});
}

// The command line refuses what does not fit before anything is written,
// and a resume with other estimate options is refused with what differs.
TEST_F(EstimateClimateProgram, OptionsThatDoNotFitAreRefused) {
    List("sites.csv", {"wed,,weather.wed"});
    const struct {
        std::vector<std::string> Args;
        int Status;
        std::string Says;
    } cases[] = {
        {{"batch", "--sites", "sites.csv", "--out", "o", "--reference", "1961-1970"}, 2, "--reference needs --estimate-climate"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--save-climate"}, 2, "--save-climate needs --estimate-climate"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--estimate-climate", "--reference", "1970"}, 2,
         "Y1-Y2, with 1 <= Y1 <= Y2 <= 9999 (1961-1990, say), not '1970'"},
        {{"estimate", "--weather", "weather.wed", "--output", "e.cld", "--reference", "1990-1961"}, 2, "not '1990-1961'"},
        {{"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--estimate-climate", "--table", "e.cld"}, 2,
         "--estimate-climate needs --weather"},
        {{"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--reference", "1961-1970", "--table", "e.cld"}, 2,
         "--reference needs --estimate-climate"},
        {{"estimate", "--weather", "weather.wed", "--output", "e.cld", "--reference", "1991-1995"}, 1,
         "does not lie within the years 1961 to 1990 of the weather record \"weather.wed\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.Args), c.Status) << c.Args.back() << ": " << last.err;
        EXPECT_NE(last.err.find(c.Says), std::string::npos) << last.err;
        EXPECT_FALSE(fs::exists(dir / "o") || fs::exists(dir / "e.cld")) << "a refused command wrote " << c.Args.back();
    }
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--estimate-climate", "--quiet", "--keep-parts"}),
              0)
        << last.err;
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--estimate-climate", "--reference", "1961-1980",
                   "--resume", "--quiet"}),
              1);
    EXPECT_NE(last.err.find("was started with --estimate-climate (this run: --estimate-climate --reference 1961-1980)"),
              std::string::npos)
        << last.err;
}

}  // namespace
