// Runs on records held in memory (read by the file readers, perhaps edited
// since) instead of files named in dialogs: the same checks and runs, in
// the same order, as the open commands, so a record run with a seed gives
// the numbers `kelmar-cli simulate` gives for the files it was read from.
// The Python module drives the model through these.
#pragma once

#include <string>
#include <vector>

#include "app/climate_estimate.h"
#include "model/model_state.h"
#include "model/notifier.h"
#include "model/record_texts.h"
#include "model/scenario.h"
#include "model/weather_record.h"

namespace kelmar {

// What one run is made from. The names (file names, usually) go into the
// messages of the checks; the records are not changed.
struct RecordRunInputs {
    const TSiteParams* Site = nullptr;
    const TClimatology* Climate = nullptr;  // simulated weather, or the soil-temperature gaps of a record
    std::string ClimateName;
    const WeatherRecord* Weather = nullptr;  // nothing: simulated weather
    std::string WeatherName;
};

// Runs `inputs` into `model` (a model as made, its random state set by the
// caller) through the run sequences of app/run_sequence.h: with a weather
// record the check of its months, a first run that counts its years, the
// climatology only when a soil temperature is missing, then the run that
// stays; otherwise 500 simulated years; the run that stays under `scenario`
// when one is given. mu_P and sigma_P are derived anew from av_P and Cv_P,
// as reading the climatology does. Raises KelmarError with the texts of the
// open commands and the batch: a record with soil-temperature gaps and no
// climatology is refused (the batch's rule) rather than filled from an
// empty one.
void RunRecords(TModel& model, const RecordRunInputs& inputs, Notifier& notifier,
                const TScenario* scenario = nullptr);

// The climatology estimated from `weather` as "Generate file" does, with its
// checks and warning; `recordName` names the record in messages. With
// `reference`, from those years of the record alone (RestrictToReference).
TClimatology EstimateFromWeatherRecord(const WeatherRecord& weather, const std::string& recordName,
                                       Notifier& notifier, const std::optional<ReferenceYears>& reference = {});

}  // namespace kelmar

namespace kelmar {

// The data lines of a weather file for `weather`, as the window's weather
// grid would show the record: year, month number, then air temperature,
// precipitation and soil temperature with two decimals (a missing value
// as its marker, -99.90, which reads back as missing).
std::vector<WeatherRowTexts> WeatherRecordRowTexts(const WeatherRecord& weather);

}  // namespace kelmar
