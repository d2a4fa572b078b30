// Every field of each record's table written, then read back: the reader and
// the writer agree on every field, and a table reordered or a field dropped
// changes the bytes of the example files, which the last check of each test
// catches.
#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "app/presentation/grid_texts.h"
#include "io/climatology_file.h"
#include "io/io_test_support.h"
#include "io/site_file.h"
#include "io/table_file.h"
#include "model/model_fixtures.h"
#include "model/record_fields.h"

namespace kelmar {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::TempDir;

TEST(RecordRoundTrip, EverySiteFieldReadsBackWhatWasWritten) {
    // A value of its own for every field, exact at the file's two decimals.
    TSiteParams site;
    for (int r = 0; r < SITE_FIELD_COUNT; ++r) {
        const SiteField& field = SITE_FIELDS[r];
        if (field.Kind == FieldKind::Real)
            site.*field.Real = 1.25 * (r + 1);
        else
            site.*field.Flag = static_cast<std::uint8_t>(r + 1);
    }
    TempDir dir;
    WriteSiteFile(dir.File("site.sit"), SiteValueTexts(site));
    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadSiteFile(*model, dir.File("site.sit"), notifier));
    for (const SiteField& field : SITE_FIELDS) {
        if (field.Kind == FieldKind::Real) {
            EXPECT_EQ(model->Site.*field.Real, site.*field.Real) << field.Key;
        } else {
            EXPECT_EQ(+(model->Site.*field.Flag), +(site.*field.Flag)) << field.Key;
        }
    }

    ASSERT_TRUE(ReadSiteFile(*model, KELMAR_EXAMPLES_DIR "/soil.sit", notifier));
    WriteSiteFile(dir.File("copy.sit"), SiteValueTexts(model->Site));
    EXPECT_EQ(ReadBytes(dir.File("copy.sit")), ReadBytes(KELMAR_EXAMPLES_DIR "/soil.sit"));
}

TEST(RecordRoundTrip, EveryClimatologyFieldReadsBackWhatWasWritten) {
    TClimatology climate;
    for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v)
        for (int m = 1; m <= 12; ++m) (climate.*CLIMATE_FIELDS[v].Values)[m] = 13 * (v + 1) + m + 0.25;
    TempDir dir;
    WriteClimatologyFile(dir.File("climat.cld"), ClimatologyValueTexts(climate));
    auto model = std::make_unique<TModel>();
    RecordingNotifier notifier;
    ASSERT_TRUE(ReadClimatologyFile(*model, dir.File("climat.cld"), notifier));
    for (const ClimateField& field : CLIMATE_FIELDS)
        for (int m = 1; m <= 12; ++m)
            EXPECT_EQ((model->Climate.*field.Values)[m], (climate.*field.Values)[m]) << field.Key << " month " << m;

    ASSERT_TRUE(ReadClimatologyFile(*model, KELMAR_EXAMPLES_DIR "/climat.cld", notifier));
    WriteClimatologyFile(dir.File("copy.cld"), ClimatologyValueTexts(model->Climate));
    EXPECT_EQ(ReadBytes(dir.File("copy.cld")), ReadBytes(KELMAR_EXAMPLES_DIR "/climat.cld"));
}

// The full table read back by its column names: every field of a month and
// of an annual record, at full precision.
TEST(RecordRoundTrip, EveryResultFieldReadsBackFromTheFullTable) {
    auto model = std::make_unique<TModel>();
    model->AvailableYears = 1;
    for (int slot = 0; slot <= 12; ++slot) {
        TResultRecord& r = model->Results.At(1, slot);
        r.Year = slot == 0 ? 0 : 1961;
        r.Month = slot;
        for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f) r.*RESULT_FIELDS[f].Value = 0.1 * slot + static_cast<double>(f) / 3.0;
    }
    std::istringstream table(FormatResultsTable(*model));
    std::string line;
    std::getline(table, line);
    std::map<std::string, int> column;  // by name
    {
        std::istringstream header(line);
        std::string name;
        for (int c = 0; std::getline(header, name, ','); ++c) column[name] = c;
    }
    for (int slot : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0}) {
        ASSERT_TRUE(std::getline(table, line)) << "slot " << slot;
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
        EXPECT_EQ(cells[column.at("Month")], std::to_string(slot));
        for (const ResultField& field : RESULT_FIELDS) {
            double value = 0;
            const std::string& text = cells[column.at(field.Name)];
            std::from_chars(text.data(), text.data() + text.size(), value);
            EXPECT_EQ(value, model->Results.At(1, slot).*field.Value) << field.Name << " slot " << slot;
        }
    }
    EXPECT_EQ(FormatResultsTable(*model).substr(0, FormatResultsTable(*model).find('\n')),
              "YearIndex,Year,Month,Tair,T_ff,Tsoil,T_ms,Prec,W_ms_vol,W_ff_vol,W_ms_mass,W_ff_mass");
}

}  // namespace
}  // namespace kelmar
