#include "app/session.h"

#include <algorithm>
#include <charconv>

#include "app/results_file_name.h"
#include "app/run_notices.h"
#include "io/results_file.h"
#include "model/errors.h"

namespace kelmar {

int Session::StepMaximum() const { return Model.Settings.InpDat ? Model.AvailableYears : MAX_YEARS; }

std::string YearCountText(int years) {
    return "    " + std::to_string(years) + (years == 1 ? " year" : " years");
}

StepBoxEdit Session::EditStepBox(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return {};
    const int maximum = StepMaximum();
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    // Not all of it a number, or too long for an int: above the maximum too.
    const bool fits = error == std::errc() && end == text.data() + text.size();
    if (!fits || number > maximum) return {StepBoxEdit::Kind::Corrected, maximum};
    StepYears = number;
    return {StepBoxEdit::Kind::Accepted, number};
}

StepOutcome Session::Step(int requested) {
    StepOutcome outcome;
    const int left = StepMaximum() - Released;
    if (requested < 1 && left > 0)
        throw KelmarError("A Step takes a whole number of years from 1 to " + std::to_string(left) + ", not " +
                          std::to_string(requested) + ".");
    StepYears = requested;
    if (requested > left) {
        StepYears = left;
        outcome.cutTo = left;
        if (Model.Settings.InpDat) outcome.notice = WHOLE_INPUT_NOTICE;
    }
    if (StepYears <= 0) return outcome;
    // A run stopped before its first year left zeros, not results.
    if (!RunMadeResults(Model)) {
        outcome.kind = StepOutcome::Kind::NoResults;
        outcome.status = NO_YEARS_TO_SHOW;
        return outcome;
    }
    Released += StepYears;
    outcome.kind = StepOutcome::Kind::Released;
    return outcome;
}

int Session::ReleasedInTable() const { return std::clamp(Released, 0, MAX_YEARS); }

int Session::CalendarOffset() const {
    return Released > 0 && Model.Settings.InpDat ? Model.Settings.YearBeg - 1 : 0;
}

int Session::WeatherYearsToWrite() const { return Model.Settings.InpDat ? Model.AvailableYears : Released; }

bool Session::HasYearsToSave() const { return Released > 0 && RunMadeResults(Model); }

std::string Session::WriteResults(const std::string& fileName) const {
    WriteResultsFile(fileName, Model.Results, Released);
    return fileName;
}

std::string Session::SaveResults(const std::string& chosenName) {
    const std::string written = WriteResults(ResultsFileName(chosenName));
    SavedYears = Released;
    return written;
}

}  // namespace kelmar
