// The save commands of the site, the climatology and the weather: the
// window's "Save file" buttons and kelmar-cli's outputs write through these.
// Each writes exactly the texts it is given (what the grid shows, edited
// cells included), after one check of where they go. The chart's pictures,
// drawn by the window, are written here too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/open_commands.h"
#include "model/model_state.h"
#include "model/record_texts.h"

namespace kelmar {

// A save is refused, with KelmarError naming the file and nothing written,
// when it would replace a file the run read and a person would lose data
// that way: the weather saved over the weather record (the saved weather has
// its gaps filled, and the observed record would be gone), or any save over
// an input of another kind (the site saved over the climatology, ...). A
// site saved over the site file read, or a climatology over the climatology
// read, is how people edit them, and goes ahead.
void SaveSite(const std::string& fileName, const SiteTexts& values, const RunInputs& read);
void SaveClimatology(const std::string& fileName, const ClimatologyTexts& values, const RunInputs& read);
void SaveWeather(const std::string& fileName, const std::vector<WeatherRowTexts>& rows, const RunInputs& read);

// Writes the bytes of a picture (the chart as a bitmap, a metafile, ...) to
// `fileName`, replacing a file of that name whole: a failed write raises
// KelmarError naming the file and leaves the old file as it was.
void SavePicture(const std::string& fileName, std::string_view bytes);

}  // namespace kelmar
