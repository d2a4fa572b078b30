#include "app/generator_check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <span>
#include <system_error>

#include "app/open_commands.h"
#include "io/climatology_file.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/file_output.h"
#include "io/weather_file.h"
#include "model/climatology_estimation.h"
#include "model/errors.h"
#include "model/lognormal_precipitation.h"
#include "model/record_fields.h"
#include "model/weather_generator.h"

namespace kelmar {

namespace {

constexpr const char* MONTH_NAMES[13] = {"",     "January", "February", "March",     "April",   "May",     "June",
                                         "July", "August",  "September", "October", "November", "December"};
constexpr const char* MONTH_SHORT[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const char* VariableLabel(CheckVariable variable) {
    switch (variable) {
        case CheckVariable::Tair: return "air temperature";
        case CheckVariable::Prec: return "precipitation";
        case CheckVariable::Tsoil: return "soil temperature";
    }
    return "";
}

const YearMonthSeries& SeriesOf(const TWeatherStore& store, CheckVariable variable) {
    switch (variable) {
        case CheckVariable::Tair: return store.Tair;
        case CheckVariable::Prec: return store.Prec;
        case CheckVariable::Tsoil: return store.Tsoil;
    }
    return store.Tair;
}

const ClimateField& FieldOf(MonthArray TClimatology::*member) {
    for (const ClimateField& field : CLIMATE_FIELDS)
        if (field.Values == member) return field;
    return CLIMATE_FIELDS.front();
}

// What the generator reads for air temperature and precipitation, and for
// the soil temperature under grass.
constexpr MonthArray TClimatology::*AIR_FIELDS[] = {&TClimatology::av_Ta, &TClimatology::std_Ta,
                                                     &TClimatology::av_P,  &TClimatology::Cv_P,
                                                     &TClimatology::Baa,   &TClimatology::Bap,
                                                     &TClimatology::Sa};
constexpr MonthArray TClimatology::*SOIL_FIELDS[] = {&TClimatology::av_Ts, &TClimatology::std_Ts,
                                                      &TClimatology::Bss,   &TClimatology::Bsa,
                                                      &TClimatology::Ss};

// "Baa (regression coefficient) for March", the first value of `fields`
// the climatology lacks, or nothing.
std::optional<std::string> FirstMissing(const TClimatology& climate,
                                        std::span<MonthArray TClimatology::* const> fields) {
    for (const auto member : fields)
        for (int m = 1; m <= 12; ++m)
            if (!IsPresent((climate.*member)[m])) {
                const ClimateField& field = FieldOf(member);
                return std::string(field.Key) + " (" + field.LongName + ") for " + MONTH_NAMES[m];
            }
    return std::nullopt;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The record's years YearBeg..YearEnd, at most MAX_YEARS; none when empty.
int RecordYears(const TRunSettings& settings) {
    const std::int64_t span = std::int64_t{settings.YearEnd} - settings.YearBeg + 1;
    return static_cast<int>(std::clamp<std::int64_t>(span, 0, MAX_YEARS));
}

// The record's years; KelmarError naming `recordFile` when it has none.
int RequireFullYear(const TRunSettings& settings, const std::string& recordFile) {
    const int years = RecordYears(settings);
    if (years == 0)
        throw KelmarError("The weather record " + Quoted(recordFile) +
                          " has no full year: the check compares each month of the year across the years, and a "
                          "record's years are its monthly lines divided by 12.");
    return years;
}

std::vector<double> PresentValues(const YearMonthSeries& series, int years, int month, int& missing) {
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(years));
    missing = 0;
    for (int i = 1; i <= years; ++i) {
        if (IsPresent(series[i][month]))
            values.push_back(series[i][month]);
        else
            ++missing;
    }
    return values;
}

MonthSample Summarize(const std::vector<double>& values, int missing) {
    MonthSample sample;
    sample.Count = static_cast<int>(values.size());
    sample.Missing = missing;
    if (values.empty()) return sample;
    double sum = 0;
    for (double v : values) sum += v;
    sample.Mean = sum / double(values.size());
    if (values.size() < 2) return sample;
    double squares = 0;
    for (double v : values) squares += (v - sample.Mean) * (v - sample.Mean);
    sample.StdDev = std::sqrt(squares / double(values.size() - 1));
    return sample;
}

// Refuses a simulated value that is not finite (a climatology with values
// far outside any climate can overflow the lognormal draw).
void RequireFiniteSimulation(const TWeatherStore& simulated, int years, const std::string& climateSource) {
    for (const CheckVariable variable : CHECK_VARIABLES)
        for (int i = 1; i <= years; ++i)
            for (int m = 1; m <= 12; ++m)
                if (!std::isfinite(SeriesOf(simulated, variable)[i][m]))
                    throw KelmarError("The weather simulated from " + climateSource + " holds a " +
                                      VariableLabel(variable) + " that is not a finite number (" + MONTH_NAMES[m] +
                                      " of simulated year " + std::to_string(i) +
                                      "); the climatology's values for the month are too large.");
}

void AppendNumber(std::string& out, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

}  // namespace

const char* CheckVariableKey(CheckVariable variable) {
    switch (variable) {
        case CheckVariable::Tair: return "tair";
        case CheckVariable::Prec: return "prec";
        case CheckVariable::Tsoil: return "tsoil";
    }
    return "";
}

const char* CheckVariableUnit(CheckVariable variable) { return variable == CheckVariable::Prec ? "mm" : "degC"; }

const char* CheckTestKey(CheckTest test) {
    switch (test) {
        case CheckTest::Mean: return "mean";
        case CheckTest::StdDev: return "sd";
        case CheckTest::Distribution: return "distribution";
    }
    return "";
}

const char* CheckTestMethod(CheckVariable variable, CheckTest test) {
    switch (test) {
        case CheckTest::Mean: return "welch_t";
        case CheckTest::StdDev: return variable == CheckVariable::Prec ? "brown_forsythe" : "f";
        case CheckTest::Distribution: return "ks";
    }
    return "";
}

std::optional<GeneratorCheck> RunGeneratorCheck(TModel& model, const CheckInputs& inputs, Notifier& notifier) {
    if (inputs.Seed) model.Random.SetState(*inputs.Seed);
    if (!ReadWeatherFile(model, inputs.Weather, notifier, inputs.SiteId)) return std::nullopt;
    RequireFullYear(model.Settings, WeatherFileName(inputs.Weather));
    std::optional<std::string> climateFile;
    if (!inputs.Climate.empty()) {
        if (!ReadClimatologyFile(model, inputs.Climate, notifier)) return std::nullopt;
        climateFile = ReplaceExtension(inputs.Climate, CLIMATOLOGY_EXTENSION);
    }
    return CheckRecordInModel(model, WeatherFileName(inputs.Weather), climateFile, inputs.Years, notifier);
}

GeneratorCheck CheckRecordInModel(TModel& model, const std::string& recordFile,
                                  const std::optional<std::string>& climateFile, int years, Notifier& notifier) {
    GeneratorCheck check;
    check.Seed = model.Random.State();
    check.RecordName = Utf8Name(PathOf(recordFile).filename());
    check.RecordYears = RequireFullYear(model.Settings, recordFile);

    std::string climateSource;
    if (!climateFile) {
        EstimateFromRecord(model, check.RecordName, notifier);
        climateSource = "the climatology estimated from " + Quoted(check.RecordName);
    } else {
        check.ClimateName = Utf8Name(PathOf(*climateFile).filename());
        climateSource = climateFile->empty() ? "the climatology given" : "the climatology file " + Quoted(*climateFile);
    }
    if (const auto missing = FirstMissing(model.Climate, AIR_FIELDS))
        throw KelmarError("The weather generator cannot simulate from " + climateSource + ": it has no " + *missing +
                          ". A climatology estimated from fewer than " + std::to_string(YEARS_FOR_REGRESSIONS) +
                          " years of record has no regression coefficients.");
    {
        // The lognormal parameters, as reading a climatology file derives them
        // (for a file read, the values it has already; for a climatology
        // edited since, its own).
        for (int m = 1; m <= 12; ++m) {
            try {
                DeriveLognormalMonth(model.Climate, m);
            } catch (const KelmarError& e) {
                throw KelmarError(std::string(e.what()) + "\nin " + climateSource + ", av_P and Cv_P of " +
                                  MONTH_NAMES[m]);
            }
        }
    }
    const auto soilMissing = FirstMissing(model.Climate, SOIL_FIELDS);

    check.SimulatedYears = std::clamp(years, 1, MAX_YEARS);
    auto simulated = std::make_unique<TWeatherStore>();
    SimulateWeather(model, check.SimulatedYears, !soilMissing, *simulated);
    RequireFiniteSimulation(*simulated, check.SimulatedYears, climateSource);

    for (std::size_t v = 0; v < CHECK_VARIABLES.size(); ++v) {
        const CheckVariable variable = CHECK_VARIABLES[v];
        VariableCheck& result = check.Variables[v];
        result.Variable = variable;
        std::array<std::vector<double>, 13> observed, drawn;
        int observedCount = 0;
        for (int m = 1; m <= 12; ++m) {
            int missing = 0, none = 0;
            observed[m] = PresentValues(SeriesOf(model.Weather, variable), check.RecordYears, m, missing);
            result.Observed[m] = Summarize(observed[m], missing);
            observedCount += result.Observed[m].Count;
            drawn[m] = PresentValues(SeriesOf(*simulated, variable), check.SimulatedYears, m, none);
            result.Simulated[m] = Summarize(drawn[m], 0);
        }
        if (variable == CheckVariable::Tsoil && soilMissing)
            result.NotChecked = "the generator cannot simulate it from " + climateSource + ", which has no " +
                                *soilMissing;
        else if (observedCount == 0)
            result.NotChecked = "the record " + Quoted(check.RecordName) + " has none";

        const std::size_t first = check.Rows.size();
        std::vector<double> pValues;
        for (int m = 1; m <= 12; ++m)
            for (const CheckTest test : CHECK_TESTS) {
                CheckRow row;
                row.Variable = variable;
                row.Month = m;
                row.Test = test;
                const std::size_t least = test == CheckTest::Distribution ? 1 : 2;
                row.Tested = result.NotChecked.empty() && observed[m].size() >= least && drawn[m].size() >= least;
                if (row.Tested) {
                    switch (test) {
                        case CheckTest::Mean: row.Result = WelchTest(observed[m], drawn[m]); break;
                        case CheckTest::StdDev:
                            // Monthly precipitation is skewed (lognormal in the generator), and
                            // the F test of its variances rejects far more often than its level
                            // says: the generator's own records failed it.
                            row.Result = variable == CheckVariable::Prec ? BrownForsytheTest(observed[m], drawn[m])
                                                                         : VarianceRatioTest(observed[m], drawn[m]);
                            break;
                        case CheckTest::Distribution: row.Result = KolmogorovSmirnovTest(observed[m], drawn[m]); break;
                    }
                    pValues.push_back(row.Result.P);
                }
                check.Rows.push_back(row);
            }
        // Holm's adjustment over the variable's tested months and tests.
        const std::vector<double> adjusted = HolmAdjust(pValues);
        std::size_t next = 0;
        for (std::size_t r = first; r < check.Rows.size(); ++r) {
            CheckRow& row = check.Rows[r];
            if (!row.Tested) continue;
            row.HolmP = adjusted[next++];
            row.Fails = row.HolmP < CHECK_LEVEL;
        }
    }
    return check;
}

GeneratorCheck CheckWeatherRecord(const WeatherRecord& weather, const std::string& recordName,
                                  const TClimatology* climate, const std::string& climateName, int years,
                                  std::optional<std::uint32_t> seed, Notifier& notifier) {
    if (years < 2 || years > MAX_YEARS)
        throw KelmarError("years takes a whole number from 2 to " + std::to_string(MAX_YEARS) + ", not " +
                          std::to_string(years) + ".");
    auto model = std::make_unique<TModel>();
    if (seed) model->Random.SetState(*seed);
    model->Weather = weather.Store;
    model->Settings.YearBeg = weather.YearBeg;
    model->Settings.YearEnd = weather.YearEnd;
    std::optional<std::string> climateFile;
    if (climate) {
        model->Climate = *climate;
        climateFile = climateName;
    }
    return CheckRecordInModel(*model, recordName, climateFile, years, notifier);
}

namespace {

const MonthSample& Observed(const GeneratorCheck& check, const CheckRow& row) {
    return check.Variables[static_cast<std::size_t>(row.Variable)].Observed[row.Month];
}
const MonthSample& Simulated(const GeneratorCheck& check, const CheckRow& row) {
    return check.Variables[static_cast<std::size_t>(row.Variable)].Simulated[row.Month];
}
std::optional<double> When(bool present, double value) { return present ? std::optional<double>(value) : std::nullopt; }

using Check = const GeneratorCheck&;
using Row = const CheckRow&;
constexpr auto TEXT = CheckFieldKind::Text;
constexpr auto COUNT = CheckFieldKind::Count;
constexpr auto NUMBER = CheckFieldKind::Number;

}  // namespace

const std::array<CheckField, CHECK_FIELD_COUNT> CHECK_FIELDS = {{
    {"variable", TEXT, "the variable compared: tair, prec or tsoil",
     [](Check, Row r) { return CheckVariableKey(r.Variable); }, nullptr, nullptr},
    {"unit", TEXT, "the unit of the variable's values: degC or mm",
     [](Check, Row r) { return CheckVariableUnit(r.Variable); }, nullptr, nullptr},
    {"month", COUNT, "the month compared, 1 to 12", nullptr,
     [](Check, Row r) { return std::int64_t{r.Month}; }, nullptr},
    {"test", TEXT, "what is compared: mean, sd or distribution",
     [](Check, Row r) { return CheckTestKey(r.Test); }, nullptr, nullptr},
    {"method", TEXT, "the test: welch_t, f, brown_forsythe or ks",
     [](Check, Row r) { return CheckTestMethod(r.Variable, r.Test); }, nullptr, nullptr},
    {"n_obs", COUNT, "observed values present", nullptr,
     [](Check c, Row r) { return std::int64_t{Observed(c, r).Count}; }, nullptr},
    {"n_missing", COUNT, "observed values missing", nullptr,
     [](Check c, Row r) { return std::int64_t{Observed(c, r).Missing}; }, nullptr},
    {"n_sim", COUNT, "simulated values", nullptr,
     [](Check c, Row r) { return std::int64_t{Simulated(c, r).Count}; }, nullptr},
    {"obs_mean", NUMBER, "mean of the observed values, in unit", nullptr, nullptr,
     [](Check c, Row r) { return When(Observed(c, r).Count > 0, Observed(c, r).Mean); }},
    {"sim_mean", NUMBER, "mean of the simulated values, in unit", nullptr, nullptr,
     [](Check c, Row r) { return When(Simulated(c, r).Count > 0, Simulated(c, r).Mean); }},
    {"obs_sd", NUMBER, "standard deviation of the observed values, in unit", nullptr, nullptr,
     [](Check c, Row r) { return When(Observed(c, r).Count > 1, Observed(c, r).StdDev); }},
    {"sim_sd", NUMBER, "standard deviation of the simulated values, in unit", nullptr, nullptr,
     [](Check c, Row r) { return When(Simulated(c, r).Count > 1, Simulated(c, r).StdDev); }},
    {"statistic", NUMBER, "the test's statistic", nullptr, nullptr,
     [](Check, Row r) { return When(r.Tested, r.Result.Statistic); }},
    {"df1", NUMBER, "the test's (first) degrees of freedom", nullptr, nullptr,
     [](Check, Row r) { return When(r.Tested && r.Test != CheckTest::Distribution, r.Result.Df1); }},
    {"df2", NUMBER, "the deviation test's second degrees of freedom", nullptr, nullptr,
     [](Check, Row r) { return When(r.Tested && r.Test == CheckTest::StdDev, r.Result.Df2); }},
    {"p", NUMBER, "the test's p-value", nullptr, nullptr, [](Check, Row r) { return When(r.Tested, r.Result.P); }},
    {"p_holm", NUMBER, "p after Holm's adjustment over the variable's 12 months x 3 tests", nullptr, nullptr,
     [](Check, Row r) { return When(r.Tested, r.HolmP); }},
    {"result", TEXT, "pass, fail (p_holm below 5 %) or untested (too few values)",
     [](Check, Row r) { return !r.Tested ? "untested" : r.Fails ? "fail" : "pass"; }, nullptr, nullptr},
}};

std::string FormatCheckTable(const GeneratorCheck& check) {
    std::string out;
    for (const CheckField& field : CHECK_FIELDS) {
        if (!out.empty()) out.push_back(',');
        out.append(field.Name);
    }
    out.push_back('\n');
    for (const CheckRow& row : check.Rows) {
        for (std::size_t f = 0; f < CHECK_FIELDS.size(); ++f) {
            const CheckField& field = CHECK_FIELDS[f];
            if (f > 0) out.push_back(',');
            switch (field.Kind) {
                case CheckFieldKind::Text: out.append(field.Text(check, row)); break;
                case CheckFieldKind::Count: out.append(std::to_string(field.Count(check, row))); break;
                case CheckFieldKind::Number:
                    if (const std::optional<double> value = field.Number(check, row)) AppendNumber(out, *value);
                    break;
            }
        }
        out.push_back('\n');
    }
    return out;
}

std::vector<std::string> CheckVerdicts(const GeneratorCheck& check) {
    std::vector<std::string> lines;
    for (const VariableCheck& variable : check.Variables) {
        std::string line = std::string(CheckVariableKey(variable.Variable)) + " (" + VariableLabel(variable.Variable) +
                           "): ";
        if (!variable.NotChecked.empty()) {
            lines.push_back(line + "not checked: " + variable.NotChecked + ".");
            continue;
        }
        int tested = 0, failed = 0;
        std::string where;
        for (const CheckTest test : CHECK_TESTS) {
            std::string months;
            for (const CheckRow& row : check.Rows) {
                if (row.Variable != variable.Variable || row.Test != test) continue;
                tested += row.Tested ? 1 : 0;
                if (!row.Fails) continue;
                ++failed;
                if (!months.empty()) months.push_back(' ');
                months.append(MONTH_SHORT[row.Month]);
            }
            if (months.empty()) continue;
            if (!where.empty()) where.append("; ");
            where.append(CheckTestKey(test)).append(" in ").append(months);
        }
        const std::string holm = " at 5 % (Holm over 12 months x mean, sd, distribution)";
        if (failed == 0)
            line += "passes: none of " + std::to_string(tested) + " tests fails" + holm;
        else
            line += "FAILS " + std::to_string(failed) + " of " + std::to_string(tested) + " tests" + holm + ": " + where;
        if (tested < 36) line += "; " + std::to_string(36 - tested) + " untested for too few values";
        lines.push_back(line + ".");
    }
    return lines;
}

bool CheckFails(const GeneratorCheck& check) {
    return std::any_of(check.Rows.begin(), check.Rows.end(), [](const CheckRow& row) { return row.Fails; });
}

std::vector<std::string> WriteCheckOutputs(const GeneratorCheck& check, const std::string& dir,
                                           CheckFigureWriter* figure) {
    MakeFolders(dir);
    const std::filesystem::path folder = PathOf(dir);
    const auto inFolder = [&](const char* name) { return Utf8Name(folder / name); };
    std::vector<std::string> written = {inFolder("check.csv")};
    WriteFileAtomically(written[0], FormatCheckTable(check));
    if (figure) {
        written.push_back(inFolder("check.png"));
        written.push_back(inFolder("check.svg"));
        figure->Write(check, written[1], written[2]);
    }
    return written;
}

}  // namespace kelmar
