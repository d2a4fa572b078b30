// A small netCDF dataset of three sites on one time axis of the years
// 1..1962: a simulated run of the year indices 1..3, an observed run of
// 1961..1962 and an observed year 1962 of a site without position or seed.
// The C++ tests and the independent reader's test (cf_netcdf_read_test.py,
// through the program cf_netcdf_fixture) check the same dataset.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/cf_netcdf.h"
#include "model/model_state.h"
#include "model/record_fields.h"

namespace kelmar::testing {

struct FixtureSite {
    CfSite Site;
    std::int32_t FirstYear = 0;  // the calendar year of year index 1
    int YearCount = 0;
    std::unique_ptr<TResultsTable> Results = std::make_unique<TResultsTable>();
};

// The value of field `f` in the record (year, month) of site `s` (0..2);
// month 0 is the annual record. Sevenths are no finite binary fractions, so
// any rounding on the way (to float, to a few decimals) changes them.
inline double FixtureValue(int s, int f, int year, int month) {
    const double base = (s + 1) * 100.0 + f * 10.0;
    return month == 0 ? -(base + year / 7.0) : base + (year * 12 + month) / 7.0;
}

// Days of each month of `year` in the Gregorian calendar, written out here
// rather than taken from a calendar library.
inline int FixtureDays(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// What the annual file holds for field `f` of site `s` in `year`: a sum
// field's annual record, the mean of the months weighted by their days otherwise.
inline double FixtureAnnual(int s, int f, int year) {
    if (RESULT_FIELDS[f].Annual == AnnualForm::Sum) return FixtureValue(s, f, year, 0);
    double weighted = 0, days = 0;
    for (int month = 1; month <= 12; ++month) {
        weighted += FixtureDays(year, month) * FixtureValue(s, f, year, month);
        days += FixtureDays(year, month);
    }
    return weighted / days;
}

// The annual file beside a monthly file "x.nc": "x_annual.nc".
inline std::string AnnualName(const std::string& monthly) {
    return monthly.substr(0, monthly.size() - 3) + "_annual.nc";
}

inline FixtureSite MakeFixtureSite(int s, CfSite site, std::int32_t firstYear, int yearCount) {
    FixtureSite fixture;
    fixture.Site = std::move(site);
    fixture.FirstYear = firstYear;
    fixture.YearCount = yearCount;
    for (int y = 1; y <= yearCount; ++y) {
        const std::int32_t year = firstYear + y - 1;
        for (int month = 0; month <= 12; ++month) {
            TResultRecord& record = fixture.Results->At(y, month);
            record.Year = month == 0 ? 0 : year;  // as the run leaves the annual slot
            record.Month = month;
            for (int f = 0; f < static_cast<int>(RESULT_FIELDS.size()); ++f)
                record.*RESULT_FIELDS[f].Value = FixtureValue(s, f, year, month);
        }
    }
    return fixture;
}

inline std::vector<FixtureSite> FixtureSites() {
    std::vector<FixtureSite> sites;
    // The largest state: the fill value of an unsigned seed would hide it.
    sites.push_back(MakeFixtureSite(0, {"sim-A", 61.5, 30.25, 4294967295u}, 1, 3));
    sites.push_back(MakeFixtureSite(1, {"obs-B", -12.75, 359.5, 0u}, 1961, 2));
    sites.push_back(MakeFixtureSite(2, {"obs-C", std::nullopt, std::nullopt, std::nullopt}, 1962, 1));
    return sites;
}

inline CfFileDescription FixtureDescription(int siteCount = 3) {
    CfFileDescription description;
    description.SiteCount = siteCount;
    description.FirstYear = 1;
    description.LastYear = 1962;
    description.Title = "KELMAR test sites";
    description.Source = "simulated and observed weather";
    description.ProgramName = "kelmar-test";
    description.ProgramVersion = "0.1.0";
    description.BaseSeed = 4294967295u;
    return description;
}

// Writes `fileName` and its annual file AnnualName(fileName).
inline void WriteFixture(const std::string& fileName) {
    CfNetcdfWriter writer(fileName, AnnualName(fileName), FixtureDescription());
    for (const FixtureSite& site : FixtureSites()) writer.WriteSite(site.Site, *site.Results, site.YearCount);
    writer.Finish();
}

}  // namespace kelmar::testing
