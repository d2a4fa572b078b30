#include "app/save_commands.h"

#include "io/climatology_file.h"
#include "io/file_bytes.h"
#include "io/file_output.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/errors.h"

namespace kelmar {

namespace {

enum class InputKind { Site, Climatology, Weather };

struct InputFile {
    InputKind Kind;
    const std::string* Name;  // empty when the run read no file of the kind
    const char* What;
};

// Refuses `fileName` when it is a file the run read that a save of `saved`
// may not replace: any input of another kind, and the weather record itself.
void RefuseLosingAnInput(const std::string& fileName, InputKind saved, const char* savedWhat, const RunInputs& read) {
    const InputFile inputs[] = {
        {InputKind::Site, &read.site, "the site file"},
        {InputKind::Climatology, &read.climatology, "the climatology file"},
        {InputKind::Weather, &read.weather, "the weather record"},
    };
    for (const InputFile& input : inputs) {
        if (input.Name->empty() || !SameFile(fileName, *input.Name)) continue;
        if (input.Kind == saved && saved != InputKind::Weather) continue;  // editing the file read
        std::string why = input.Kind == InputKind::Weather && saved == InputKind::Weather
                              ? "the saved weather has its gaps filled, and the observed record would be lost"
                              : std::string("it would be lost");
        throw KelmarError(std::string("The ") + savedWhat + " was not saved: \"" + fileName + "\" is " + input.What +
                          " the run read, and " + why + ". Choose another name.");
    }
}

}  // namespace

void SaveSite(const std::string& fileName, const SiteTexts& values, const RunInputs& read) {
    RefuseLosingAnInput(fileName, InputKind::Site, "site file", read);
    WriteSiteFile(fileName, values);
}

void SaveClimatology(const std::string& fileName, const ClimatologyTexts& values, const RunInputs& read) {
    RefuseLosingAnInput(fileName, InputKind::Climatology, "climatology", read);
    WriteClimatologyFile(fileName, values);
}

void SaveWeather(const std::string& fileName, const std::vector<WeatherRowTexts>& rows, const RunInputs& read) {
    RefuseLosingAnInput(fileName, InputKind::Weather, "weather", read);
    WriteWeatherFile(fileName, rows);
}

void SavePicture(const std::string& fileName, std::string_view bytes) { WriteFileAtomically(fileName, bytes); }

}  // namespace kelmar
