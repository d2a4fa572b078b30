// kelmar-cli run as a program: what it writes where, what it refuses to
// overwrite, and the exit status when standard output cannot be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using kelmar::testing::FileText;
using kelmar::testing::WriteFileText;

using Outcome = kelmar::testing::ProgramOutcome;

// A folder holding copies of the example files, in which kelmar-cli runs.
struct CliProgram : ::testing::Test {
    kelmar::testing::ExampleFolder folder{"kelmar-cli-program"};
    const fs::path& dir = folder.Path();
    std::string program = KELMAR_CLI;  // the kelmar-cli that Run starts

    void FreshFiles() { folder.Refill(); }

    // Runs kelmar-cli in `dir` with `args`; standard output goes to
    // `stdoutTo` when given, else to a file whose bytes are returned.
    Outcome Run(const std::vector<std::string>& args, const std::string& stdoutTo = "") {
        return kelmar::testing::RunProgram(program, args, dir, dir / ".captured", stdoutTo);
    }

    // What every name in `dir` holds (a link: where it leads), to show that
    // nothing was written.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(dir))
            files[entry.path().filename().string()] = fs::is_symlink(entry.symlink_status())
                                                          ? "link to " + fs::read_symlink(entry).string()
                                                          : FileText(entry.path());
        return files;
    }

    // The names whose contents differ from `before`, or that came or went.
    std::string Changes(const std::map<std::string, std::string>& before) const {
        const auto after = Snapshot();
        std::string changed;
        for (const auto& [name, bytes] : after)
            if (!before.contains(name) || before.at(name) != bytes) changed += name + " ";
        for (const auto& [name, bytes] : before)
            if (!after.contains(name)) changed += name + "(removed) ";
        return changed;
    }
};

const std::vector<std::string> SIMULATE = {"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed", "3"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& a : args) text += a + " ";
    return text;
}

TEST_F(CliProgram, RefusesAnOutputThatIsAnInputOrAnotherOutput) {
    const auto files = [&] {
        FreshFiles();
        fs::create_symlink("weather.wed", dir / "link.wed");
        fs::create_hard_link(dir / "weather.wed", dir / "hard.wed");
        fs::create_symlink("old.csv", dir / "dangling.csv");
    };
    const std::vector<std::vector<std::string>> cases = {
        {"estimate", "--weather", "weather.wed", "--output", "weather.wed"},
        {"estimate", "--weather", "weather", "--output", "weather.wed"},  // the reader appends .wed
        {"estimate", "--weather", "weather.txt", "--output", "weather.wed"},  // ... or replaces the extension
        {"estimate", "--weather", "weather.wed", "--output", "link.wed"},
        {"estimate", "--weather", "weather.wed", "--output", "hard.wed"},
        {"estimate", "--weather", "weather.wed", "--output", "./weather.wed"},
        {"simulate", "--site", "soil", "--climate", "climat.cld", "--results", "soil.sit"},
        {"simulate", "--site", "soil.sit", "--climate", "climat.x", "--table", "climat.cld"},
        {"simulate", "--site", "soil.sit", "--weather", "weather.wed", "--results", "link.wed"},
        {"simulate", "--site", "soil.sit", "--weather", "weather.wed", "--climate", "climat.cld", "--table",
         "climat.cld"},
        Join(SIMULATE, {"--results", "o.csv", "--table", "o.csv"}),
        Join(SIMULATE, {"--results", "dangling.csv", "--table", "old.csv"}),
        Join(SIMULATE, {"--results", "-", "--table", "-"}),
    };
    for (const auto& args : cases) {
        files();
        const auto before = Snapshot();
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.status, 2) << Joined(args) << "\n" << outcome.err;
        EXPECT_EQ(outcome.out, "") << Joined(args);
        EXPECT_EQ(Changes(before), "") << Joined(args);
    }
    // Different names of different files are fine.
    files();
    EXPECT_EQ(Run(Join(SIMULATE, {"--results", "soil.csv", "--table", "soil-table.csv"})).status, 0);
}

// A command line that cannot be understood: exit 2, nothing on standard
// output, and one line on standard error naming the fault and the help to read.
TEST_F(CliProgram, AUsageErrorIsOneLineThatPointsToTheHelp) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, "kelmar-cli: no command given; see 'kelmar-cli --help'\n"},
        {{"run"}, "kelmar-cli: unknown command 'run'; see 'kelmar-cli --help'\n"},
        {{"batch", "--sites", "s.csv", "--out", "o", "--jobs", "0"},
         "kelmar-cli: --jobs needs a whole number from 1 to 65535, not '0'; see 'kelmar-cli batch --help'\n"},
        {{"check", "--weather", "weather.wed", "--colour"},
         "kelmar-cli: unknown option '--colour'; see 'kelmar-cli check --help'\n"},
        {{"estimate", "--weather", "weather.wed", "--output", "weather.wed"},
         "kelmar-cli: --output 'weather.wed' would overwrite the file --weather reads, 'weather.wed'; see "
         "'kelmar-cli estimate --help'\n"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.status, 2) << Joined(c.args);
        EXPECT_EQ(outcome.out, "") << Joined(c.args);
        EXPECT_EQ(outcome.err, c.err) << Joined(c.args);
    }
    const Outcome help = Run({"batch", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kelmar-cli batch ", 0), 0u) << help.out;
}

TEST_F(CliProgram, DashWritesTheDataToStandardOutputAndTheReportToStandardError) {
    const struct {
        std::vector<std::string> toFile, toStdout;
        std::string file, report;
    } cases[] = {
        {Join(SIMULATE, {"--years", "4", "--results", "r.csv"}), Join(SIMULATE, {"--years", "4", "--results", "-"}),
         "r.csv", "Simulated 500 years of weather\n"},
        {Join(SIMULATE, {"--table", "t.csv"}), Join(SIMULATE, {"--table", "-", "--results", "r2.csv"}), "t.csv",
         "Simulated 500 years of weather\n"},
        {{"estimate", "--weather", "weather.wed", "--output", "e.cld"},
         {"estimate", "--weather", "weather.wed", "--output", "-"},
         "e.cld",
         "Estimated a climatology from 30 years, written to -\n"},
    };
    for (const auto& c : cases) {
        const Outcome file = Run(c.toFile);
        ASSERT_EQ(file.status, 0) << Joined(c.toFile) << file.err;
        const Outcome piped = Run(c.toStdout);
        EXPECT_EQ(piped.status, 0) << Joined(c.toStdout) << piped.err;
        EXPECT_TRUE(piped.out == FileText(dir / c.file))
            << Joined(c.toStdout) << ": standard output holds " << piped.out.size() << " bytes, the file "
            << FileText(dir / c.file).size();
        EXPECT_EQ(piped.err, c.report) << Joined(c.toStdout);
        EXPECT_FALSE(fs::exists(dir / "-")) << Joined(c.toStdout);
    }
}

TEST_F(CliProgram, AStandardOutputThatCannotBeWrittenFails) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::vector<std::vector<std::string>> cases = {
        SIMULATE,  // only the report line goes to standard output
        Join(SIMULATE, {"--results", "-"}),
        {"estimate", "--weather", "weather.wed", "--output", "-"},
        {"--help"},
    };
    for (const auto& args : cases) {
        const Outcome outcome = Run(args, "/dev/full");
        EXPECT_EQ(outcome.status, 1) << Joined(args);
        EXPECT_NE(outcome.err.find("standard output (No space left on device)"), std::string::npos)
            << Joined(args) << "\n" << outcome.err;
    }
}

// Runs `args` with the environment variable `name` unset (restored after).
struct WithoutVariable {
    std::string name;
    std::optional<std::string> value;
    // Unset, or set to `replacement` when one is given, until the end of the scope.
    explicit WithoutVariable(std::string variable, const char* replacement = nullptr) : name(std::move(variable)) {
        if (const char* v = std::getenv(name.c_str())) value = v;
        if (replacement)
            ::setenv(name.c_str(), replacement, 1);
        else
            ::unsetenv(name.c_str());
    }
    ~WithoutVariable() {
        if (value) ::setenv(name.c_str(), value->c_str(), 1);
    }
};

const std::vector<std::string> CHECK = {"check", "--weather", "weather.wed", "--seed", "4", "--out", "out"};

// check writes its table (and, where the window's libraries are built, its
// figure without any display) and prints a verdict per variable; the same
// seed gives the same table.
TEST_F(CliProgram, CheckWritesTheTableTheFigureAndAVerdictPerVariable) {
    const WithoutVariable platform("QT_QPA_PLATFORM"), display("DISPLAY"), wayland("WAYLAND_DISPLAY");
#ifdef KELMAR_SANITIZED
    // The leak checker's tracer crashes now and then at exit while it stops
    // the threads Qt leaves running (signal 11 inside LeakSanitizer, not a
    // leak); the address and undefined-behaviour checks stay on.
    const WithoutVariable leaks("ASAN_OPTIONS", "detect_leaks=0");
#endif
    const Outcome outcome = Run(CHECK);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = outcome.out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(outcome.out.substr(start, end - start));
    ASSERT_EQ(lines.size(), 4u) << outcome.out;
    EXPECT_EQ(lines[0].rfind("Checked the weather generator on 30 years of \"weather.wed\" against 500 simulated "
                             "years (seed 4, climatology estimated from the record)", 0),
              0u)
        << lines[0];
    for (const auto& [line, key] : {std::pair{1, "tair ("}, {2, "prec ("}, {3, "tsoil ("}})
        EXPECT_EQ(lines[line].rfind(key, 0), 0u) << lines[line];
    const std::string table = FileText(dir / "out" / "check.csv");
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 3 * 12 * 3) << table.substr(0, 300);
#ifdef KELMAR_CHECK_FIGURE
    EXPECT_EQ(FileText(dir / "out" / "check.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_NE(FileText(dir / "out" / "check.svg").find("<svg"), std::string::npos);
    EXPECT_EQ(outcome.err, "");
#else
    EXPECT_NE(outcome.err.find("need the window's libraries"), std::string::npos) << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "out" / "check.png"));
#endif
    const Outcome again = Run(CHECK);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(FileText(dir / "out" / "check.csv"), table) << "the same seed, another table";
}

#ifdef KELMAR_CHECK_FIGURE
// A kelmar-cli whose figure module is in none of the places it looks (a
// copy of the program alone) still checks and writes the table, exits with
// 0, and says which paths it looked in and that only the table was written.
TEST_F(CliProgram, CheckWithoutItsFigureModuleNamesWhereItLookedAndWritesTheTable) {
    const WithoutVariable platform("QT_QPA_PLATFORM"), display("DISPLAY");
    const fs::path bin = dir / "copy" / "bin";
    fs::create_directories(bin);
    fs::copy_file(KELMAR_CLI, bin / "kelmar-cli");
    program = (bin / "kelmar-cli").string();
    const Outcome outcome = Run({"check", "--weather", "weather.wed", "--seed", "4", "--years", "20", "--out", "out"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind("Checked the weather generator on 30 years", 0), 0u) << outcome.out;
    EXPECT_TRUE(fs::exists(dir / "out" / "check.csv"));
    EXPECT_FALSE(fs::exists(dir / "out" / "check.png"));
    EXPECT_FALSE(fs::exists(dir / "out" / "check.svg"));
    const fs::path real = fs::canonical(bin);
    for (const fs::path& looked : {(real / KELMAR_CHECK_FIGURE_DIR).lexically_normal(), real})
        EXPECT_NE(outcome.err.find((looked / "kelmar-check-figure.so").string()), std::string::npos)
            << looked << " not named in: " << outcome.err;
    EXPECT_NE(outcome.err.find("only the table was written"), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("window's libraries"), std::string::npos) << "this build has them: " << outcome.err;
}
#endif

// What check cannot understand exits with 2, what it cannot check with 1,
// each naming the cause; neither writes anything.
TEST_F(CliProgram, CheckRefusesWhatItCannotCheck) {
    const auto files = [&] {
        FreshFiles();
        std::ofstream(dir / "short.wed", std::ios::binary) << "short\r\nYear,Month,Tair,Prec\r\n1990,1,-5,20\r\n";
        std::ofstream tidy(dir / "check.csv", std::ios::binary);
        tidy << "site_id,year,month,tair,prec,tsoil\n";
        for (int m = 1; m <= 12; ++m) tidy << "a,1990," << m << ",1.5,30,2\n";
    };
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"check"}, 2, "check needs --weather"},
        {{"check", "--weather", "weather.wed", "--years", "1"}, 2, "--years of check needs a whole number from 2 to 500"},
        {{"check", "--weather", "weather.wed", "--years", "501"}, 2, "not '501'"},
        {{"check", "--weather", "weather.wed", "--site", "soil.sit"}, 2, "unknown option '--site'"},
        {{"check", "--weather", "check.csv"}, 2, "would overwrite the file --weather reads"},
        {{"check", "--weather", "absent.wed"}, 1, "absent.wed"},
        {{"check", "--weather", "weather.wed", "--climate", "absent.cld"}, 1, "absent.cld"},
        {{"check", "--weather", "short.wed"}, 1, "has no full year"},
    };
    for (const auto& c : cases) {
        files();
        const auto before = Snapshot();
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.status, c.status) << Joined(c.args) << "\n" << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << Joined(c.args) << ": " << outcome.err;
        EXPECT_EQ(Changes(before), "") << Joined(c.args);
    }
}

}  // namespace
