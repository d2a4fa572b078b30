// Which records send a run to a climatology for their soil temperatures:
// only a stored gap (below -99 degC) within the years the record has.
#include "model/weather_record.h"

#include <gtest/gtest.h>

#include <memory>

namespace kelmar {
namespace {

TEST(WeatherRecord, SoilGapsAreStoredValuesBelowTheLimitWithinTheAvailableYears) {
    struct Case {
        const char* what;
        int availableYears;
        int year, month;  // where `value` is stored
        double value;     // degC
        bool gaps;
        double smallest;  // degC
    } const cases[] = {
        {"no gap", 2, 2, 7, -20, false, -20},
        {"the store's gap marker", 2, 2, 12, -99.9, true, -99.9},
        {"the limit itself is a temperature", 2, 1, 3, -99, false, -99},
        {"a gap beyond the available years", 2, 3, 1, -99.9, false, 0},
        {"no year: January of year 1 alone", 0, 1, 1, -99.9, true, -99.9},
        {"no year: a gap after January is not seen", 0, 1, 2, -99.9, false, 0},
    };
    for (const Case& c : cases) {
        auto model = std::make_unique<TModel>();
        model->AvailableYears = c.availableYears;
        model->Weather.Tsoil[c.year][c.month] = c.value;
        EXPECT_EQ(RecordHasSoilGaps(*model), c.gaps) << c.what;
        EXPECT_EQ(SmallestStoredSoilTemperature(*model), c.smallest) << c.what;
    }
}

}  // namespace
}  // namespace kelmar
