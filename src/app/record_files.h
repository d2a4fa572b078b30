// The records of a run (site, climatology, weather record, scenario) read
// from and written to files one at a time, without a model: by the readers'
// naming rules (an extension added or replaced, a tidy weather table's
// site), with the checks a record edited in memory needs before it is
// written. The Python module holds records, not a model, and reaches files
// only through these.
#pragma once

#include <string>

#include "model/model_state.h"
#include "model/notifier.h"
#include "model/scenario.h"
#include "model/weather_record.h"

namespace kelmar {

// Each reader fills the record and returns the name of the file it read, as
// the reader formed it (".sit" added, ".cld" put in place of the extension,
// a tidy table's name as given). A missing file raises KelmarError with the
// reader's own not-found text; a file that does not read raises the
// reader's KelmarError. The other warnings of the reader go to `notifier`.
std::string ReadSiteRecord(const std::string& fileName, TSiteParams& site, Notifier& notifier);
std::string ReadClimatologyRecord(const std::string& fileName, TClimatology& climate, Notifier& notifier);
// A weather file (.wed), or the record of `siteId` in a tidy weather table
// (.csv; its only site when `siteId` is empty).
std::string ReadWeatherRecord(const std::string& fileName, const std::string& siteId, WeatherRecord& weather,
                              Notifier& notifier);
// A scenario file ("key = value" lines); its name defaults to the file's.
TScenario ReadScenarioRecord(const std::string& fileName);

// A site with the values a site file may leave out (as a site list's
// parameter columns have them) and zeros elsewhere.
TSiteParams DefaultSiteRecord();

// The writers write the file named exactly `fileName` with the bytes the
// window's save commands write for the record. For a climatology and a
// weather record, a value that is not a
// finite number (the file would hold nan or inf) raises KelmarError naming
// the variable (and for a weather record the month); so does a weather
// file named .csv, which would read back as a tidy weather table.
void WriteSiteRecord(const std::string& fileName, const TSiteParams& site);
void WriteClimatologyRecord(const std::string& fileName, const TClimatology& climate);
void WriteWeatherRecord(const std::string& fileName, const WeatherRecord& weather);

// `value` when it is a finite number; KelmarError "<what> must be a finite
// number, not <value>." otherwise. What a record may hold.
double RequireFiniteValue(double value, const std::string& what);

// The last component of a file's name ("soil.sit" of "data/soil.sit"), as
// the messages of a run name the files; empty for an empty name.
std::string FilePartOf(const std::string& fileName);

}  // namespace kelmar
