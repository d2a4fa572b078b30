#include "app/record_files.h"

#include <cmath>
#include <memory>
#include <vector>

#include "app/open_commands.h"
#include "app/presentation/grid_texts.h"
#include "app/record_commands.h"
#include "app/save_commands.h"
#include "io/climatology_file.h"
#include "io/data_file_names.h"
#include "io/scenario_file.h"
#include "io/path_names.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "io/weather_table.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar {

namespace {

// Keeps a reader's warnings until it is known whether it found the file: a
// reader that gives false warned that the file is missing, and that warning
// is the error, not a warning besides it.
class HeldWarnings : public Notifier {
public:
    void Warning(const std::string& text) override { Texts.push_back(text); }

    void PassOn(bool found, const std::string& fileName, Notifier& notifier) const {
        if (!found)
            throw MissingFileError(Texts.empty() ? "File \"" + fileName + "\" not found." : Texts.back());
        for (const std::string& text : Texts) notifier.Warning(text);
    }

private:
    std::vector<std::string> Texts;
};

}  // namespace

std::string ReadSiteRecord(const std::string& fileName, TSiteParams& site, Notifier& notifier) {
    auto model = std::make_unique<TModel>();
    HeldWarnings warnings;
    warnings.PassOn(ReadSiteFile(*model, fileName, warnings), fileName, notifier);
    site = model->Site;
    return SiteFileName(fileName);
}

std::string ReadClimatologyRecord(const std::string& fileName, TClimatology& climate, Notifier& notifier) {
    auto model = std::make_unique<TModel>();
    HeldWarnings warnings;
    warnings.PassOn(ReadClimatologyFile(*model, fileName, warnings), fileName, notifier);
    climate = model->Climate;
    return ReplaceExtension(fileName, CLIMATOLOGY_EXTENSION);
}

std::string ReadWeatherRecord(const std::string& fileName, const std::string& siteId, WeatherRecord& weather,
                              Notifier& notifier) {
    auto model = std::make_unique<TModel>();
    HeldWarnings warnings;
    warnings.PassOn(ReadWeatherFile(*model, fileName, warnings, siteId), fileName, notifier);
    weather.Store = model->Weather;
    weather.YearBeg = model->Settings.YearBeg;
    weather.YearEnd = model->Settings.YearEnd;
    return WeatherFileName(fileName);
}

TScenario ReadScenarioRecord(const std::string& fileName) {
    return ReadScenarioFile(fileName);
}

TSiteParams DefaultSiteRecord() {
    TSiteParams site{};
    ApplySiteDefaults(site);
    return site;
}

double RequireFiniteValue(double value, const std::string& what) {
    if (!std::isfinite(value)) throw BadValueError(what + " must be a finite number, not " + std::to_string(value) + ".");
    return value;
}

void WriteSiteRecord(const std::string& fileName, const TSiteParams& site) {
    SaveSite(fileName, SiteValueTexts(site), RunInputs{});
}

void WriteClimatologyRecord(const std::string& fileName, const TClimatology& climate) {
    // Values the grid's two decimals would show as nan or inf do not belong in a file.
    for (const ClimateField& field : CLIMATE_FIELDS)
        for (int month = 1; month <= 12; ++month) RequireFiniteValue((climate.*field.Values)[month], field.Key);
    SaveClimatology(fileName, ClimatologyValueTexts(climate), RunInputs{});
}

void WriteWeatherRecord(const std::string& fileName, const WeatherRecord& weather) {
    // Read back, a .csv name is a tidy weather table, which this is not.
    if (IsWeatherTableName(fileName))
        throw KelmarError("The weather was not saved: \"" + fileName +
                          "\" would be read as a tidy weather table (.csv); give it the extension .wed.");
    const int years = std::max(0, std::min(weather.YearEnd - weather.YearBeg + 1, MAX_YEARS));
    for (int i = 1; i <= years; ++i)
        for (int month = 1; month <= 12; ++month) {
            const std::string when = " of " + std::to_string(weather.YearBeg + i - 1) + "-" + std::to_string(month);
            RequireFiniteValue(weather.Store.Tair[i][month], "Tair" + when);
            RequireFiniteValue(weather.Store.Prec[i][month], "Prec" + when);
            RequireFiniteValue(weather.Store.Tsoil[i][month], "Tsoil" + when);
        }
    SaveWeather(fileName, WeatherRecordRowTexts(weather), RunInputs{});
}

std::string FilePartOf(const std::string& fileName) {
    return fileName.empty() ? fileName : Utf8Name(PathOf(fileName).filename());
}

}  // namespace kelmar
