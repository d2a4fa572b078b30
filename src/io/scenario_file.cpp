#include "io/scenario_file.h"

#include <set>
#include <vector>

#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/line_reader.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "model/errors.h"

namespace kelmar {

namespace {

// A scenario is a few lines; the limit leaves room for long comments.
constexpr DataFileLimit SCENARIO_FILE_LIMIT = {"scenario file", 1 * MIB};

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::vector<double> Values(std::string_view text) {
    std::vector<double> values;
    for (;;) {
        const std::size_t comma = text.find(',');
        values.push_back(ParseReal(Trimmed(text.substr(0, comma))));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return values;
}

void SetMonthly(MonthArray& target, const std::vector<double>& values, std::string_view key) {
    if (values.size() != 1 && values.size() != 12)
        throw KelmarError(std::string(key) + " takes one value or twelve (January to December), not " +
                          std::to_string(values.size()) + ".");
    for (int k = 1; k <= 12; ++k) target[k] = values.size() == 1 ? values[0] : values[k - 1];
}

double Single(const std::vector<double>& values, std::string_view key) {
    if (values.size() != 1)
        throw KelmarError(std::string(key) + " takes one value, not " + std::to_string(values.size()) + ".");
    return values[0];
}

// ReadDataFile's only warnings: the file is missing or a folder.
class ThrowingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { throw MissingFileError(text); }
};

}  // namespace

TScenario ParseScenarioText(std::string_view text, std::string_view fileName) {
    RefuseUtf16File(text, fileName);
    TScenario scenario;
    scenario.Name = Utf8Name(PathOf(std::string(fileName)).stem());
    std::set<std::string, std::less<>> seen;
    LineReader reader(text);
    while (!reader.AtEnd()) {
        const std::string line = reader.ReadLine();
        AtFileLine(fileName, reader.LineNumber(), [&] {
            std::string_view rest = line;
            rest = Trimmed(rest.substr(0, rest.find('#')));
            if (rest.empty()) return;
            const std::size_t equals = rest.find('=');
            if (equals == std::string_view::npos)
                throw KelmarError("A scenario line is \"key = value\", not \"" + ShownFileText(rest) + "\".");
            const std::string_view key = Trimmed(rest.substr(0, equals));
            const std::string_view value = Trimmed(rest.substr(equals + 1));
            if (!seen.insert(std::string(key)).second)
                throw KelmarError("The key \"" + std::string(key) + "\" is given twice.");
            if (key == "name") {
                if (value.empty()) throw KelmarError("The name is empty.");
                scenario.Name = std::string(value);
            } else if (key == "delta_t") {
                SetMonthly(scenario.DeltaT, Values(value), key);
            } else if (key == "precip_factor") {
                SetMonthly(scenario.PrecFactor, Values(value), key);
            } else if (key == "variability") {
                scenario.Variability = Single(Values(value), key);
            } else if (key == "trend_t") {
                scenario.TrendT = Single(Values(value), key);
            } else if (key == "trend_precip") {
                scenario.TrendPrec = Single(Values(value), key);
            } else {
                throw KelmarError("The key \"" + std::string(key) +
                                  "\" is unknown; a scenario has name, delta_t, precip_factor, variability, trend_t "
                                  "and trend_precip.");
            }
        });
    }
    return scenario;
}

TScenario ReadScenarioFile(const std::string& fileName) {
    ThrowingNotifier notifier;
    const std::optional<std::string> bytes =
        ReadDataFile(fileName, SCENARIO_NOT_FOUND_MESSAGE, SCENARIO_FILE_LIMIT, notifier);
    return ParseScenarioText(*bytes, fileName);
}

}  // namespace kelmar
