#include "app/climate_estimate.h"

#include <charconv>

#include "app/open_commands.h"
#include "app/presentation/grid_texts.h"
#include "io/path_names.h"
#include "app/run_sequence.h"
#include "io/climatology_file.h"
#include "io/climatology_table.h"
#include "io/data_file_names.h"
#include "io/weather_file.h"
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

std::string UseEstimateOfRecord(TModel& model, TModel& record, const std::string& recordName,
                                const std::optional<ReferenceYears>& reference, Notifier& notifier) {
    if (reference) RestrictToReference(record, *reference, recordName);
    EstimateFromRecord(record, recordName, notifier);
    const std::string name = "the climatology estimated from " + recordName + ", " + EstimateYearsText(record);
    UseEstimateAsWritten(model, record.Climate, name);
    return name;
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

namespace {

// The inputs of simulate --estimate-climate, each asked for in its dialog.
class EstimateSources : public RunSources {
public:
    EstimateSources(WorkflowView& view, OpenResult& result, const std::optional<ReferenceYears>& reference,
                    const HeldWeather* held)
        : View(view), Result(result), Reference(reference), Held(held) {}

    Notifier& Messages() override { return View; }

    bool ReadSite(TModel& model) override { return AskAndReadSite(model, View, Result); }

    // Simulated weather reads no record to run.
    std::optional<std::string> ReadWeather(TModel&) override { return std::nullopt; }

    std::optional<std::string> ReadClimatology(TModel& model) override {
        // The record in a model of its own: the run's model holds only what
        // a run from a climatology file holds.
        auto record = std::make_unique<TModel>();
        std::string recordName;
        if (Held) {
            UseHeldWeather(*record, *Held);
            recordName = Held->Name;
        } else {
            const auto weatherName = View.AskFile(FileDialog::WeatherForEstimate);
            if (!weatherName || !kelmar::ReadWeather(*record, *weatherName, View)) return std::nullopt;
            Result.read.weather = WeatherFileName(*weatherName);
            recordName = Utf8Name(PathOf(*weatherName).filename());
        }
        const std::string name = UseEstimateOfRecord(model, *record, recordName, Reference, View);
        const std::string years = EstimateYearsText(*record);
        const auto climateName = View.AskFile(FileDialog::ClimatologyForSimulation);
        const bool climateGiven = climateName && !climateName->empty();
        if (const std::string soilless = MonthsWithoutSoil(model.Climate); !soilless.empty() && !climateGiven)
            throw KelmarError("The weather record \"" + recordName + "\" has no soil temperature in month " + soilless +
                              " of the years " + years + ", so the climatology estimated from it has none there; "
                              "give --climate, a climatology whose soil-temperature fields (av_Ts, std_Ts, Bss, Bsa, "
                              "Ss) then fill those months.");
        if (climateGiven) {
            if (!ReadAnyClimatologyFile(*record, *climateName, View.WeatherSiteId(), View)) return std::nullopt;
            Result.read.climatology = ClimatologyFileName(*climateName);
            FillSoilMonths(model.Climate, record->Climate);
        }
        View.ShowClimatology();
        return name;
    }

    std::string ReadGapClimatology(TModel&, const std::string&) override { return {}; }

private:
    WorkflowView& View;
    OpenResult& Result;
    const std::optional<ReferenceYears>& Reference;
    const HeldWeather* Held;
};

}  // namespace

OpenResult OpenFilesEstimated(TModel& model, WorkflowView& view, const TScenario* scenario,
                              const std::optional<ReferenceYears>& reference, const HeldWeather* held) {
    OpenResult result;
    EstimateSources sources(view, result, reference, held);
    model.Settings.InpDat = false;
    const SequenceOutcome outcome = RunSimulatedSequence(model, sources, scenario);
    result.ran = outcome.Ran;
    result.outcome = outcome.Outcome;
    return result;
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
