// Feeds arbitrary bytes to the weather file reader, then runs the record on
// the example site and climatology, formats the outputs, and estimates a
// climatology from the record as "Generate file" does. A refused file, run or
// estimate (KelmarError) is a fine outcome; a crash, a sanitizer report, a
// hang, a stored value or output that is not a finite number or a year range
// the store cannot hold is not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/open_commands.h"
#include "finite_records.h"
#include "whole_path.h"
#include "io/weather_file.h"
#include "model/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    model->Settings = TRunSettings{};
    try {
        ReadWeatherBytes(*model, std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const KelmarError&) {
    }
    for (const YearMonthSeries* series : {&model->Weather.Tair, &model->Weather.Prec, &model->Weather.Tsoil})
        for (const MonthArray& year : *series) fuzz::RequireFinite(year, "a weather value");
    if (std::int64_t{model->Settings.YearEnd} < std::int64_t{model->Settings.YearBeg} - 1) {
        std::fprintf(stderr, "YearEnd %d lies before YearBeg %d\n", model->Settings.YearEnd, model->Settings.YearBeg);
        std::abort();
    }

    fuzz::LoadExampleSite(*model);
    fuzz::LoadExampleClimatology(*model);
    model->Settings.InpDat = true;
    fuzz::RunAndRequireFiniteOutputs(*model);

    fuzz::QuietNotifier notifier;
    try {
        EstimateFromRecord(*model, "fuzzed.wed", notifier);
    } catch (const KelmarError&) {
    }
    fuzz::RequireFiniteClimatologyText(model->Climate);
    return 0;
}
