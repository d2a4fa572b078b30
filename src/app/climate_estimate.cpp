#include "app/climate_estimate.h"

#include <charconv>

#include "app/open_commands.h"
#include "app/presentation/grid_texts.h"
#include "io/path_names.h"
#include "io/climatology_file.h"
#include "model/errors.h"
#include "model/run_model.h"

namespace kelmar {

namespace {

// The fields of a month's soil temperature: the mean, its deviation and the
// regression of the soil temperature on the month before and the air.
constexpr MonthArray TClimatology::*SOIL_FIELDS[] = {&TClimatology::av_Ts, &TClimatology::std_Ts, &TClimatology::Bss,
                                                     &TClimatology::Bsa, &TClimatology::Ss};

std::optional<std::int32_t> WholeYear(std::string_view text) {
    std::int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    if (value < 1 || value > LAST_RUN_YEAR) return std::nullopt;
    return value;
}

}  // namespace

ReferenceYears ParseReferenceYears(const std::string& text, const std::string& option) {
    const std::size_t dash = text.find('-');
    const auto first = dash == std::string::npos ? std::nullopt : WholeYear(std::string_view(text).substr(0, dash));
    const auto last = dash == std::string::npos ? std::nullopt : WholeYear(std::string_view(text).substr(dash + 1));
    if (!first || !last || *first > *last)
        throw KelmarError(option + " needs the first and last calendar year of the reference period as Y1-Y2, with 1 <= "
                          "Y1 <= Y2 <= " + std::to_string(LAST_RUN_YEAR) + " (1961-1990, say), not '" + text + "'");
    return {*first, *last};
}

void RestrictToReference(TModel& model, const ReferenceYears& reference, const std::string& recordName) {
    TRunSettings& settings = model.Settings;
    if (reference.First < settings.YearBeg || reference.Last > settings.YearEnd)
        throw KelmarError("The reference period " + reference.Text() + " does not lie within the years " +
                          std::to_string(settings.YearBeg) + " to " + std::to_string(settings.YearEnd) +
                          " of the weather record \"" + recordName + "\"; give --reference years within them.");
    const int offset = reference.First - settings.YearBeg;
    const int years = reference.Last - reference.First + 1;
    TWeatherStore& store = model.Weather;
    for (YearMonthSeries* series : {&store.Tair, &store.Prec, &store.Tsoil})
        for (int j = 1; j <= MAX_YEARS; ++j)
            for (int m = 1; m <= 12; ++m)
                (*series)[j][m] = j <= years ? (*series)[j + offset][m] : MISSING_VALUE;
    settings.YearBeg = reference.First;
    settings.YearEnd = reference.Last;
}

std::string EstimateYearsText(const TModel& model) {
    return ReferenceYears{model.Settings.YearBeg, model.Settings.YearEnd}.Text();
}

void UseEstimateAsWritten(TModel& model, const TClimatology& estimate, const std::string& name) {
    ReadClimatologyBytes(model, ClimatologyFileBytes(ClimatologyValueTexts(estimate)), name);
}

bool GenerateClimatologyOver(TModel& model, WorkflowView& view, const ReferenceYears& reference) {
    const auto weatherName = view.AskFile(FileDialog::WeatherForEstimate);
    if (!weatherName || !ReadWeather(model, *weatherName, view)) return false;
    const std::string recordName = Utf8Name(PathOf(*weatherName).filename());
    RestrictToReference(model, reference, recordName);
    EstimateFromRecord(model, recordName, view);
    view.ShowClimatology();
    return true;
}

std::string MonthsWithoutSoil(const TClimatology& climate) {
    std::string months;
    for (int m = 1; m <= 12; ++m)
        if (!IsPresent(climate.av_Ts[m])) months += (months.empty() ? "" : ", ") + std::to_string(m);
    return months;
}

void FillSoilMonths(TClimatology& target, const TClimatology& source) {
    for (int m = 1; m <= 12; ++m) {
        const bool soilless = !IsPresent(target.av_Ts[m]);
        for (MonthArray TClimatology::*field : SOIL_FIELDS)
            if (soilless || !IsPresent((target.*field)[m])) (target.*field)[m] = (source.*field)[m];
    }
}

}  // namespace kelmar
