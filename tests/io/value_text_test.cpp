#include "io/value_text.h"

#include <gtest/gtest.h>

#include <clocale>

namespace kelmar {
namespace {

TEST(FormatValue, TwoDecimalsRoundedHalfAwayFromZero) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {12.5, "12.50"},     {-99.9, "-99.90"},  {0, "0.00"},         {-0.0, "0.00"},
        {123.456, "123.46"}, {7, "7.00"},        {0.125, "0.13"},     {-0.125, "-0.13"},
        {2.675, "2.67"},  // 2.675 is stored just below the half
        {99.995, "100.00"},  {-0.001, "-0.00"},  {1e6, "1000000.00"}, {0.375, "0.38"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatValue(c.value), c.text) << "value " << c.value;
}

TEST(FormatFixedWidth, ResultsFileFields) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {-12.34, " -12.3"}, {0.5, "   0.5"},   {45.23, "  45.2"},    {30.06, "  30.1"},
        {0.25, "   0.3"},   {-0.25, "  -0.3"}, {-100.25, "-100.3"},  {1234.56, "1234.6"},
        {12345.6, "12345.6"}, {0.0, "   0.0"}, {-0.04, "  -0.0"},   {9.96, "  10.0"}, {9.95, "   9.9"},  // 9.95 is stored just below the half
        {-9.96, " -10.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFixedWidth(c.value, 6, 1), c.text) << "value " << c.value;
    EXPECT_EQ(FormatIntWidth(1, 6), "     1");
    EXPECT_EQ(FormatIntWidth(6000, 6), "  6000");
    EXPECT_EQ(FormatIntWidth(-5, 6), "    -5");
}

TEST(FormatValue, IgnoresTheUserLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) std::setlocale(LC_ALL, "fr_FR.UTF-8");
    EXPECT_EQ(FormatValue(1.5), "1.50");
    EXPECT_EQ(ParseValueLenient("2.5"), 2.5);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(ParseValueLenient, AcceptsPlainDecimalsOnly) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"", 0},      {"2.5", 2.5},   {"   2.5", 2.5}, {"2.5 ", 0},    {"2,5", 0},
        {"-1e2", -100}, {".5", 0.5},  {"5.", 5},       {"+3", 3},      {"+-3", 0},
        {"1e999", 0}, {"inf", 0},     {"nan", 0},      {"0x10", 0},    {"1e", 0},
        {"abc", 0},   {"-", 0},       {".", 0},        {"-.25", -0.25}, {"1E+2", 100},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseValueLenient(c.text), c.value) << "text '" << c.text << "'";
}

}  // namespace
}  // namespace kelmar
