// The check of the weather generator against an observed record: the
// climatology is estimated from the record (or read from a file), the
// generator simulates many years from it, and the observed and simulated
// values of each month are compared for air temperature, precipitation and
// soil temperature under grass: their means (Welch's t test), standard
// deviations (F test; for precipitation, skewed, the Brown-Forsythe test,
// as the F test's level fails for skewed samples) and distributions
// (two-sample Kolmogorov-Smirnov).
// The p-values of one variable, 12 months x 3 tests, form one family for
// Holm's adjustment; a test fails where its adjusted p is below 5 %.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/model_state.h"
#include "model/notifier.h"
#include "model/weather_record.h"
#include "numerics/distributions.h"

namespace kelmar {

// The level at which a Holm-adjusted p fails the generator.
inline constexpr double CHECK_LEVEL = 0.05;

enum class CheckVariable { Tair, Prec, Tsoil };
inline constexpr std::array<CheckVariable, 3> CHECK_VARIABLES = {CheckVariable::Tair, CheckVariable::Prec,
                                                                 CheckVariable::Tsoil};
enum class CheckTest { Mean, StdDev, Distribution };
inline constexpr std::array<CheckTest, 3> CHECK_TESTS = {CheckTest::Mean, CheckTest::StdDev,
                                                         CheckTest::Distribution};

// The column key (tair, prec, tsoil) and unit of a variable.
const char* CheckVariableKey(CheckVariable variable);
const char* CheckVariableUnit(CheckVariable variable);
// What is compared, and how: "mean" / "welch_t", "sd" / "f" (precipitation:
// "brown_forsythe"), "distribution" / "ks".
const char* CheckTestKey(CheckTest test);
const char* CheckTestMethod(CheckVariable variable, CheckTest test);

struct CheckInputs {
    std::string Weather;                 // the observed record (.wed, or a tidy .csv)
    std::string SiteId;                  // the site of a tidy table with several
    std::string Climate;                 // a climatology file; empty: estimate it from the record
    int Years = MAX_YEARS;               // years to simulate, 2..MAX_YEARS
    std::optional<std::uint32_t> Seed;   // the random state; without it the model's own
};

// One month of one variable, observed or simulated.
struct MonthSample {
    int Count = 0;          // values present
    int Missing = 0;        // values missing (observed only)
    double Mean = 0;        // 0 without values
    double StdDev = 0;      // 0 with fewer than two values
};

struct CheckRow {
    CheckVariable Variable = CheckVariable::Tair;
    int Month = 1;  // 1..12
    CheckTest Test = CheckTest::Mean;
    bool Tested = false;  // false: too few values (t and F need two on each side, KS one)
    SampleTest Result;    // when tested
    double HolmP = 1;     // adjusted within the variable's family; when tested
    bool Fails = false;   // HolmP < CHECK_LEVEL
};

struct VariableCheck {
    CheckVariable Variable = CheckVariable::Tair;
    std::array<MonthSample, 13> Observed{};   // months 1..12
    std::array<MonthSample, 13> Simulated{};  // months 1..12
    // Empty when the variable was compared; otherwise why it was not (the
    // climatology cannot simulate it, or the record has none of it).
    std::string NotChecked;
};

struct GeneratorCheck {
    std::string RecordName;       // the file part of the record's name
    std::string ClimateName;      // the climatology file's name part; empty when estimated
    int RecordYears = 0;          // the years of the record compared
    int SimulatedYears = 0;
    std::uint32_t Seed = 0;       // the random state the simulation started from
    std::array<VariableCheck, 3> Variables{};  // in CHECK_VARIABLES order
    std::vector<CheckRow> Rows;   // variable x month x test, in that order
};

// Reads the record (and the climatology, when given), estimates the
// climatology otherwise, simulates and compares. The record must hold at
// least one full year, the climatology every coefficient the generator
// needs for air temperature and precipitation (soil temperature is left
// out, and said so, when it lacks those of the soil equation); otherwise
// KelmarError names the file. A file that is not found gives nothing after
// the reader's warning. Warnings of the readers and of the estimate go to
// `notifier`. Uses `model` for the work.
std::optional<GeneratorCheck> RunGeneratorCheck(TModel& model, const CheckInputs& inputs, Notifier& notifier);

// The same for a record already in `model` (its weather store and years,
// from `recordFile`, the name as the weather reader forms it) against the
// climatology in `model` when `climateFile` is given (the name of the file
// it came from), or one estimated from the record otherwise; `years`
// simulated from the model's random state. For records held in memory.
GeneratorCheck CheckRecordInModel(TModel& model, const std::string& recordFile,
                                  const std::optional<std::string>& climateFile, int years, Notifier& notifier);

// The same for a weather record held in memory (`recordName` names it in
// messages) against `climate` (read from `climateName`) or, without one,
// the climatology estimated from the record; `years` (2..MAX_YEARS, else
// KelmarError) simulated from the random state `seed`, or from the clock's
// without one.
GeneratorCheck CheckWeatherRecord(const WeatherRecord& weather, const std::string& recordName,
                                  const TClimatology* climate, const std::string& climateName, int years,
                                  std::optional<std::uint32_t> seed, Notifier& notifier);

// The columns of check.csv, one row per variable, month and test, in file
// order. A field is a text, a count or a number; a number may be absent
// (an empty field of the file): means without values, deviations without
// two, statistics and p of an untested row, df1 of the distribution test
// and df2 of all but the deviation test. The one table of the check's
// columns: the file's writer and the Python module's table both follow it.
enum class CheckFieldKind { Text, Count, Number };

struct CheckField {
    const char* Name;  // the column of check.csv
    CheckFieldKind Kind;
    const char* Meaning;
    // The row's value, by kind (the others are null).
    const char* (*Text)(const GeneratorCheck& check, const CheckRow& row);
    std::int64_t (*Count)(const GeneratorCheck& check, const CheckRow& row);
    std::optional<double> (*Number)(const GeneratorCheck& check, const CheckRow& row);
};

inline constexpr std::size_t CHECK_FIELD_COUNT = 18;
extern const std::array<CheckField, CHECK_FIELD_COUNT> CHECK_FIELDS;

// check.csv: the names of CHECK_FIELDS, then one row per variable, month
// and test. result is pass, fail or untested (statistics and p empty);
// numbers are the shortest texts that read back to the same doubles.
std::string FormatCheckTable(const GeneratorCheck& check);

// One line per variable: where the generator fails the record at 5 % after
// Holm's adjustment, or that it does not, or why the variable was not checked.
std::vector<std::string> CheckVerdicts(const GeneratorCheck& check);

// Whether any variable fails.
bool CheckFails(const GeneratorCheck& check);

// Draws the figure of a check (observed and simulated monthly means with
// their spread, one panel per variable) into a PNG and an SVG file. The
// window's libraries provide it; a build without them has none.
class CheckFigureWriter {
public:
    virtual ~CheckFigureWriter() = default;
    // Raises KelmarError naming the file that could not be written.
    virtual void Write(const GeneratorCheck& check, const std::string& pngFile, const std::string& svgFile) = 0;
};

// The files a check writes into `dir` (made if missing): check.csv, and
// check.png and check.svg when `figure` is given. Returns their paths, in that order.
std::vector<std::string> WriteCheckOutputs(const GeneratorCheck& check, const std::string& dir,
                                           CheckFigureWriter* figure);

}  // namespace kelmar
