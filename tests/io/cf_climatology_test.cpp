// The writer of climatologies.nc: every value at its month and site, read
// back through the netCDF library, the fill value where a climatology lacks
// one (not above -90), and the inputs it refuses without touching the target.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "io/cf_climatology.h"
#include "io/io_test_support.h"
#include "model/record_fields.h"

namespace kelmar {
namespace {

using testing::EntryCount;
using testing::ErrorText;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A value of each site, field and month that tells them all apart.
double Value(std::size_t site, std::size_t field, int month) {
    return static_cast<double>(site) + 0.25 * static_cast<double>(field) / 16 - month * 0.0009765625;
}

// Over a block of sites (1024) and a short second one. Site 3 has no
// position; site 5 lacks values in three months: -99.9 (what the files
// write), -90 (the limit, missing too) and -1e300 (far beyond the fill
// value's size, missing all the same), and has -89.99 (present).
constexpr std::size_t SITES = 1030;
constexpr double FILL = NC_FILL_DOUBLE;
double LatOf(std::size_t site) { return 40 + static_cast<double>(site) * 0.01; }
double LonOf(std::size_t site) { return -170 + static_cast<double>(site) * 0.1; }

double Expected(std::size_t site, std::size_t field, int month) {
    if (site == 5 && field == 7 && month == 2) return FILL;
    if (site == 5 && field == 8 && month == 12) return FILL;
    if (site == 5 && field == 6 && month == 6) return FILL;
    if (site == 5 && field == 9 && month == 1) return -89.99;
    return Value(site, field, month);
}

void WriteSites(const std::string& file, CfClimatologyDescription description) {
    description.SiteCount = static_cast<int>(SITES);
    const auto writer = NewCfClimatologyWriter(file, description);
    for (std::size_t s = 0; s < SITES; ++s) {
        CfSite site;
        site.Id = "site " + std::to_string(s);
        if (s != 3) site.Lat = LatOf(s), site.Lon = LonOf(s);
        TClimatology climate;
        for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f)
            for (int m = 1; m <= 12; ++m) (climate.*CLIMATE_FIELDS[f].Values)[m] = Value(s, f, m);
        if (s == 5) climate.Bap[2] = -99.9, climate.Sa[12] = -90, climate.Baa[6] = -1e300, climate.Bss[1] = -89.99;
        writer->WriteSite(site, climate);
    }
    writer->Finish();
}

std::string TextAttribute(int nc, int var, const char* name) {
    std::size_t length = 0;
    if (nc_inq_attlen(nc, var, name, &length) != NC_NOERR) return "(none)";
    std::string text(length, '\0');
    nc_get_att_text(nc, var, name, text.data());
    return text;
}

TEST(CfClimatologyWriter, WritesEachValueAtItsMonthAndSiteAndTheFillWhereOneIsMissing) {
    TempDir dir;
    const std::string file = dir.File("climatologies.nc");
    CfClimatologyDescription description;
    description.Title = "t";
    description.ReferencePeriod = "1961-1990";
    description.Deflate = 4;
    WriteSites(file, description);
    ASSERT_EQ(EntryCount(dir.Folder()), 1) << "a temporary file was left";

    int nc = -1;
    ASSERT_EQ(nc_open(file.c_str(), NC_NOWRITE, &nc), NC_NOERR);
    const auto var = [&](const char* name) {
        int id = -1;
        EXPECT_EQ(nc_inq_varid(nc, name, &id), NC_NOERR) << name;
        return id;
    };
    for (const auto& [name, length] : {std::pair{"month", std::size_t{12}}, {"site_id", SITES}}) {
        int dim = -1;
        std::size_t got = 0;
        ASSERT_EQ(nc_inq_dimid(nc, name, &dim), NC_NOERR) << name;
        nc_inq_dimlen(nc, dim, &got);
        EXPECT_EQ(got, length) << name;
    }
    EXPECT_EQ(TextAttribute(nc, NC_GLOBAL, "reference_period"), "1961-1990");
    std::vector<int> months(12);
    ASSERT_EQ(nc_get_var_int(nc, var("month"), months.data()), NC_NOERR);
    EXPECT_EQ(months, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

    std::vector<char*> ids(SITES);
    ASSERT_EQ(nc_get_var_string(nc, var("site_id"), ids.data()), NC_NOERR);
    std::vector<double> lats(SITES), lons(SITES);
    nc_get_var_double(nc, var("lat"), lats.data());
    nc_get_var_double(nc, var("lon"), lons.data());
    int wrong = 0;
    for (std::size_t s = 0; s < SITES && wrong < 5; ++s) {
        const double lat = s == 3 ? FILL : LatOf(s), lon = s == 3 ? FILL : LonOf(s);
        if (ids[s] != "site " + std::to_string(s) || lats[s] != lat || lons[s] != lon)
            ADD_FAILURE() << "site " << s << ": id '" << ids[s] << "' at " << lats[s] << ", " << lons[s]
                          << ", not at " << lat << ", " << lon << (++wrong, "");
    }
    nc_free_string(SITES, ids.data());

    for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f) {
        const ClimateField& field = CLIMATE_FIELDS[f];
        const int id = var(field.Key);
        EXPECT_EQ(TextAttribute(nc, id, "units"), field.Unit) << field.Key;
        EXPECT_EQ(TextAttribute(nc, id, "long_name"), field.LongName) << field.Key;
        double fill = 0;
        EXPECT_EQ(nc_get_att_double(nc, id, "_FillValue", &fill), NC_NOERR) << field.Key;
        EXPECT_EQ(fill, FILL) << field.Key;
        std::vector<double> values(12 * SITES);  // (month, site_id)
        ASSERT_EQ(nc_get_var_double(nc, id, values.data()), NC_NOERR) << field.Key;
        for (std::size_t s = 0; s < SITES && wrong < 5; ++s)
            for (int m = 1; m <= 12; ++m)
                if (values[(m - 1) * SITES + s] != Expected(s, f, m))
                    ADD_FAILURE() << field.Key << " of site " << s << " month " << m << ": "
                                  << values[(m - 1) * SITES + s] << ", not " << Expected(s, f, m) << (++wrong, "");
    }
    nc_close(nc);
}

// What the file cannot hold is refused, naming the file and the site, and
// the target keeps its bytes; a writer not finished leaves nothing.
TEST(CfClimatologyWriter, RefusesWhatTheFileCannotHoldAndLeavesTheTarget) {
    TempDir dir;
    const std::string file = dir.File("climatologies.nc");
    WriteBytes(file, "older");
    TClimatology plain;
    for (const ClimateField& field : CLIMATE_FIELDS) (plain.*field.Values).fill(1);
    const auto site = [](const char* id) {
        CfSite s;
        s.Id = id;
        return s;
    };
    const struct {
        const char* What;
        int Sites;
        int Deflate;
        std::function<void(CfClimatologyWriter&)> Write;
        const char* Says;
    } cases[] = {
        {"no sites", 0, 0, nullptr, "needs at least one site"},
        {"deflate 10", 1, 10, nullptr, "the deflate level 10 is not one of 0..9"},
        {"an infinite value", 1, 0,
         [&](CfClimatologyWriter& w) {
             TClimatology c = plain;
             c.av_P[4] = INFINITY;
             w.WriteSite(site("a"), c);
         },
         "site 1 \"a\" has in month 4 the av_P value inf"},
        {"a value the file would take for missing", 1, 0,
         [&](CfClimatologyWriter& w) {
             TClimatology c = plain;
             c.Ss[9] = 1e37;
             w.WriteSite(site("a"), c);
         },
         "the Ss value 9.9999999999999995e+36"},
        {"an id twice", 2, 0,
         [&](CfClimatologyWriter& w) {
             w.WriteSite(site("a"), plain);
             w.WriteSite(site("a"), plain);
         },
         "site 2 \"a\" has the id of a site before it"},
        {"an empty id", 1, 0, [&](CfClimatologyWriter& w) { w.WriteSite(site(""), plain); }, "site 1 has no id"},
        {"a latitude beyond the pole", 1, 0,
         [&](CfClimatologyWriter& w) {
             CfSite s = site("a");
             s.Lat = 90.5;
             w.WriteSite(s, plain);
         },
         "the latitude 90.5, outside -90..90"},
        {"fewer sites than declared", 2, 0, [&](CfClimatologyWriter& w) { w.WriteSite(site("a"), plain); },
         "only 1 of its 2 sites were written"},
    };
    for (const auto& c : cases) {
        CfClimatologyDescription description;
        description.SiteCount = c.Sites;
        description.Deflate = c.Deflate;
        const std::string message = ErrorText([&] {
            const auto writer = NewCfClimatologyWriter(file, description);
            c.Write(*writer);
            writer->Finish();
        });
        EXPECT_NE(message.find(c.Says), std::string::npos) << c.What << ": " << message;
        EXPECT_NE(message.find(file), std::string::npos) << c.What << ": the message names no file: " << message;
        EXPECT_EQ(ReadBytes(file), "older") << c.What;
        EXPECT_EQ(EntryCount(dir.Folder()), 1) << c.What << ": a temporary file was left";
    }
}

}  // namespace
}  // namespace kelmar
