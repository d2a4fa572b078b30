// The site parameter file (.sit): a header line, a "#" line, then for each of
// the fifteen site parameters a data line "key,value" and a comment line.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "model/model_state.h"
#include "model/notifier.h"
#include "model/record_texts.h"
#include "model/record_fields.h"

namespace kelmar {

inline constexpr const char* SITE_NOT_FOUND_MESSAGE = "File soil parameters (%s) not found.";

// Sets the five parameters a site file may leave out: D_ff 0.05 g/cm^3,
// W_WP_ff 2.5, W_FC_ff 10 and W_Sat_ff 97 vol.%, Fortype spruce.
void ApplySiteDefaults(TSiteParams& site);

// Applies the defaults, then reads the site file `fileName` (".sit" appended
// when the name holds no full stop) into model.Site. Gives false after the
// not-found warning when there is no such file. A value that does not convert
// raises KelmarError naming the file and the line; the parameters read before
// it keep their new values.
// The caller then brings the window's forest-type list and its ground-water
// and permafrost choices in line with the parameters.
bool ReadSiteFile(TModel& model, const std::string& fileName, Notifier& notifier);

// Reads the bytes of a site file into model.Site (no defaults applied): after
// the two header lines, lines are taken strictly in pairs, a data line and a
// skipped comment line. An error names `fileName` and the line. A file that
// looks like UTF-16 is refused before anything changes.
void ReadSiteBytes(TModel& model, std::string_view bytes, std::string_view fileName = {});

// Stores the value of one data line "key,value" into `site`. The value is
// converted as a real number whatever the key; an unknown key stores nothing.
void ParseSiteLine(TSiteParams& site, std::string_view line);

// Writes a site file named exactly `fileName`: each parameter's key, its
// value text as given (in the file's code page) and its comment line.
void WriteSiteFile(const std::string& fileName, const SiteTexts& values);

}  // namespace kelmar
