// The netCDF writer: where each record lands (read back through the netCDF
// library; cf_netcdf_read_test.py reads the same file with an independent
// reader), the inputs it refuses and that a refusal or an unfinished file
// never touches the target.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "io/cf_netcdf.h"
#include "io/cf_netcdf_fixture.h"
#include "io/io_test_support.h"

namespace kelmar {
namespace {

using testing::AnnualName;
using testing::EntryCount;
using testing::ErrorText;
using testing::FixtureAnnual;
using testing::FixtureDescription;
using testing::FixtureSite;
using testing::FixtureSites;
using testing::FixtureValue;
using testing::MakeFixtureSite;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// The open file `fileName`, closed at the end of the scope.
class ReadFile {
public:
    explicit ReadFile(const std::string& fileName) { EXPECT_EQ(nc_open(fileName.c_str(), NC_NOWRITE, &Id), NC_NOERR); }
    ~ReadFile() { nc_close(Id); }
    int Var(const std::string& name) const {
        int var = -1;
        EXPECT_EQ(nc_inq_varid(Id, name.c_str(), &var), NC_NOERR) << name;
        return var;
    }
    // The series of `site`: the data variables are (time, site_id).
    std::vector<double> Row(const std::string& name, std::size_t site, std::size_t length) const {
        std::vector<double> values(length);
        const std::size_t start[2] = {0, site}, count[2] = {length, 1};
        EXPECT_EQ(nc_get_vara_double(Id, Var(name), start, count, values.data()), NC_NOERR) << name;
        return values;
    }
    int Id = -1;
};

TEST(CfNetcdfWriter, PlacesEveryRecordAtItsMonthAndYearAndFillsTheRest) {
    TempDir dir;
    const std::string file = dir.File("sites.nc");
    testing::WriteFixture(file);
    ASSERT_EQ(EntryCount(dir.Folder()), 2);  // the two files, no temporary file left

    const ReadFile nc(file), annualNc(AnnualName(file));
    const std::size_t years = 1962, months = 12 * years;
    for (const auto& [read, name, expected] : {std::tuple{&nc, "site_id", std::size_t{3}}, {&nc, "time", months},
                                               {&annualNc, "site_id", std::size_t{3}}, {&annualNc, "time", years}}) {
        std::size_t length = 0;
        int dim = -1, unlimited = -1;
        ASSERT_EQ(nc_inq_dimid(read->Id, name, &dim), NC_NOERR) << name;
        ASSERT_EQ(nc_inq_dimlen(read->Id, dim, &length), NC_NOERR) << name;
        EXPECT_EQ(length, expected) << name;
        ASSERT_EQ(nc_inq_unlimdim(read->Id, &unlimited), NC_NOERR);
        EXPECT_EQ(unlimited == dim, std::string(name) == "time") << name << ": time alone is the record dimension";
    }

    const std::vector<FixtureSite> sites = FixtureSites();
    for (std::size_t s = 0; s < sites.size(); ++s) {
        const FixtureSite& site = sites[s];
        const int first = site.FirstYear, last = site.FirstYear + site.YearCount - 1;
        for (int f = 0; f < static_cast<int>(RESULT_FIELDS.size()); ++f) {
            const std::string key = RESULT_FIELDS[f].Key;
            const std::vector<double> monthly = nc.Row(key, s, months);
            const std::vector<double> annual = annualNc.Row(key, s, years);
            int wrong = 0;  // the first few wrong values are shown, not thousands
            for (std::size_t t = 0; t < months && wrong < 3; ++t) {
                const int year = static_cast<int>(t / 12) + 1, month = static_cast<int>(t % 12) + 1;
                const double expected =
                    year >= first && year <= last ? FixtureValue(static_cast<int>(s), f, year, month) : NC_FILL_DOUBLE;
                if (monthly[t] != expected) {
                    ++wrong;
                    ADD_FAILURE() << site.Site.Id << " " << key << " " << year << "-" << month << ": got "
                                  << monthly[t] << ", expected " << expected;
                }
            }
            for (std::size_t y = 0; y < years && wrong < 3; ++y) {
                const int year = static_cast<int>(y) + 1;
                const double expected =
                    year >= first && year <= last ? FixtureAnnual(static_cast<int>(s), f, year) : NC_FILL_DOUBLE;
                // The weighted mean is summed in another order here: 4 ulp.
                if (!(std::fabs(annual[y] - expected) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(expected))) {
                    ++wrong;
                    ADD_FAILURE() << site.Site.Id << " annual " << key << " " << year << ": got " << annual[y]
                                  << ", expected " << expected << " within 4 ulp";
                }
            }
        }
    }
}

TEST(CfNetcdfWriter, TasksLandInTheirScenarioAndRealizationAndComeInOrder) {
    TempDir dir;
    const std::string file = dir.File("tasks.nc");
    CfFileDescription description = FixtureDescription(2);
    description.LastYear = 3;
    description.Scenarios = {"base", "warm"};
    description.Realizations = 2;
    {
        CfNetcdfWriter writer(file, AnnualName(file), description);
        const FixtureSite task = MakeFixtureSite(0, {"a", 45.0, 7.0, 1u}, 1, 3);
        // Site "a" must begin with (scenario 0, realization 0).
        const std::string message = ErrorText([&] { writer.WriteTask(task.Site, 0, 1, *task.Results, 3); });
        EXPECT_NE(message.find("the task (scenario 0, realization 1) of site 1 comes out of order"), std::string::npos)
            << message;
        // Task (s, r) of site k holds the fixture values of 4 k + 2 s + r, its seed 10 k + r.
        for (int k = 0; k < 2; ++k)
            for (int s = 0; s < 2; ++s)
                for (int r = 0; r < 2; ++r) {
                    const FixtureSite t = MakeFixtureSite(4 * k + 2 * s + r, {k ? "b" : "a", std::nullopt, std::nullopt,
                                                                              static_cast<std::uint32_t>(10 * k + r)}, 1, 3);
                    writer.WriteTask(t.Site, s, r, *t.Results, k == 1 && r == 1 ? 0 : 3);
                }
        writer.Finish();
    }
    const ReadFile nc(file);
    for (int k = 0; k < 2; ++k)
        for (int s = 0; s < 2; ++s)
            for (int r = 0; r < 2; ++r) {
                std::vector<double> months(36);
                const std::size_t start[4] = {0, std::size_t(s), std::size_t(r), std::size_t(k)}, count[4] = {36, 1, 1, 1};
                ASSERT_EQ(nc_get_vara_double(nc.Id, nc.Var("tsoil"), start, count, months.data()), NC_NOERR);
                const int f = 2;  // tsoil
                ASSERT_EQ(std::string(RESULT_FIELDS[f].Key), "tsoil");
                const double expected = k == 1 && r == 1 ? NC_FILL_DOUBLE : FixtureValue(4 * k + 2 * s + r, f, 2, 5);
                EXPECT_EQ(months[12 + 4], expected) << "site " << k << " scenario " << s << " realization " << r;
            }
    std::vector<long long> seeds(4);
    ASSERT_EQ(nc_get_var_longlong(nc.Id, nc.Var("seed"), seeds.data()), NC_NOERR);
    EXPECT_EQ(seeds, (std::vector<long long>{0, 10, 1, 11}));  // (realization, site)
    char* names[2] = {nullptr, nullptr};
    ASSERT_EQ(nc_get_var_string(nc.Id, nc.Var("scenario"), names), NC_NOERR);
    EXPECT_EQ(std::string(names[0]) + "," + names[1], "base,warm");
    nc_free_string(2, names);
}

// A writer for three sites of the years 1..3, and the first site written.
struct SmallFile {
    explicit SmallFile(const std::string& fileName)
        : Description([] {
              CfFileDescription d = FixtureDescription();
              d.LastYear = 3;
              return d;
          }()),
          Writer(fileName, AnnualName(fileName), Description) {}
    CfFileDescription Description;
    CfNetcdfWriter Writer;
};

FixtureSite GoodSite(const std::string& id) { return MakeFixtureSite(0, {id, 45.0, 7.0, 1u}, 1, 3); }

// The annual means weigh each month by its days in that calendar year, as
// the Gregorian calendar counts them (centuries leap only by 400); the
// annual record of a sum field is kept as it is.
TEST(CfNetcdfWriter, AnnualMeansWeighTheMonthsByTheirDaysOfThatYear) {
    struct Case {
        int Year;
        int February;  // days
    };
    const std::vector<Case> cases = {{1900, 28}, {2000, 29}, {2023, 28}, {2024, 29}};
    for (const Case& c : cases) {
        TempDir dir;
        const std::string file = dir.File("leap.nc");
        CfFileDescription description = FixtureDescription(1);
        description.FirstYear = description.LastYear = c.Year;
        const int days[12] = {31, c.February, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        double weighted = 0, total = 0;
        FixtureSite site = MakeFixtureSite(0, {"x", {}, {}, {}}, c.Year, 1);
        for (int month = 1; month <= 12; ++month) {
            // Month m holds m squared: unequal months, so the weights tell.
            for (const ResultField& field : RESULT_FIELDS) site.Results->At(1, month).*field.Value = month * month;
            weighted += days[month - 1] * month * month;
            total += days[month - 1];
        }
        for (const ResultField& field : RESULT_FIELDS) site.Results->At(1, 0).*field.Value = 650;  // the plain sum
        {
            CfNetcdfWriter writer(file, AnnualName(file), description);
            writer.WriteSite(site.Site, *site.Results, 1);
            writer.Finish();
        }
        const ReadFile annual(AnnualName(file));
        const double mean = annual.Row("t_ms", 0, 1)[0], sum = annual.Row("prec", 0, 1)[0];
        EXPECT_NEAR(mean, weighted / total, 1e-12) << c.Year << ": weighted mean of t_ms, February of " << c.February
                                                   << " days";
        EXPECT_EQ(sum, 650) << c.Year << ": annual total of prec";
    }
}

// Single precision rounds each value to the nearest float and nothing
// more; deflate (with shuffle) changes the bytes on the disk, not the values.
TEST(CfNetcdfWriter, PrecisionAndDeflateKeepTheValuesToTheirType) {
    struct Case {
        CfPrecision Precision;
        int Deflate;
        nc_type Type;
    };
    const std::vector<Case> cases = {{CfPrecision::Double, 0, NC_DOUBLE}, {CfPrecision::Double, 9, NC_DOUBLE},
                                     {CfPrecision::Single, 0, NC_FLOAT}, {CfPrecision::Single, 4, NC_FLOAT}};
    for (const Case& c : cases) {
        SCOPED_TRACE("deflate " + std::to_string(c.Deflate) + (c.Type == NC_FLOAT ? ", single" : ", double"));
        TempDir dir;
        const std::string file = dir.File("p.nc");
        CfFileDescription description = FixtureDescription(1);
        description.LastYear = 3;
        description.Precision = c.Precision;
        description.Deflate = c.Deflate;
        const FixtureSite site = GoodSite("only");
        {
            CfNetcdfWriter writer(file, AnnualName(file), description);
            writer.WriteSite(site.Site, *site.Results, site.YearCount);
            writer.Finish();
        }
        const ReadFile nc(file);
        nc_type type = 0;
        int shuffle = -1, deflate = -1, level = -1;
        ASSERT_EQ(nc_inq_vartype(nc.Id, nc.Var("tsoil"), &type), NC_NOERR);
        EXPECT_EQ(type, c.Type);
        ASSERT_EQ(nc_inq_var_deflate(nc.Id, nc.Var("tsoil"), &shuffle, &deflate, &level), NC_NOERR);
        EXPECT_EQ(deflate, c.Deflate > 0 ? 1 : 0);
        if (c.Deflate > 0) {
            EXPECT_EQ(shuffle, 1);
            EXPECT_EQ(level, c.Deflate);
        }
        const std::vector<double> months = nc.Row("tsoil", 0, 36);
        for (int t = 0; t < 36; ++t) {
            const double exact = FixtureValue(0, 2, t / 12 + 1, t % 12 + 1);
            const double expected = c.Type == NC_FLOAT ? static_cast<double>(static_cast<float>(exact)) : exact;
            ASSERT_EQ(months[t], expected) << "month " << t << ", written " << exact;
        }
    }
}

TEST(CfNetcdfWriter, RefusesABadSiteNamingFileSiteAndFaultAndGoesOnWithoutIt) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* Fault;
        std::function<void(FixtureSite&)> Spoil;
        const char* Message;  // a part of the message besides the file and the site
    };
    const std::vector<Case> cases = {
        {"empty id", [](FixtureSite& s) { s.Site.Id.clear(); }, "site 2 has no id"},
        {"id of site 1", [](FixtureSite& s) { s.Site.Id = "first"; }, "has the id of a site before it"},
        {"NUL in the id", [](FixtureSite& s) { s.Site.Id = std::string("first\0x", 7); },
         "site 2 has an id with a control character"},
        {"latitude 90.5", [](FixtureSite& s) { s.Site.Lat = 90.5; }, "latitude 90.5, outside -90..90"},
        {"latitude NaN", [=](FixtureSite& s) { s.Site.Lat = nan; }, "latitude nan"},
        {"longitude -180.25", [](FixtureSite& s) { s.Site.Lon = -180.25; }, "longitude -180.25, outside -180..360"},
        {"years -1", [](FixtureSite& s) { s.YearCount = -1; }, "has -1 years of results, not 0..500"},
        {"years 501", [](FixtureSite& s) { s.YearCount = 501; }, "has 501 years of results"},
        {"NaN in a month", [=](FixtureSite& s) { s.Results->At(2, 5).Tsoil = nan; },
         "in year 2 month 5 (year index 2) a tsoil value that is not finite (nan)"},
        {"infinity in a year", [=](FixtureSite& s) { s.Results->At(3, 0).Prec = -inf; },
         "in the annual record of year 3 a prec value that is not finite (-inf)"},
        {"the fill value", [](FixtureSite& s) { s.Results->At(1, 2).W_ms_vol = -1e37; },
         "in year 1 month 2 (year index 1) a w_ms_vol value of -9.9999999999999995e+36, which the file would show "
         "as missing"},
        {"year after the axis", [](FixtureSite& s) { s.Results->At(3, 7).Year = 4; },
         "a record in year 4 month 7 (year index 3) outside the months of the file, January 1 to December 3"},
        {"year before the axis", [](FixtureSite& s) { s.Results->At(1, 1).Year = 0; }, "in year 0 month 1"},
        {"month 13", [](FixtureSite& s) { s.Results->At(1, 12).Month = 13; }, "in year 1 month 13"},
        {"a month twice", [](FixtureSite& s) { s.Results->At(2, 4).Month = 3; },
         "has two records in year 2 month 3 (year index 2)"},
        {"a year twice", [](FixtureSite& s) {
             for (int m = 1; m <= 12; ++m) s.Results->At(3, m).Year = 2;
         },
         "has two records in year 2 month 1 (year index 3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fault);
        TempDir dir;
        const std::string file = dir.File("out.nc");
        {
            SmallFile small(file);
            const FixtureSite first = GoodSite("first");
            small.Writer.WriteSite(first.Site, *first.Results, first.YearCount);
            FixtureSite bad = GoodSite("second");
            c.Spoil(bad);
            const std::string message =
                ErrorText([&] { small.Writer.WriteSite(bad.Site, *bad.Results, bad.YearCount); });
            EXPECT_NE(message.find("\"" + file + "\""), std::string::npos) << message;
            EXPECT_NE(message.find("site 2"), std::string::npos) << message;
            EXPECT_NE(message.find(c.Message), std::string::npos) << message;
            EXPECT_EQ(small.Writer.SitesWritten(), 1);
            // The site goes in again, without results; the batch goes on.
            small.Writer.WriteSite({"second", std::nullopt, std::nullopt, std::nullopt}, *bad.Results, 0);
            const FixtureSite third = GoodSite("third");
            small.Writer.WriteSite(third.Site, *third.Results, third.YearCount);
            small.Writer.Finish();
        }
        const ReadFile nc(file);
        EXPECT_EQ(nc.Row("tsoil", 0, 36)[17], FixtureValue(0, 2, 2, 6));
        for (double value : nc.Row("tsoil", 1, 36)) ASSERT_EQ(value, NC_FILL_DOUBLE);
        EXPECT_EQ(ReadFile(AnnualName(file)).Row("prec", 2, 3)[2], FixtureValue(0, 4, 3, 0));
    }
}

TEST(CfNetcdfWriter, RefusesDescriptionsAndTargetsItCannotWriteAndCreatesNothing) {
    TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string Target;
        std::function<void(CfFileDescription&)> Change;
        std::string Message;
    };
    const std::vector<Case> cases = {
        {dir.File("a.nc"), [](CfFileDescription& d) { d.SiteCount = 0; }, "needs at least one site"},
        {dir.File("a.nc"), [](CfFileDescription& d) { d.FirstYear = 0; },
         "the years 0..1962 are not a span of years within 1..9999"},
        {dir.File("a.nc"), [](CfFileDescription& d) { d.LastYear = 10000; }, "the years 1..10000"},
        {dir.File("a.nc"), [](CfFileDescription& d) { d.FirstYear = 1963; }, "the years 1963..1962"},
        {"-", [](CfFileDescription&) {}, "must be a regular file"},
        {fifo, [](CfFileDescription&) {}, "must be a regular file"},
        {dir.File(""), [](CfFileDescription&) {}, "Is a directory"},
        {dir.File("missing/a.nc"), [](CfFileDescription&) {}, "No such file or directory"},
        {dir.File("a.nc"), [](CfFileDescription& d) { d.Deflate = 10; }, "the deflate level 10 is not one of 0..9"},
        {dir.File("a.nc"), [](CfFileDescription& d) { d.Scenarios = {"x"}; d.ScenarioDefinitions.resize(2); },
         "2 scenario definitions for 1 scenarios"},
        {dir.File("b.nc"), [](CfFileDescription&) {}, "need files of their own"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Target + " / " + c.Message);
        CfFileDescription description = FixtureDescription();
        c.Change(description);
        const std::string message = ErrorText([&] { CfNetcdfWriter writer(c.Target, dir.File("b.nc"), description); });
        EXPECT_NE(message.find("\"" + c.Target + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(c.Message), std::string::npos) << message;
        EXPECT_EQ(EntryCount(dir.Folder()), 1) << "only the FIFO";
    }
}

TEST(CfNetcdfWriter, TheTargetChangesOnlyWhenEverySiteIsInAndKeepsItsMode) {
    TempDir dir;
    const std::string file = dir.File("out.nc");
    WriteBytes(file, "old bytes");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    const FixtureSite site = GoodSite("only");

    {  // abandoned: never finished
        SmallFile small(file);
        small.Writer.WriteSite(site.Site, *site.Results, site.YearCount);
    }
    EXPECT_EQ(ReadBytes(file), "old bytes");
    EXPECT_EQ(EntryCount(dir.Folder()), 1);
    EXPECT_FALSE(std::filesystem::exists(AnnualName(file)));

    {  // finished too early
        SmallFile small(file);
        small.Writer.WriteSite(site.Site, *site.Results, site.YearCount);
        const std::string message = ErrorText([&] { small.Writer.Finish(); });
        EXPECT_NE(message.find("only 1 of its 3 sites were written; it was left as it was"), std::string::npos)
            << message;
    }
    EXPECT_EQ(ReadBytes(file), "old bytes");
    EXPECT_EQ(EntryCount(dir.Folder()), 1);

    {  // complete; a fourth site is one too many
        SmallFile small(file);
        for (const char* id : {"a", "b", "c"}) small.Writer.WriteSite({id, {}, {}, {}}, *site.Results, site.YearCount);
        EXPECT_NE(ErrorText([&] { small.Writer.WriteSite({"d", {}, {}, {}}, *site.Results, 0); })
                      .find("made for 3 sites and all of them were written"),
                  std::string::npos);
        small.Writer.Finish();
        EXPECT_NE(ErrorText([&] { small.Writer.Finish(); }).find("is closed; nothing more can be written"),
                  std::string::npos);
    }
    EXPECT_EQ(EntryCount(dir.Folder()), 2);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    const ReadFile nc(file);
    EXPECT_EQ(nc.Row("t_ms", 2, 36)[35], FixtureValue(0, 3, 3, 12));
}

TEST(CfNetcdfWriter, ReplacesTheFileALinkLeadsToAndKeepsTheLink) {
    TempDir dir;
    std::filesystem::create_directory(dir.Folder() / "data");
    const std::string target = dir.File("data/real.nc"), link = dir.File("link.nc");
    WriteBytes(target, "old bytes");
    std::filesystem::create_symlink("data/real.nc", link);
    const FixtureSite site = GoodSite("only");
    {
        CfFileDescription description = FixtureDescription(1);
        description.LastYear = 3;
        CfNetcdfWriter writer(link, dir.File("data/real_annual.nc"), description);
        writer.WriteSite(site.Site, *site.Results, site.YearCount);
        writer.Finish();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(EntryCount(dir.Folder() / "data"), 2);  // the temporary files were beside the targets
    const ReadFile nc(target);
    EXPECT_EQ(nc.Row("w_ff_mass", 0, 36)[0], FixtureValue(0, 8, 1, 1));
}

}  // namespace
}  // namespace kelmar
