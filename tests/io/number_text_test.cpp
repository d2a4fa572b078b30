#include "io/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "model/errors.h"

namespace kelmar {
namespace {

std::string RealError(const std::string& text) {
    return "'" + text + "' is not a valid floating point value";
}

std::string IntegerError(const std::string& text) { return "''" + text + "'' is not a valid integer value"; }

// Converts `text`; expects `value`, or, when there is none, a conversion
// error with the message `error`.
template <typename Number, typename Conversion>
void ExpectConversion(const std::string& text, std::optional<Number> value, const std::string& error,
                      Conversion convert) {
    try {
        const Number result = convert(text);
        ASSERT_TRUE(value.has_value()) << "text '" << text << "' converted to " << result;
        EXPECT_EQ(result, *value) << "text '" << text << "'";
    } catch (const KelmarError& e) {
        EXPECT_FALSE(value.has_value()) << "text '" << text << "' failed: " << e.what();
        EXPECT_EQ(e.what(), error) << "text '" << text << "'";
    }
}

TEST(ParseReal, AcceptsDecimalNumbersWithSpacesSignAndExponentOnly) {
    const struct {
        const char* text;
        std::optional<double> value;  // none: a conversion error naming the text
    } cases[] = {
        {"61.5", 61.5},     {"  -0.10  ", -0.1}, {"+3", 3},        {".5", 0.5},     {"5.", 5},
        {"1e3", 1000},      {"1E-2", 0.01},      {"-2.5e+1", -25}, {"1.e2", 100},   {"007", 7},
        {"1e-999", 0},      {"-2e-324", -0.0},   {"0e99999999999999999999", 0},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"", {}},           {" ", {}},           {"61,5", {}},     {"1 000", {}},   {"\t1", {}},
        {"1\t", {}},        {"+-1", {}},         {"- 1", {}},      {".", {}},       {"-", {}},
        {"1e", {}},         {"1e+", {}},         {"e5", {}},       {".e5", {}},     {"0x10", {}},
        {"$10", {}},        {"inf", {}},         {"nan", {}},      {"1e999", {}},   {"-1e309", {}},
        {"1.7976931348623159e308", {}},          {"1d5", {}},      {"4e-320", 4e-320},
    };
    for (const auto& c : cases)
        ExpectConversion<double>(c.text, c.value, RealError(c.text), [](const std::string& t) { return ParseReal(t); });
    EXPECT_TRUE(std::signbit(ParseReal("-2e-324")));
}

TEST(ParseReal, ShowsTheOffendingFileTextInUtf8) {
    ExpectConversion<double>("12\xB0", std::nullopt, RealError("12\u00b0"),
                             [](const std::string& t) { return ParseReal(t); });
}

// Before, a message ended at the first NUL of the text: "'6" for "6\01".
TEST(ParseReal, ShowsControlBytesEscapedAndAdvisesOnUtf16Text) {
    using namespace std::string_literals;
    const std::string utf16Advice =
        "\nThe text has NUL bytes between its characters, as UTF-16 text has: save the file as Windows-1251 text.";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"6\0" "1"s, RealError("6\\x001")},
        {"\x01\x1F\x7F\x1A"s, RealError("\\x01\\x1F\\x7F\\x1A")},
        {"\t1\\n"s, RealError("\t1\\n")},  // a tab and a backslash are shown as they are
        {"\0"s, RealError("\\x00")},
        {"6\0" "1\0.\0" "8\0"s, RealError("6\\x001\\x00.\\x008\\x00") + utf16Advice},
        {"\0" "6\0" "1"s, RealError("\\x006\\x001") + utf16Advice},
        {"\0\0" "61"s, RealError("\\x00\\x0061")},  // not every NUL is next to a character
    };
    for (const auto& c : cases)
        ExpectConversion<double>(c.text, std::nullopt, c.message, [](const std::string& t) { return ParseReal(t); });
    ExpectConversion<std::int32_t>("1\0" "9\0"s, std::nullopt, IntegerError("1\\x009\\x00") + utf16Advice,
                                   [](const std::string& t) { return ParseInteger(t, IntegerForm::Decimal); });
}

TEST(ParseInteger, AcceptsSignedDecimalsAndHexWhereAllowed) {
    constexpr auto dec = IntegerForm::Decimal;
    constexpr auto hex = IntegerForm::DecimalOrHex;
    const struct {
        const char* text;
        IntegerForm form;
        std::optional<std::int32_t> value;  // none: a conversion error naming the text
    } cases[] = {
        {"1990", dec, 1990},         {"  -12", dec, -12},        {"+7", dec, 7},
        {"0001", dec, 1},            {"2147483647", dec, 2147483647}, {"-2147483648", dec, -2147483647 - 1},
        {"$7C6", hex, 1990},         {"0x7c6", hex, 1990},       {"-$10", hex, -16},
        {"$7FFFFFFF", hex, 2147483647},
        {"2147483648", dec, {}},     {"-2147483649", dec, {}},   {"99999999999999999999", dec, {}},
        {"1990 ", dec, {}},          {"1.0", dec, {}},           {"1e0", dec, {}},
        {"", dec, {}},               {" ", dec, {}},             {"-", dec, {}},
        {"\t1", dec, {}},            {"$7C6", dec, {}},          {"0x7c6", dec, {}},
        {"$", hex, {}},              {"0x", hex, {}},            {"$G", hex, {}},
        {"$80000000", hex, {}},      {"0X10", hex, {}},          {"1 2", dec, {}},
    };
    for (const auto& c : cases)
        ExpectConversion<std::int32_t>(c.text, c.value, IntegerError(c.text),
                                       [&](const std::string& t) { return ParseInteger(t, c.form); });
}

TEST(ParseReal, IgnoresTheUserLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) std::setlocale(LC_ALL, "fr_FR.UTF-8");
    EXPECT_EQ(ParseReal("2.5"), 2.5);
    EXPECT_THROW(ParseReal("2,5"), KelmarError);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
}  // namespace kelmar
