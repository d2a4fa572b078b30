// Feeds arbitrary bytes to the tidy weather table reader, then stores the
// record of its first site as a batch site naming it does, runs it on the
// example site and climatology and formats the outputs. A refused table or
// run (KelmarError) is a fine outcome; a crash, a sanitizer report, a hang,
// a stored value or output that is not a finite number, or a year range the
// store cannot hold is not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "finite_records.h"
#include "whole_path.h"
#include "io/weather_table.h"
#include "model/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    std::shared_ptr<const WeatherTable> table;
    try {
        table = ReadWeatherTableBytes(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.csv");
    } catch (const KelmarError&) {
        return 0;
    }
    if (table->SiteIds.empty()) return 0;
    model->Settings = TRunSettings{};
    try {
        table->Store(*model, table->SiteIds.front());
    } catch (const KelmarError&) {
        return 0;
    }
    for (const YearMonthSeries* series : {&model->Weather.Tair, &model->Weather.Prec, &model->Weather.Tsoil})
        for (const MonthArray& year : *series) fuzz::RequireFinite(year, "a weather value");
    const std::int64_t begin = model->Settings.YearBeg, end = model->Settings.YearEnd;
    if (end < begin - 1 || end - begin + 1 > MAX_YEARS) {
        std::fprintf(stderr, "the years %lld to %lld do not fit the store\n", static_cast<long long>(begin),
                     static_cast<long long>(end));
        std::abort();
    }

    fuzz::LoadExampleSite(*model);
    fuzz::LoadExampleClimatology(*model);
    model->Settings.InpDat = true;
    fuzz::RunAndRequireFiniteOutputs(*model);
    return 0;
}
