// The climatology file (.cld): a header line, a "#" line, then for each of
// the twelve monthly variables a data line "key,Jan,...,Dec" and a comment line.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "model/model_state.h"
#include "model/notifier.h"
#include "model/record_texts.h"
#include "model/record_fields.h"

namespace kelmar {

inline constexpr const char* CLIMATOLOGY_NOT_FOUND_MESSAGE = "File climat parameters (%s) not found.";

// Reads the climatology file `fileName` (its extension replaced by ".cld")
// into model.Climate and derives mu_P and sigma_P. Gives false after the
// not-found warning when there is no such file. A value that does not convert
// or a month whose parameters cannot be derived raises KelmarError naming the
// file and the line or month; what was stored before it stays. With weather from file, the caller then hides the
// residual deviation of soil temperature (Ss) in the climatology grid.
bool ReadClimatologyFile(TModel& model, const std::string& fileName, Notifier& notifier);

// Reads the bytes of a climatology file into model.Climate and derives mu_P
// and sigma_P: after the two header lines, lines are taken strictly in
// pairs, a data line and a skipped comment line. An error names `fileName`
// and the line (or the month of a failed derivation). A file that looks like
// UTF-16 is refused before anything changes.
void ReadClimatologyBytes(TModel& model, std::string_view bytes, std::string_view fileName = {});

// Stores the twelve monthly values of one data line into `climate`. Every
// value is converted whatever the key; an unknown key stores nothing, and
// text after the twelfth value is ignored.
void ParseClimatologyLine(TClimatology& climate, std::string_view line);

// The bytes of a climatology file: each variable's key, its twelve value
// texts as given (in the file's code page) and its comment.
std::string ClimatologyFileBytes(const ClimatologyTexts& values);

// Writes a climatology file named exactly `fileName`: each variable's key,
// its twelve value texts as given (in the file's code page) and its comment.
void WriteClimatologyFile(const std::string& fileName, const ClimatologyTexts& values);

}  // namespace kelmar
