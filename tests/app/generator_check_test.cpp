#include "app/generator_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/climatology_file.h"
#include "io/weather_file.h"
#include "model/errors.h"
#include "model/weather_generator.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

class RecordingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { warnings.push_back(text); }
    std::vector<std::string> warnings;
};

const std::string EXAMPLE_CLIMATE = std::string(KELMAR_EXAMPLES_DIR) + "/climat.cld";

std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Writes records into a folder of its own.
struct GeneratorCheckTest : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelmar-check-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // `years` years drawn by the generator from the example climatology, as
    // an observed record with one decimal, as stations report; `change`
    // may alter each value (variable, year index, month, value) before it
    // is written.
    using Change = std::function<double(CheckVariable, int, int, double)>;
    std::string GeneratedRecord(const std::string& name, int years, std::uint32_t seed, const Change& change = {}) {
        auto model = std::make_unique<TModel>();
        RecordingNotifier notifier;
        EXPECT_TRUE(ReadClimatologyFile(*model, EXAMPLE_CLIMATE, notifier));
        model->Random.SetState(seed);
        auto weather = std::make_unique<TWeatherStore>();
        SimulateWeather(*model, years, true, *weather);
        std::vector<WeatherRowTexts> rows;
        for (int i = 1; i <= years; ++i)
            for (int m = 1; m <= 12; ++m) {
                double tair = weather->Tair[i][m], prec = weather->Prec[i][m], tsoil = weather->Tsoil[i][m];
                if (change) {
                    tair = change(CheckVariable::Tair, i, m, tair);
                    prec = change(CheckVariable::Prec, i, m, prec);
                    tsoil = change(CheckVariable::Tsoil, i, m, tsoil);
                }
                rows.push_back({std::to_string(1960 + i), std::to_string(m), OneDecimal(tair), OneDecimal(prec),
                                OneDecimal(tsoil)});
            }
        const std::string file = (dir / name).string();
        WriteWeatherFile(file, rows);
        return file;
    }

    GeneratorCheck Check(const std::string& record, const std::string& climate, std::uint32_t seed,
                         RecordingNotifier& notifier) {
        auto model = std::make_unique<TModel>();
        CheckInputs inputs;
        inputs.Weather = record;
        inputs.Climate = climate;
        inputs.Seed = seed;
        const std::optional<GeneratorCheck> check = RunGeneratorCheck(*model, inputs, notifier);
        if (!check) ADD_FAILURE() << "no check of " << record;
        return check.value_or(GeneratorCheck{});
    }
};

int Failures(const GeneratorCheck& check, CheckVariable variable, CheckTest test) {
    int count = 0;
    for (const CheckRow& row : check.Rows) count += row.Variable == variable && row.Test == test && row.Fails;
    return count;
}

std::string VerdictOf(const GeneratorCheck& check, CheckVariable variable) {
    return CheckVerdicts(check)[static_cast<std::size_t>(variable)];
}

// Records made by the generator itself, 40 years each: with the climatology
// estimated from them and with the one they were drawn from, the share of
// variables flagged stays within the 5 % that Holm's adjustment allows for
// a family (without it, 36 tests at 5 % would flag most of them).
TEST_F(GeneratorCheckTest, RecordsOfTheGeneratorItselfAreNotFlagged) {
    constexpr int RECORDS = 10;
    int families = 0, flagged = 0;
    std::string flaggedWhere;
    for (std::uint32_t seed = 1; seed <= RECORDS; ++seed) {
        const std::string record = GeneratedRecord("own" + std::to_string(seed) + ".wed", 40, seed * 7919);
        for (const std::string& climate : {std::string(), EXAMPLE_CLIMATE}) {
            RecordingNotifier notifier;
            const GeneratorCheck check = Check(record, climate, seed, notifier);
            for (const CheckVariable variable : CHECK_VARIABLES) {
                ++families;
                const std::string verdict = VerdictOf(check, variable);
                if (verdict.find("FAILS") == std::string::npos) continue;
                ++flagged;
                flaggedWhere += "\n  record seed " + std::to_string(seed * 7919) +
                                (climate.empty() ? " (estimated): " : " (climat.cld): ") + verdict;
            }
        }
    }
    EXPECT_EQ(families, RECORDS * 2 * 3);
    EXPECT_LE(flagged, families / 20) << flagged << " of " << families << " variables flagged:" << flaggedWhere;
}

// The same kind of record with each month's anomalies of air temperature and
// precipitation doubled around the climatology's means: against the
// climatology it came from, their standard deviations fail in most months.
// The soil temperature, left as drawn, passes.
TEST_F(GeneratorCheckTest, DoubledVariabilityFails) {
    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadClimatologyFile(*model, EXAMPLE_CLIMATE, notifier));
    const TClimatology climate = model->Climate;
    const auto doubled = [&](CheckVariable variable, int, int m, double value) {
        if (variable == CheckVariable::Tair) return climate.av_Ta[m] + 2 * (value - climate.av_Ta[m]);
        if (variable == CheckVariable::Prec) return std::max(0.0, climate.av_P[m] + 2 * (value - climate.av_P[m]));
        return value;
    };
    const std::string record = GeneratedRecord("doubled.wed", 40, 2024, doubled);
    const GeneratorCheck check = Check(record, EXAMPLE_CLIMATE, 5, notifier);
    EXPECT_GE(Failures(check, CheckVariable::Tair, CheckTest::StdDev), 10) << VerdictOf(check, CheckVariable::Tair);
    EXPECT_GE(Failures(check, CheckVariable::Prec, CheckTest::StdDev), 8) << VerdictOf(check, CheckVariable::Prec);
    EXPECT_NE(VerdictOf(check, CheckVariable::Tair).find("FAILS"), std::string::npos);
    EXPECT_NE(VerdictOf(check, CheckVariable::Prec).find("FAILS"), std::string::npos);
    EXPECT_EQ(VerdictOf(check, CheckVariable::Tsoil).find("FAILS"), std::string::npos)
        << VerdictOf(check, CheckVariable::Tsoil);
    EXPECT_TRUE(CheckFails(check));
}

// Missing observed values are left out of every test and counted; a record
// without soil temperatures checks the rest and says why soil was not.
TEST_F(GeneratorCheckTest, MissingValuesAreLeftOutAndCounted) {
    const auto gaps = [](CheckVariable variable, int year, int m, double value) {
        // Every third March soil temperature and the first two Julys' precipitation.
        if (variable == CheckVariable::Tsoil && m == 3 && year % 3 == 1) return MISSING_VALUE;
        if (variable == CheckVariable::Prec && m == 7 && year <= 2) return MISSING_VALUE;
        return value;
    };
    const std::string record = GeneratedRecord("gaps.wed", 30, 11, gaps);
    RecordingNotifier notifier;
    const GeneratorCheck check = Check(record, EXAMPLE_CLIMATE, 3, notifier);
    const auto& soil = check.Variables[static_cast<std::size_t>(CheckVariable::Tsoil)];
    EXPECT_EQ(soil.Observed[3].Count, 20);
    EXPECT_EQ(soil.Observed[3].Missing, 10);
    EXPECT_EQ(soil.Observed[4].Count, 30);
    EXPECT_EQ(soil.Observed[4].Missing, 0);
    const auto& prec = check.Variables[static_cast<std::size_t>(CheckVariable::Prec)];
    EXPECT_EQ(prec.Observed[7].Count, 28);
    EXPECT_EQ(prec.Observed[7].Missing, 2);
    const std::string table = FormatCheckTable(check);
    EXPECT_NE(table.find("\ntsoil,degC,3,mean,welch_t,20,10,500,"), std::string::npos) << table.substr(0, 400);
    for (const CheckRow& row : check.Rows) {
        EXPECT_TRUE(row.Tested) << CheckVariableKey(row.Variable) << " month " << row.Month;
        EXPECT_TRUE(std::isfinite(row.Result.P) && std::isfinite(row.HolmP) && std::isfinite(row.Result.Statistic));
    }

    // Without a soil column: air temperature and precipitation are checked.
    std::vector<WeatherRowTexts> rows;
    for (int year = 1961; year <= 1970; ++year)
        for (int m = 1; m <= 12; ++m)
            rows.push_back({std::to_string(year), std::to_string(m), OneDecimal(-10 + 2 * m + (year % 3)),
                            OneDecimal(20 + 3 * m + (year % 4) * 5), "-99.9"});
    const std::string noSoil = (dir / "nosoil.wed").string();
    WriteWeatherFile(noSoil, rows);
    const GeneratorCheck airOnly = Check(noSoil, "", 3, notifier);
    EXPECT_NE(VerdictOf(airOnly, CheckVariable::Tsoil).find("not checked"), std::string::npos)
        << VerdictOf(airOnly, CheckVariable::Tsoil);
    EXPECT_EQ(VerdictOf(airOnly, CheckVariable::Tair).find("not checked"), std::string::npos)
        << VerdictOf(airOnly, CheckVariable::Tair);
    const std::string airTable = FormatCheckTable(airOnly);
    EXPECT_NE(airTable.find("\ntsoil,degC,1,mean,welch_t,0,10,0,,,,,,,,,,untested\n"), std::string::npos) << airTable;
}

// The table: a header and one row per variable, month and test, each with
// the eighteen columns of the header.
TEST_F(GeneratorCheckTest, TableHasARowPerVariableMonthAndTest) {
    const std::string record = GeneratedRecord("table.wed", 12, 5);
    RecordingNotifier notifier;
    const GeneratorCheck check = Check(record, EXAMPLE_CLIMATE, 9, notifier);
    const std::string table = FormatCheckTable(check);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = table.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(table.substr(start, end - start));
    ASSERT_EQ(lines.size(), 1u + 3 * 12 * 3);
    EXPECT_EQ(lines[0],
              "variable,unit,month,test,method,n_obs,n_missing,n_sim,obs_mean,sim_mean,obs_sd,sim_sd,statistic,df1,"
              "df2,p,p_holm,result");
    for (const std::string& line : lines)
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 17) << line;
    EXPECT_EQ(lines[1].rfind("tair,degC,1,mean,welch_t,12,0,500,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[3].rfind("tair,degC,1,distribution,ks,12,0,500,", 0), 0u) << lines[3];
    EXPECT_EQ(lines.back().rfind("tsoil,degC,12,distribution,ks,", 0), 0u) << lines.back();
    // The F test carries both degrees of freedom: 11 and 499.
    EXPECT_NE(lines[2].find(",11,499,"), std::string::npos) << lines[2];
    EXPECT_EQ(check.SimulatedYears, 500);
    EXPECT_EQ(check.Seed, 9u);
}

// What cannot be checked is refused with the file's name, and nothing of a
// missing file is checked.
TEST_F(GeneratorCheckTest, BadInputIsRefusedByName) {
    RecordingNotifier notifier;
    auto model = std::make_unique<TModel>();
    CheckInputs inputs;
    inputs.Weather = (dir / "absent.wed").string();
    EXPECT_FALSE(RunGeneratorCheck(*model, inputs, notifier).has_value());
    ASSERT_EQ(notifier.warnings.size(), 1u);
    EXPECT_NE(notifier.warnings[0].find("absent.wed"), std::string::npos) << notifier.warnings[0];

    const auto refusal = [&](const std::string& record, const std::string& climate) -> std::string {
        CheckInputs bad;
        bad.Weather = record;
        bad.Climate = climate;
        try {
            RunGeneratorCheck(*model, bad, notifier);
        } catch (const KelmarError& e) {
            return e.what();
        }
        return "(accepted)";
    };
    // Eleven months: no full year.
    std::vector<WeatherRowTexts> rows;
    for (int m = 1; m <= 11; ++m) rows.push_back({"1990", std::to_string(m), "1.0", "30.0", "2.0"});
    const std::string partYear = (dir / "partyear.wed").string();
    WriteWeatherFile(partYear, rows);
    const struct {
        const char* what;
        std::string record;
        std::vector<std::string> expected;
    } cases[] = {
        {"a record without a full year", partYear, {"partyear.wed", "no full year"}},
        {"three years: no regressions", GeneratedRecord("short.wed", 3, 1), {"short.wed", "Baa", "5 years"}},
    };
    for (const auto& c : cases) {
        const std::string text = refusal(c.record, "");
        for (const std::string& part : c.expected)
            EXPECT_NE(text.find(part), std::string::npos) << c.what << ": \"" << part << "\" not in: " << text;
    }

    // A climatology file that is missing: the reader's warning, no check.
    inputs.Weather = GeneratedRecord("fine.wed", 10, 1);
    inputs.Climate = (dir / "absent.cld").string();
    EXPECT_FALSE(RunGeneratorCheck(*model, inputs, notifier).has_value());
    EXPECT_NE(notifier.warnings.back().find("absent.cld"), std::string::npos) << notifier.warnings.back();
}

// check.csv goes into the folder, made if missing; the figure is asked for
// by the same names.
TEST_F(GeneratorCheckTest, OutputsGoIntoTheFolder) {
    struct Figure : CheckFigureWriter {
        std::vector<std::string> files;
        void Write(const GeneratorCheck&, const std::string& png, const std::string& svg) override {
            files = {png, svg};
        }
    } figure;
    const std::string record = GeneratedRecord("out.wed", 8, 3);
    RecordingNotifier notifier;
    const GeneratorCheck check = Check(record, EXAMPLE_CLIMATE, 1, notifier);
    const fs::path out = dir / "new" / "folder";
    const std::vector<std::string> written = WriteCheckOutputs(check, out.string(), &figure);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(fs::path(written[0]), out / "check.csv");
    EXPECT_EQ(figure.files, (std::vector<std::string>{(out / "check.png").string(), (out / "check.svg").string()}));
    std::ifstream in(out / "check.csv", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, FormatCheckTable(check));
    EXPECT_EQ(WriteCheckOutputs(check, out.string(), nullptr).size(), 1u);
}

}  // namespace
}  // namespace kelmar
