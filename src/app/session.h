// The state of one piece of work on a model beside its records: how many
// years of the last run are released for display, the step size, and the
// rules of the commands that change them (Step, the step box, Initialisation,
// "Save file"). The window holds one for its life and applies what these
// commands return to its controls; kelmar-cli and the tests drive it without
// a window.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/model_state.h"

namespace kelmar {

// Shown beside the step controls when a Step with weather from file was cut
// to the years left in the record.
inline constexpr const char* WHOLE_INPUT_NOTICE = "The calculation was made for the whole input data";
// Status texts of a Step, and of an open command, after a run that made no
// results; of "Save file" with no year to write.
inline constexpr const char* NO_YEARS_TO_SHOW = "No years to show: the run made no results";
inline constexpr const char* NO_YEARS_TO_SAVE = "No years to save: nothing was written";

// The status panel's count of released years, as English reads it:
// "    1 year", "    10 years".
std::string YearCountText(int years);

// What a new text in the step box leads to.
struct StepBoxEdit {
    enum class Kind {
        Ignored,    // an empty box: nothing changes until a number is typed
        Corrected,  // the box is to show `value`, the step maximum, instead
        Accepted,   // `value` is the step size now held
    };
    Kind kind = Kind::Ignored;
    int value = 0;
};

// What a Step did.
struct StepOutcome {
    enum class Kind {
        Nothing,    // a step of 0 years (or fewer): no change
        NoResults,  // the last run made no results: nothing released
        Released,   // the step's years were added to those released
    };
    Kind kind = Kind::Nothing;
    // The step asked for more years than are left: it was cut to this many,
    // which the step box then shows.
    std::optional<int> cutTo;
    const char* notice = nullptr;  // for beside the step controls, or nothing
    const char* status = nullptr;  // for the status panel, or nothing
};

class Session {
public:
    explicit Session(const TModel& model) : Model(model) {}

    // Years of the last run released for display, from year index 1.
    int ReleasedYears() const { return Released; }
    // The released years as given, also beyond what a Step releases (the
    // chart views' tests, kelmar-cli's --years).
    void SetReleasedYears(int years) { Released = years; }
    // A run replaced the results: none of its years is released yet.
    void RunReplacedResults() {
        Released = 0;
        SavedYears = 0;
    }

    // Years added per Step.
    int StepSize() const { return StepYears; }
    // The most years a Step can release: the years of the record with
    // weather from file, else MAX_YEARS.
    int StepMaximum() const;

    // Initialisation once years are released starts the program afresh
    // (nothing loaded); before that it only readies the step controls.
    bool InitialisationRestarts() const { return Released > 0; }

    // A new text of the step box. Digits above the step maximum, or too
    // many for an int, become the maximum; any other text (a sign, a
    // decimal point) is left as typed for Step to refuse, rather than
    // changed into another number behind the person's back.
    StepBoxEdit EditStepBox(std::string_view text);

    // Step by `requested` years: a step past the years left is cut to those
    // left (with weather from file saying that the whole record is shown),
    // and after a run without results nothing is released. While years are
    // left, fewer than 1 is refused (KelmarError naming the range); once
    // none are, a step does nothing.
    StepOutcome Step(int requested);

    // The released years that the results table holds (0..MAX_YEARS).
    int ReleasedInTable() const;
    // Added to a year index to give the year the chart shows: the year
    // before the record's first with weather from file once years are
    // released; 0 with simulated weather, whose years count from 1.
    int CalendarOffset() const;

    // Years the weather save writes: the whole record with weather from
    // file, the released years with simulated weather.
    int WeatherYearsToWrite() const;

    // "Save file" has years to write: some are released and the last run
    // made results. Otherwise nothing is asked or written.
    bool HasYearsToSave() const;
    // Writes the released years of results to exactly `fileName` ("-":
    // standard output) and returns that name.
    std::string WriteResults(const std::string& fileName) const;
    // "Save file": writes the released years under the name derived from
    // the chosen one (ResultsFileName: ".csv" and a free name) and returns
    // the name written.
    std::string SaveResults(const std::string& chosenName);
    // Released years of results that no "Save file" has written since they
    // were released: closing or restarting would lose them. Nothing stepped
    // (or a run without results) loses nothing.
    bool HasUnsavedResults() const { return HasYearsToSave() && Released > SavedYears; }

private:
    const TModel& Model;
    int Released = 0;
    int StepYears = 1;
    int SavedYears = 0;  // released years the last "Save file" wrote
};

}  // namespace kelmar
