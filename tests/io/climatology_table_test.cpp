// The tidy climatology table: read back to the same doubles as written,
// and every malformed row refused naming its line.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "io/climatology_table.h"
#include "model/errors.h"

namespace kelmar {
namespace {

// A row of site `id` and month `m` whose values are set apart by field and
// month, its first (av_Ta) `first` when given.
std::string Row(const std::string& id, int m, const std::string& first = "") {
    std::string row = id + "," + std::to_string(m);
    for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v)
        row += "," + (v == 0 && !first.empty() ? first : std::to_string(0.25 + v + m / 100.0));
    return row + "\n";
}

// The twelve rows of `id`, month `odd` with av_Ta `first`.
std::string Site(const std::string& id, int odd = 0, const std::string& first = "") {
    std::string rows;
    for (int m = 1; m <= 12; ++m) rows += Row(id, m, m == odd ? first : "");
    return rows;
}

std::string ErrorOf(const std::string& text) {
    try {
        ReadClimatologyTableBytes(text, "c.csv");
    } catch (const KelmarError& e) {
        return e.what();
    }
    return "(read)";
}

TEST(ClimatologyTable, ReadsBackTheDoublesWrittenInAnyColumnOrder) {
    // Values with the longest shortest forms, a negative zero and the missing-value marker.
    const double values[] = {0.1 + 0.2, -0.0, -99.9, 1e-300, 12.34, 2.0 / 3};
    std::string text = ClimatologyTableHeader();
    for (int m = 12; m >= 1; --m) {  // months in any order
        text += "\"a,b\"," + std::to_string(m);
        for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v) {
            const double value = v == 2 ? 50.0 + m : v == 3 ? 0.4 : values[(v + m) % 6];  // av_P and Cv_P derive
            char number[32];
            std::snprintf(number, sizeof number, "%.17g", value);
            text += std::string(",") + number;
        }
        text += "\n";
    }
    const auto table = ReadClimatologyTableBytes(text, "c.csv");
    ASSERT_EQ(table->SiteIds, std::vector<std::string>{"a,b"});
    auto model = std::make_unique<TModel>();
    table->Store(*model, "a,b");
    for (int m = 1; m <= 12; ++m)
        for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v) {
            const double expected = v == 2 ? 50.0 + m : v == 3 ? 0.4 : values[(v + m) % 6];
            const double read = (model->Climate.*CLIMATE_FIELDS[v].Values)[m];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(expected))
                << CLIMATE_FIELDS[v].Key << " month " << m << ": read " << read << ", written " << expected;
        }
    EXPECT_GT(model->Climate.sigma_P[1], 0) << "mu_P and sigma_P are derived as from a climatology file";

    // The header's columns in another order name the same fields.
    const std::string header = ClimatologyTableHeader();
    const std::string swapped = "month,site_id" + header.substr(std::string("site_id,month").size());
    std::string rows;
    for (int m = 1; m <= 12; ++m) {
        const std::string row = Row("s", m);
        const std::size_t comma = row.find(',', 2);
        rows += row.substr(2, comma - 2) + ",s" + row.substr(comma);
    }
    auto same = std::make_unique<TModel>();
    ReadClimatologyTableBytes(swapped + rows, "c.csv")->Store(*same, "s");
    auto plain = std::make_unique<TModel>();
    ReadClimatologyTableBytes(header + Site("s"), "c.csv")->Store(*plain, "s");
    EXPECT_EQ(same->Climate.Ss, plain->Climate.Ss);
}

TEST(ClimatologyTable, MalformedRowsAreRefusedNamingTheLine) {
    const std::string header = ClimatologyTableHeader();
    std::string twelveMinusMay = header;
    for (int m = 1; m <= 12; ++m)
        if (m != 5) twelveMinusMay += Row("s", m);
    const struct {
        std::string Name, Text, Says;
    } cases[] = {
        {"a month missing", twelveMinusMay, "The site \"s\" has no row for the month 5; a climatology needs all twelve.\nin \"c.csv\", line 2"},
        {"a month twice", header + Site("s") + Row("s", 3),
         "The site \"s\" has a second row for the month 3 (the first is on line 4).\nin \"c.csv\", line 14"},
        {"a value that is no number", header + Site("s", 3, "warm"), "'warm' is not a valid floating point value\nin \"c.csv\", line 4\nin the column av_Ta_degC"},
        {"a value beyond a double", header + Site("s", 1, "1e999"),
         "'1e999' is not a valid floating point value"},
        {"an unknown column", "site_id,month,av_Ta_degC,colour\n", "The column \"colour\" is not one of site_id, month, av_Ta_degC"},
        {"a column missing", "site_id,month,av_Ta_degC\n", "The header names no column \"std_Ta_degC\".\nin \"c.csv\", line 1"},
        {"a column twice", "site_id,month,month\n", "The column \"month\" is named twice.\nin \"c.csv\", line 1"},
        {"a short row", header + "s,1,2\n", "The row has 3 fields; the header names 14.\nin \"c.csv\", line 2"},
        {"month 13", header + Row("s", 13), "The month 13 lies outside 1 to 12.\nin \"c.csv\", line 2"},
        {"no site id", header + Row("", 1), "The row has no site_id.\nin \"c.csv\", line 2"},
        {"nothing at all", "", "The climatology table \"c.csv\" is empty; it needs a header row."},
    };
    for (const auto& c : cases) {
        const std::string error = ErrorOf(c.Text);
        EXPECT_NE(error.find(c.Says), std::string::npos) << c.Name << ": the error\n" << error << "\nlacks\n" << c.Says;
    }

    // A site with no rows, or a table of several without an id, is refused when stored.
    const auto table = ReadClimatologyTableBytes(header + Site("a") + Site("b"), "c.csv");
    auto model = std::make_unique<TModel>();
    for (const auto& [id, says] : {std::pair<std::string, std::string>{"c", "has no rows for the site \"c\""},
                                   {"", "holds 2 sites; name the site"}}) {
        try {
            table->Store(*model, id);
            ADD_FAILURE() << "the site '" << id << "' was stored";
        } catch (const KelmarError& e) {
            EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace kelmar
