// The file dialogs of the commands: what each one asks for, its title,
// filter, proposed name and default extension. The window shows them; the
// command-line tool answers them from its options.
#pragma once

#include <string>

namespace kelmar {

enum class FileDialog {
    SiteForRun,               // open a site file for a run
    WeatherForRun,            // open a weather file for a run
    ClimatologyForSimulation, // open a climatology, simulated weather
    ClimatologyForGaps,       // open a climatology, weather from file with soil-temperature gaps
    WeatherForEstimate,       // open a weather file for "Generate file"
    SaveResults,
    SaveWeather,
    SaveClimatology,
    SaveSite,
    SiteListForMap,           // open the site list a batch without netCDF results ran, for its positions
};

struct FileDialogSpec {
    bool save;                     // a save dialog; otherwise an open dialog
    const char* title;             // UTF-8
    const char* filter;            // pairs of description and pattern, separated by "|"
    const char* proposedName;      // empty: keep what the last use of the dialog left
    const char* defaultExtension;  // empty: none
};

const FileDialogSpec& DialogSpec(FileDialog dialog);

}  // namespace kelmar
