#include "app/batch/scenario_list.h"

#include <algorithm>
#include <array>
#include <set>

#include "app/batch/list_faults.h"
#include "app/batch/site_list.h"
#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "model/errors.h"

namespace kelmar::batch {

namespace {

// A scenario is a line of a few hundred bytes; the limit refuses a mistaken
// huge file (a site list given as the scenarios) before it is read whole.
constexpr DataFileLimit SCENARIO_LIST_LIMIT = {"scenario list", 16 * MIB};

enum Key { DELTA_T, PRECIP_FACTOR, VARIABILITY, TREND_T, TREND_PRECIP, KEY_COUNT };
constexpr const char* KEY_NAMES[KEY_COUNT] = {"delta_t", "precip_factor", "variability", "trend_t", "trend_precip"};
constexpr bool MONTHLY_KEY[KEY_COUNT] = {true, true, false, false, false};

struct Column {
    int Key = -1;    // -1: the scenario's name
    int Month = 0;   // 1..12 for <key>_<month>; 0 for the key's one column
};

std::string Known() {
    return "scenario, delta_t or delta_t_1 .. delta_t_12, precip_factor or precip_factor_1 .. precip_factor_12, "
           "variability, trend_t, trend_precip";
}

Column ColumnNamed(const std::string& name) {
    if (name == "scenario") return {};
    for (int k = 0; k < KEY_COUNT; ++k) {
        const std::string key = KEY_NAMES[k];
        if (name == key) return {k, 0};
        if (MONTHLY_KEY[k] && name.size() > key.size() + 1 && name.compare(0, key.size() + 1, key + "_") == 0) {
            const std::string month = name.substr(key.size() + 1);
            for (int m = 1; m <= 12; ++m)
                if (month == std::to_string(m)) return {k, m};
        }
    }
    RefuseBareCarriageReturn(name);
    throw KelmarError("The column \"" + ShownListText(name) + "\" is unknown; a scenario list has the columns " + Known() + ".");
}


}  // namespace

ScenarioList ParseScenarioList(const std::string& bytes, const std::string& fileName) {
    RefuseUtf16List(bytes, "scenario list", fileName);
    ScenarioList list;
    list.FileName = fileName;
    list.Hash = Fnv1a64(bytes);
    CsvReader reader(bytes, fileName);
    std::vector<std::string> fields;
    if (!reader.Next(fields)) throw KelmarError("The scenario list \"" + fileName + "\" is empty; it needs a header row.");

    // The header: every fault of it at once, then nothing else is read.
    ListFaults faults("scenario list", fileName);
    const std::vector<std::string> header = fields;
    std::vector<Column> columns(fields.size());
    std::set<std::string> seen;
    std::array<int, KEY_COUNT> single{}, monthly{};  // columns of each key, by form
    bool named = false;
    const int headerLine = reader.LineNumber();
    for (std::size_t c = 0; c < fields.size(); ++c) {
        faults.AtLine(headerLine, [&] {
            if (!seen.insert(fields[c]).second)
                throw KelmarError("The column \"" + ShownListText(fields[c]) + "\" is given twice.");
            columns[c] = ColumnNamed(fields[c]);
            if (columns[c].Key < 0) {
                named = true;
                if (c != 0) throw KelmarError("The column \"scenario\" comes first.");
            } else {
                ++(columns[c].Month == 0 ? single : monthly)[static_cast<std::size_t>(columns[c].Key)];
            }
        });
    }
    faults.AtLine(headerLine, [&] {
        if (!named) throw KelmarError("The scenario list has no column \"scenario\" (the name) first.");
    });
    for (int k = 0; k < KEY_COUNT; ++k) {
        faults.AtLine(headerLine, [&] {
            if (single[k] > 0 && monthly[k] > 0)
                throw KelmarError(std::string("The key ") + KEY_NAMES[k] + " has both its one column and monthly columns; give one or the other.");
            if (monthly[k] > 0 && monthly[k] != 12)
                throw KelmarError(std::string("The key ") + KEY_NAMES[k] + " has " + std::to_string(monthly[k]) +
                                  " monthly columns; it takes all twelve, " + KEY_NAMES[k] + "_1 to " + KEY_NAMES[k] + "_12.");
        });
    }
    faults.ThrowIfAny();

    std::set<std::string> names;
    while (reader.Next(fields)) {
        const int line = reader.LineNumber();
        TScenario scenario;
        bool sound = false;  // until the whole row has been read and checked
        faults.AtLine(line, [&] {
            if (fields.size() != columns.size())
                throw KelmarError("The row has " + std::to_string(fields.size()) + " fields; the header has " +
                                  std::to_string(columns.size()) + ".");
            for (std::size_t c = 0; c < fields.size(); ++c) {
                const Column& column = columns[c];
                const std::string& text = fields[c];
                if (column.Key < 0) {
                    if (text.empty()) throw KelmarError("The scenario's name is empty.");
                    // The name is a label in tables, manifests and the netCDF file.
                    CheckListLabel(text, "scenario's name");
                    if (!names.insert(text).second) throw KelmarError("The scenario \"" + text + "\" is given twice.");
                    scenario.Name = text;
                    continue;
                }
                if (text.empty()) continue;  // this key changes nothing
                double value = 0;
                try {
                    value = ListReal(text);
                } catch (const KelmarError& e) {
                    throw KelmarError(std::string(e.what()) + " (column " + header[c] + ")");
                }
                switch (column.Key) {
                    case DELTA_T:
                        if (column.Month) scenario.DeltaT[column.Month] = value; else scenario.DeltaT.fill(value);
                        break;
                    case PRECIP_FACTOR:
                        if (column.Month) scenario.PrecFactor[column.Month] = value; else scenario.PrecFactor.fill(value);
                        break;
                    case VARIABILITY: scenario.Variability = value; break;
                    case TREND_T: scenario.TrendT = value; break;
                    case TREND_PRECIP: scenario.TrendPrec = value; break;
                }
            }
            // What no run could take; a trend is checked over each site's own
            // years when it runs, a variability factor against its weather.
            ValidateScenario(scenario, false, 1);
            sound = true;
        });
        if (sound) {
            list.FormulaNames.Note(scenario.Name);
            list.Scenarios.push_back(std::move(scenario));
        }
    }
    faults.ThrowIfAny();
    if (list.Scenarios.empty())
        throw KelmarError("The scenario list \"" + fileName + "\" has no scenario; it needs a row under its header.");
    return list;
}

ScenarioList ReadScenarioList(const std::string& fileName) {
    RefusingNotifier notifier;
    const std::optional<std::string> bytes =
        ReadDataFile(fileName, "The scenario list \"%s\" was not found.", SCENARIO_LIST_LIMIT, notifier);
    return ParseScenarioList(*bytes, fileName);
}

}  // namespace kelmar::batch
