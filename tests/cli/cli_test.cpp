#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/help_format.h"

namespace kelmar::cli {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ParseCommandLine, AcceptsTheDocumentedForms) {
    const CliOptions a = ParseCommandLine({"simulate", "--site", "s.sit", "--climate=c.cld", "--seed",
                                           "4294967295", "--years", "3", "--results", "r.csv"});
    EXPECT_EQ(a.command, Command::Simulate);
    EXPECT_EQ(a.site, "s.sit");
    EXPECT_EQ(a.climate, "c.cld");
    EXPECT_EQ(a.seed, 4294967295u);
    EXPECT_EQ(a.years, 3);
    EXPECT_EQ(a.results, "r.csv");

    const CliOptions b = ParseCommandLine({"estimate", "--weather", "w.wed", "--output", "c.cld"});
    EXPECT_EQ(b.command, Command::Estimate);
    EXPECT_EQ(ParseCommandLine({"--help"}).command, Command::Help);
    EXPECT_EQ(ParseCommandLine({"simulate", "--help"}).command, Command::Help);

    const CliOptions e = ParseCommandLine({"simulate", "--site", "s.sit", "--climate", "c.cld", "--replicates", "1000",
                                           "--summary", "--out", "d", "--rng", "pcg64", "--seed",
                                           "18446744073709551615", "--jobs", "2", "--delta-t", "1.5"});
    EXPECT_EQ(e.replicates, 1000);
    EXPECT_TRUE(e.summary);
    EXPECT_EQ(e.out, "d");
    EXPECT_EQ(e.wideSeed, 18446744073709551615u);
    EXPECT_FALSE(e.seed.has_value());
    EXPECT_EQ(e.jobs, 2);
    EXPECT_EQ(e.deltaT, 1.5);
}

// A value may be any name, a command's own included: `check --out check`
// writes into the folder "check" (as the README shows).
TEST(ParseCommandLine, AValueMayBeTheNameOfACommand) {
    EXPECT_EQ(ParseCommandLine({"check", "--weather", "w.wed", "--out", "check"}).out, "check");
    EXPECT_EQ(ParseCommandLine({"batch", "--sites", "batch", "--out", "batch"}).out, "batch");
    EXPECT_EQ(ParseCommandLine({"batch", "--sites", "batch", "--out", "merge"}).sites, "batch");
    EXPECT_EQ(ParseCommandLine({"merge", "merge"}).out, "merge");
    EXPECT_EQ(ParseCommandLine({"simulate", "--site", "simulate", "--climate", "estimate"}).climate, "estimate");
    EXPECT_THROW(ParseCommandLine({"check", "--weather", "w.wed", "check"}), UsageError);
}

// The words the bash completion is made from: every command with the
// options its parser takes, and none that it only refuses.
TEST(CompletionWords, NameEveryCommandAndTheOptionsItTakes) {
    const std::string words = CompletionWords();
    EXPECT_EQ(words.rfind("kelmar-cli simulate estimate batch merge check extract map --help --version\n", 0), 0u) << words;
    EXPECT_NE(words.find("\nestimate --help --weather=FILE --site-id=ID --output=FILE --reference=Y1-Y2\n"),
              std::string::npos)
        << words;
    EXPECT_NE(words.find(" --format=csv|netcdf|both "), std::string::npos) << words;
    EXPECT_NE(words.find("\nmerge --help =DIR --keep-parts\n"), std::string::npos) << words;
    EXPECT_NE(words.find(" --summary"), std::string::npos) << words;
    EXPECT_EQ(ParseCommandLine({COMPLETION_WORDS_OPTION}).helpText, words);
}

TEST(ParseCommandLine, RefusesWhatItCannotUnderstand) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"run"},
        {"simulate", "--site", "s.sit"},                               // neither climate nor weather
        {"simulate", "--climate", "c.cld"},                            // no site
        {"simulate", "--site", "s.sit", "--climate"},                  // value missing
        {"simulate", "--site", "s.sit", "--climate", "c", "--seed", "-1"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--seed", "4294967296"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--years", "2x"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--colour", "red"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--output", "o.cld"},
        {"estimate", "--weather", "w.wed"},
        {"estimate", "--weather", "w.wed", "--output", "o.cld", "--seed", "1"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--delta-t", "two"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--precip-factor", ""},
        {"simulate", "--site", "s.sit", "--climate", "c", "--scenario", "w.scn", "--delta-t", "1"},
        {"estimate", "--weather", "w.wed", "--output", "o.cld", "--delta-t", "1"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--replicates", "10"},                  // no --out
        {"simulate", "--site", "s.sit", "--weather", "w", "--replicates", "10", "--out", "d"},  // observed
        {"simulate", "--site", "s.sit", "--climate", "c", "--replicates", "0", "--out", "d"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--replicates", "2", "--out", "d", "--table", "t.csv"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--summary"},                         // no --replicates
        {"simulate", "--site", "s.sit", "--climate", "c", "--rng", "mt19937"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--seed", "4294967296"},               // lcg32: 32 bits
        {"estimate", "--weather", "w.wed", "--output", "o.cld", "--rng", "pcg64"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--csv-digits", "6"},                 // no --replicates
        {"merge", "d", "--csv-digits", "6"},                                                      // merge writes no numbers
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_THROW(ParseCommandLine(args), UsageError) << joined;
    }
}

// seed, jobs, rng and replicates are declared once for every command that
// takes them: the same value gets the same message from each.
TEST(ParseCommandLine, SharedOptionsAreCheckedAlikeInEveryCommand) {
    const std::vector<std::string> simulate = {"simulate", "--site", "s", "--climate", "c", "--replicates", "2",
                                               "--out", "d"};
    const std::vector<std::string> batch = {"batch", "--sites", "l.csv", "--out", "d"};
    const std::vector<std::string> check = {"check", "--weather", "w.wed"};
    const struct {
        std::vector<std::string> option;
        std::string message;
        std::vector<std::vector<std::string>> commands;
    } cases[] = {
        {{"--seed", "4294967296"}, "--seed needs a whole number from 0 to 4294967295, not '4294967296'",
         {simulate, batch, check}},
        {{"--seed", "-1"}, "--seed needs a whole number from 0 to 4294967295, not '-1'", {simulate, batch, check}},
        {{"--jobs", "0"}, "--jobs needs a whole number from 1 to 65535, not '0'", {simulate, batch}},
        {{"--jobs", "65536"}, "--jobs needs a whole number from 1 to 65535, not '65536'", {simulate, batch}},
        {{"--rng", "mt"}, "--rng needs lcg32 or pcg64, not 'mt'", {simulate, batch}},
        {{"--replicates", "100000001"}, "--replicates needs a whole number from 1 to 100000000, not '100000001'",
         {simulate, batch}},
        {{"--csv-digits", "0"}, "--csv-digits needs a whole number from 1 to 17, not '0'", {simulate, batch}},
        {{"--csv-digits", "18"}, "--csv-digits needs a whole number from 1 to 17, not '18'", {simulate, batch}},
        {{"--csv-digits", "6.5"}, "--csv-digits needs a whole number from 1 to 17, not '6.5'", {simulate, batch}},
        {{"--seed", "1", "--rng", "pcg64", "--seed", "x"},
         "--seed needs a whole number from 0 to 18446744073709551615, not 'x'", {simulate}},
    };
    for (const auto& c : cases)
        for (std::vector<std::string> args : c.commands) {
            args.insert(args.end(), c.option.begin(), c.option.end());
            try {
                ParseCommandLine(args);
                ADD_FAILURE() << args.front() << " " << c.option.front() << " accepted";
            } catch (const UsageError& e) {
                EXPECT_EQ(e.what(), c.message) << args.front();
                EXPECT_EQ(e.command(), args.front());
                EXPECT_EQ(UsageErrorLine(e), "kelmar-cli: " + c.message + "; see 'kelmar-cli " + args.front() + " --help'");
            }
        }
    // Within the limits: pcg64 widens simulate's seed; batch keeps its base seed of 32 bits.
    EXPECT_EQ(ParseCommandLine({"simulate", "--site", "s", "--climate", "c", "--rng", "pcg64", "--seed", "4294967296"})
                  .wideSeed,
              4294967296u);
    EXPECT_THROW(ParseCommandLine({"batch", "--sites", "l", "--out", "d", "--rng", "pcg64", "--seed", "4294967296"}),
                 UsageError);
    EXPECT_EQ(ParseCommandLine({"batch", "--sites", "l", "--out", "d", "--jobs", "65535", "--replicates", "100000000"})
                  .replicates,
              100000000);
}

// Each command's --help holds its own options, wrapped to the width; --help
// is answered even beside a value the command would refuse.
TEST(ParseCommandLine, EachCommandHasItsOwnHelpWrappedToTheWidth) {
    // From the narrowest width, where the descriptions go below their terms.
    for (const int width : {40, 56, 80, 132}) {
        for (const char* command : {"simulate", "estimate", "batch", "merge", "check"}) {
            const CliOptions help = ParseCommandLine({command, "--jobs", "0", "--help"}, width);
            EXPECT_EQ(help.command, Command::Help);
            EXPECT_EQ(help.helpText.rfind(std::string("Usage: kelmar-cli ") + command, 0), 0u) << help.helpText;
            std::istringstream lines(help.helpText);
            for (std::string line; std::getline(lines, line);) {  // a word longer than the width stands alone
                const bool oneWord = line.find(' ', line.find_first_not_of(' ')) == std::string::npos;
                if (!oneWord) EXPECT_LE(line.size(), static_cast<std::size_t>(width)) << command << ": " << line;
            }
        }
        const std::string top = ParseCommandLine({"--help"}, width).helpText;
        for (const char* command : {"\n  simulate", "\n  estimate", "\n  batch", "\n  merge", "\n  check"})
            EXPECT_NE(top.find(command), std::string::npos) << top;
        std::istringstream lines(top);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), static_cast<std::size_t>(width)) << line;
    }
    const std::string simulate = ParseCommandLine({"simulate", "--help"}).helpText;
    const std::string batch = ParseCommandLine({"batch", "--help"}).helpText;
    EXPECT_NE(simulate.find("\n  --table FILE "), std::string::npos) << simulate;
    EXPECT_EQ(simulate.find("--resume"), std::string::npos) << simulate;
    EXPECT_EQ(simulate.find("\n  --output"), std::string::npos) << "an option simulate refuses is offered";
    EXPECT_NE(batch.find("\n  --resume "), std::string::npos) << batch;
    EXPECT_EQ(batch.find("--table"), std::string::npos) << batch;
}

TEST(HelpWidth, TakesColumnsThenTheTerminalThenEighty) {
    const struct {
        const char* columns;
        std::optional<int> terminal;
        int width;
    } cases[] = {
        {nullptr, std::nullopt, 80}, {nullptr, 120, 120}, {"100", 120, 100}, {"", 120, 120},
        {"wide", std::nullopt, 80},  {"-5", 90, 90},      {"0", 90, 90},     {"12", std::nullopt, 40},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HelpWidth(c.columns, c.terminal), c.width) << (c.columns ? c.columns : "(unset)");
}

TEST(WrapText, BreaksAtBlanksAndKeepsLongWordsWhole) {
    EXPECT_EQ(WrapText("a bb ccc dddd", 6), (std::vector<std::string>{"a bb", "ccc", "dddd"}));
    EXPECT_EQ(WrapText("tiny 0123456789 x", 5), (std::vector<std::string>{"tiny", "0123456789", "x"}));
    EXPECT_EQ(WrapText("one\ntwo", 80), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(WrapText("\u00b0C \u00b0C", 5), (std::vector<std::string>{"\u00b0C \u00b0C"}));  // 5 characters
}

struct CliRun : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelmar-cli-" + std::to_string(::getpid()));
    std::ostringstream out, err;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    CliOptions Simulated(std::uint32_t seed) {
        CliOptions o;
        o.command = Command::Simulate;
        o.site = KELMAR_EXAMPLES_DIR "/soil.sit";
        o.climate = KELMAR_EXAMPLES_DIR "/climat.cld";
        o.seed = seed;
        return o;
    }
};

TEST_F(CliRun, SameSeedGivesTheSameFiles) {
    CliOptions o = Simulated(42);
    o.years = 3;
    o.results = (dir / "a.csv").string();
    o.table = (dir / "a-table.csv").string();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
    o.results = (dir / "b.csv").string();
    o.table = (dir / "b-table.csv").string();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
    EXPECT_EQ(ReadBytes(dir / "a.csv"), ReadBytes(dir / "b.csv"));
    EXPECT_EQ(ReadBytes(dir / "a-table.csv"), ReadBytes(dir / "b-table.csv"));

    const std::string results = ReadBytes(dir / "a.csv");
    EXPECT_EQ(results.rfind("Step, Tlit,  Tsoil,  Mlit,  Msoil\r\n", 0), 0u);
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 37);  // header + 36 months

    const std::string table = ReadBytes(dir / "a-table.csv");
    EXPECT_EQ(table.rfind("YearIndex,Year,Month,Tair,T_ff,Tsoil,T_ms,Prec,W_ms_vol,W_ff_vol,W_ms_mass,"
                          "W_ff_mass\n1,1,1,",
                          0),
              0u);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 500 * 13);
    EXPECT_NE(table.find("\n500,500,0,"), std::string::npos);  // the last annual record

    o.seed = 43;
    o.results = (dir / "c.csv").string();
    o.table.clear();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK);
    EXPECT_NE(ReadBytes(dir / "a.csv"), ReadBytes(dir / "c.csv"));
}

// A scenario that changes nothing, given on the line or in a file, leaves
// every output byte as without one, in both kinds of run.
TEST_F(CliRun, AScenarioOfNoChangeGivesTheSameBytes) {
    std::ofstream(dir / "zero.scn") << "name = zero\ndelta_t = 0\nprecip_factor = 1\n";
    std::ofstream(dir / "warm.scn") << "delta_t = 0.5\n";
    for (const bool fromFile : {false, true}) {
        const auto run = [&](const std::string& name, const std::function<void(CliOptions&)>& change) {
            CliOptions o = Simulated(42);
            if (fromFile) o.weather = KELMAR_EXAMPLES_DIR "/weather.wed";  // has soil gaps
            o.results = (dir / (name + ".csv")).string();
            o.table = (dir / (name + "-table.csv")).string();
            change(o);
            EXPECT_EQ(RunSimulate(o, out, err), EXIT_OK) << name << ": " << err.str();
            return ReadBytes(dir / (name + ".csv")) + ReadBytes(dir / (name + "-table.csv"));
        };
        const std::string none = run("none", [](CliOptions&) {});
        EXPECT_EQ(run("line", [](CliOptions& o) { o.deltaT = 0; o.precipFactor = 1; }), none) << "from file " << fromFile;
        EXPECT_EQ(run("file", [&](CliOptions& o) { o.scenario = (dir / "zero.scn").string(); }), none)
            << "from file " << fromFile;
        EXPECT_NE(run("warm", [&](CliOptions& o) { o.scenario = (dir / "warm.scn").string(); }), none)
            << "from file " << fromFile << ": the scenario changed nothing";
    }
    EXPECT_NE(out.str().find("Scenario warm (+0.5 \u00b0C)"), std::string::npos) << out.str();
}

// The ensemble from the command line: the folder, the generator and seed
// written with it, the site and scenario columns, and replicate 0 the
// single run of the same seed.
TEST_F(CliRun, ReplicatesGoToTheFolderWithTheirGenerator) {
    std::ofstream(dir / "warm.scn") << "name = warm\ndelta_t = 1\n";
    const struct {
        const char* rng;
        std::optional<std::uint64_t> wideSeed;
        const char* generator;
        const char* seedLine;
    } cases[] = {
        {"lcg32", std::nullopt, "rng: lcg32", "base_seed: 42\n"},
        {"pcg64", 1099511627776u, "rng: pcg64", "base_seed: 1099511627776\n"},
    };
    for (const auto& c : cases) {
        CliOptions o = Simulated(42);
        o.rng = c.rng;
        if (c.wideSeed) {
            o.seed.reset();
            o.wideSeed = c.wideSeed;
        }
        o.replicates = 2;
        o.out = (dir / c.rng).string();
        o.scenario = (dir / "warm.scn").string();
        ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << c.rng << ": " << err.str();
        const std::string manifest = ReadBytes(dir / c.rng / "ensemble.txt");
        EXPECT_NE(manifest.find(c.generator), std::string::npos) << manifest;
        EXPECT_NE(manifest.find(c.seedLine), std::string::npos) << manifest;
        const std::string monthly = ReadBytes(dir / c.rng / "monthly.csv");
        EXPECT_NE(monthly.find("\nsoil,warm,1,500,12,"), std::string::npos) << c.rng;
        EXPECT_EQ(std::count(monthly.begin(), monthly.end(), '\n'), 1 + 2 * 500 * 12) << c.rng;
    }
    // Replicate 0 of lcg32 is `simulate --seed 42` under the same scenario.
    CliOptions single = Simulated(42);
    single.scenario = (dir / "warm.scn").string();
    single.table = (dir / "single.csv").string();
    ASSERT_EQ(RunSimulate(single, out, err), EXIT_OK) << err.str();
    const std::string table = ReadBytes(dir / "single.csv");
    const std::string firstRow = table.substr(table.find('\n') + 1, table.find('\n', table.find('\n') + 1) - table.find('\n') - 1);
    const std::string monthly = ReadBytes(dir / "lcg32" / "monthly.csv");
    const std::size_t at = monthly.find("\nsoil,warm,0,1,1,");
    ASSERT_NE(at, std::string::npos);
    const double ensembleTair = std::stod(monthly.substr(at + std::string("\nsoil,warm,0,1,1,").size()));
    const double singleTair = std::stod(firstRow.substr(std::string("1,1,1,").size()));
    EXPECT_EQ(ensembleTair, singleTair) << "replicate 0 " << ensembleTair << ", single run " << singleTair;
}

// An ensemble's tables at --csv-digits: every number the default run's
// rounded, the rest of each row as it was, and the digits in ensemble.txt.
TEST_F(CliRun, CsvDigitsRoundTheEnsemblesNumbers) {
    const struct {
        bool summary;
        const char* tables[2];
        std::size_t firstValue[2];  // the columns before the numbers
    } cases[] = {
        {false, {"monthly.csv", "annual.csv"}, {5, 4}},
        {true, {"summary_monthly.csv", "summary_annual.csv"}, {5, 5}},  // after the variable and n
    };
    for (const auto& c : cases) {
        std::string folders[2];
        for (const int digits : {0, 5}) {
            CliOptions o = Simulated(42);
            o.replicates = 2;
            o.summary = c.summary;
            if (digits) o.csvDigits = digits;
            folders[digits ? 1 : 0] = o.out = (dir / ((c.summary ? "s" : "t") + std::to_string(digits))).string();
            ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
        }
        EXPECT_EQ(ReadBytes(fs::path(folders[0]) / "ensemble.txt") + "csv_digits: 5\n",
                  ReadBytes(fs::path(folders[1]) / "ensemble.txt"));
        for (int t = 0; t < 2; ++t) {
            const std::string full = ReadBytes(fs::path(folders[0]) / c.tables[t]);
            const std::string rounded = ReadBytes(fs::path(folders[1]) / c.tables[t]);
            // No field of these tables is quoted: split at the commas.
            std::istringstream fullRows(full), roundedRows(rounded);
            std::string a, b;
            int line = 0;
            while (std::getline(fullRows, a)) {
                ++line;
                ASSERT_TRUE(std::getline(roundedRows, b)) << c.tables[t] << " ends early";
                std::istringstream fullFields(a), roundedFields(b);
                std::string x, y;
                for (std::size_t k = 0; std::getline(fullFields, x, ','); ++k) {
                    ASSERT_TRUE(std::getline(roundedFields, y, ',')) << c.tables[t] << " line " << line;
                    // The annual table's seed, after its numbers, is a whole number.
                    const bool number = line > 1 && k >= c.firstValue[t] && !x.empty() &&
                                        !(std::string(c.tables[t]) == "annual.csv" && fullFields.eof());
                    char expected[32];
                    if (number) std::snprintf(expected, sizeof expected, "%.5g", std::stod(x));
                    ASSERT_EQ(y, number ? std::string(expected) : x) << c.tables[t] << " line " << line << " column " << k;
                }
                EXPECT_FALSE(std::getline(roundedFields, y, ',')) << c.tables[t] << " line " << line;
            }
            EXPECT_FALSE(std::getline(roundedRows, b)) << c.tables[t] << " has more rows";
        }
    }
}

TEST_F(CliRun, WeatherFromFileReportsTheYearsRead) {
    CliOptions o = Simulated(7);
    o.weather = KELMAR_EXAMPLES_DIR "/weather.wed";
    o.results = (dir / "r.csv").string();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
    EXPECT_EQ(out.str(), "There are 30 years in \"weather.wed\"\n");
    const std::string results = ReadBytes(dir / "r.csv");
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 1 + 30 * 12);
}

TEST_F(CliRun, ErrorsGoToStandardErrorWithTheWindowsText) {
    CliOptions o = Simulated(1);
    o.site = (dir / "absent").string();
    EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED);
    EXPECT_EQ(err.str(), "File soil parameters (" + (dir / "absent.sit").string() + ") not found.\n");

    // A climatology without mean soil temperatures stops the run.
    std::string climate = ReadBytes(KELMAR_EXAMPLES_DIR "/climat.cld");
    const auto at = climate.find("av_Ts,") + 6;
    climate.replace(at, climate.find(',', at) - at, "-99.90");
    std::ofstream(dir / "bad.cld", std::ios::binary) << climate;
    err.str("");
    o = Simulated(1);
    o.climate = (dir / "bad.cld").string();
    o.results = (dir / "never.csv").string();
    EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED);
    EXPECT_EQ(err.str(), "Climatologycal file error\n");
    EXPECT_FALSE(fs::exists(dir / "never.csv"));

    // A value that does not convert.
    std::ofstream(dir / "bad.sit", std::ios::binary) << "VAR VALUE\r\n#\r\nLat,61,5\r\n# Latitude, deg.";
    err.str("");
    o = Simulated(1);
    o.site = (dir / "bad.sit").string();
    EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED);
    EXPECT_EQ(err.str(), "'61,5' is not a valid floating point value\nin \"" + o.site + "\", line 3\n");
}

TEST_F(CliRun, EstimateWritesAClimatologyThatRunsAgain) {
    CliOptions o;
    o.command = Command::Estimate;
    o.weather = KELMAR_EXAMPLES_DIR "/weather.wed";
    o.output = (dir / "estimated.cld").string();
    ASSERT_EQ(RunEstimate(o, out, err), EXIT_OK) << err.str();
    const std::string bytes = ReadBytes(dir / "estimated.cld");
    EXPECT_EQ(bytes.rfind("VAR VALUE\r\n#\r\nav_Ta,", 0), 0u);
    EXPECT_EQ(bytes.substr(bytes.size() - 47), "# residual deviation of soil temperature, deg.C");

    CliOptions run = Simulated(5);
    run.climate = o.output;
    EXPECT_EQ(RunSimulate(run, out, err), EXIT_OK) << err.str();
}

// Inputs that would give a wrong result that looks like one: exit 1, the
// reason on standard error, and no output file at all.
TEST_F(CliRun, WrongResultsAreNeverWritten) {
    const std::string weather = ReadBytes(KELMAR_EXAMPLES_DIR "/weather.wed");
    const std::string climate = ReadBytes(KELMAR_EXAMPLES_DIR "/climat.cld");
    const std::string site = ReadBytes(KELMAR_EXAMPLES_DIR "/soil.sit");
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const auto line = [](const std::string& text, const std::string& start) {
        const auto at = text.find(start);
        return text.substr(at, text.find('\n', at) + 1 - at);
    };
    // Estimated from the first 3 years of the example record.
    std::string threeYears = weather.substr(0, weather.find("\n1964,1,"));
    std::ofstream(dir / "three.wed", std::ios::binary) << threeYears;
    CliOptions estimate;
    estimate.command = Command::Estimate;
    estimate.weather = (dir / "three.wed").string();
    estimate.output = (dir / "three.cld").string();
    ASSERT_EQ(RunEstimate(estimate, out, err), EXIT_OK) << err.str();
    const std::string shortClimate = ReadBytes(dir / "three.cld");
    const struct {
        const char* name;
        const char* weather;  // written as case.wed when not empty
        std::string weatherText;
        std::string climateText;  // written as case.cld when not empty, else the example
        std::string siteText;     // written as case.sit when not empty, else the example
        const char* climateName;  // when set, used in place of case.cld
        const char* expected;     // part of standard error
    } cases[] = {
        {"a month deleted from the record", "case", replaced(weather, line(weather, "1970,6,"), ""), "", "", nullptr,
         "The weather record \"case.wed\" has no air temperature or precipitation for 6.1970"},
        {"a named climatology that is missing", "case", weather, "", "", "nosuch.cld", "nosuch.cld) not found."},
        {"a climatology without regression coefficients", nullptr, "", shortClimate, "", nullptr,
         "The climatology file \"case.cld\" has no Baa (regression coefficient) for January"},
        {"Sa near the largest double", nullptr, "", replaced(climate, "Sa,3.20", "Sa,1e308"), "", nullptr,
         "Sa = 1e+308"},
        {"D_ms a denormal", nullptr, "", "", replaced(site, "D_ms,1.35", "D_ms,1e-320"), nullptr,
         "mineral-soil moisture by mass (W_ms_mass) is not a finite number in January of simulated year 1"},
        {"Corr near the largest double", nullptr, "", "", replaced(site, "Corr,1.60", "Corr,1e308"), nullptr,
         "Site parameters Corr = 1e+308 and Wv0_ms = 20"},
    };
    for (const auto& c : cases) {
        CliOptions o = Simulated(3);
        if (c.weather) {
            std::ofstream(dir / "case.wed", std::ios::binary) << c.weatherText;
            o.weather = (dir / "case.wed").string();
        }
        if (!c.climateText.empty()) {
            std::ofstream(dir / "case.cld", std::ios::binary) << c.climateText;
            o.climate = (dir / "case.cld").string();
        }
        if (c.climateName) o.climate = (dir / c.climateName).string();
        if (!c.siteText.empty()) {
            std::ofstream(dir / "case.sit", std::ios::binary) << c.siteText;
            o.site = (dir / "case.sit").string();
        }
        o.results = (dir / "results.csv").string();
        o.table = (dir / "table.csv").string();
        err.str("");
        EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED) << c.name << ": " << err.str();
        EXPECT_NE(err.str().find(c.expected), std::string::npos) << c.name << ": " << err.str();
        EXPECT_FALSE(fs::exists(dir / "results.csv")) << c.name;
        EXPECT_FALSE(fs::exists(dir / "table.csv")) << c.name;
    }
}

TEST_F(CliRun, EstimateCountsOnlyTheYearsItUsesAndRefusesAnEmptyRecord) {
    CliOptions o;
    o.command = Command::Estimate;
    o.output = (dir / "estimated.cld").string();

    std::ofstream(dir / "empty.wed", std::ios::binary) << "#\r\nYear,Month,Tair,Prec,Tsoil\r\n1961,1,-5,30,1";
    o.weather = (dir / "empty.wed").string();
    EXPECT_EQ(RunEstimate(o, out, err), EXIT_FAILED);
    EXPECT_NE(err.str().find("has no year with an air temperature or a precipitation"), std::string::npos)
        << err.str();
    EXPECT_FALSE(fs::exists(dir / "estimated.cld"));

    // Three years, then December 1963 given twelve more times: the reader
    // counts a fourth year, which holds nothing.
    std::string text = "#\r\nYear,Month,Tair,Prec,Tsoil";
    for (int y = 1961; y <= 1963; ++y)
        for (int m = 1; m <= 12; ++m)
            text += "\r\n" + std::to_string(y) + "," + std::to_string(m) + "," + std::to_string((y * m) % 9 - 4) +
                    ",40,1";
    for (int k = 0; k < 12; ++k) text += "\r\n1963,12,-3,40,1";
    std::ofstream(dir / "short.wed", std::ios::binary) << text;
    o.weather = (dir / "short.wed").string();
    err.str("");
    ASSERT_EQ(RunEstimate(o, out, err), EXIT_OK) << err.str();
    EXPECT_EQ(out.str(), "Estimated a climatology from 3 years, written to " + o.output + "\n");
    EXPECT_NE(err.str().find("with 3 years, is too short for the regressions of the weather generator, which need "
                             "at least 5 years"),
              std::string::npos)
        << err.str();
}

}  // namespace
}  // namespace kelmar::cli
