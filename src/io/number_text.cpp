#include "io/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <system_error>

#include "io/read_errors.h"
#include "model/errors.h"

namespace kelmar {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::size_t CountDigits(std::string_view text, std::size_t from) {
    std::size_t n = 0;
    while (from + n < text.size() && IsDigit(text[from + n])) ++n;
    return n;
}

[[noreturn]] void ThrowConversionError(const char* format, std::string_view text) {
    std::string message = format;
    message.replace(message.find("%s"), 2, ShownFileText(text));
    if (LooksLikeUtf16Text(text)) message += std::string("\n") + UTF16_TEXT_ADVICE;
    throw KelmarError(message);
}

// Decimal order of magnitude of the unsigned number `mantissa` x 10^exponent
// (0 for 1..9.99, -1 for 0.1..0.99); the mantissa has a nonzero digit.
long long DecimalOrder(std::string_view mantissa, long long exponent) {
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    const long long position = first < point ? static_cast<long long>(point - first) - 1
                                             : -static_cast<long long>(first - point);
    return position + exponent;
}

// The exponent digits as a number, held within +-10^9 so that an absurd
// exponent cannot overflow; far beyond any double either way.
long long SaturatedExponent(std::string_view digits, bool negative) {
    constexpr long long LIMIT = 1000000000;
    long long value = 0;
    for (char c : digits) value = std::min(LIMIT, value * 10 + (c - '0'));
    return negative ? -value : value;
}

std::optional<double> ToReal(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::size_t p = CountDigits(text, 0);
    std::size_t digits = p;
    if (p < text.size() && text[p] == '.') {
        const std::size_t fraction = CountDigits(text, p + 1);
        digits += fraction;
        p += 1 + fraction;
    }
    if (digits == 0) return std::nullopt;
    const std::string_view mantissa = text.substr(0, p);
    long long exponent = 0;
    if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
        ++p;
        bool negativeExponent = false;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) negativeExponent = text[p++] == '-';
        const std::size_t exponentDigits = CountDigits(text, p);
        if (exponentDigits == 0) return std::nullopt;
        exponent = SaturatedExponent(text.substr(p, exponentDigits), negativeExponent);
        p += exponentDigits;
    }
    if (p != text.size()) return std::nullopt;

    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small for a double: it is 0. Too large: no number, so that no
        // infinity enters the model.
        if (DecimalOrder(mantissa, exponent) >= 0) return std::nullopt;
        value = 0;
    } else if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<std::int32_t> ToInteger(std::string_view text, IntegerForm form) {
    std::size_t p = 0;
    while (p < text.size() && text[p] == ' ') ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    int base = 10;
    if (form == IntegerForm::DecimalOrHex) {
        if (text.substr(p, 1) == "$") {
            base = 16;
            p += 1;
        } else if (text.substr(p, 2) == "0x") {
            base = 16;
            p += 2;
        }
    }
    if (p == text.size()) return std::nullopt;
    constexpr long long MAGNITUDE_LIMIT = 2147483648LL;  // 2^31, the magnitude of the smallest int32
    long long magnitude = 0;
    for (; p < text.size(); ++p) {
        const int digit = HexDigitValue(text[p]);
        if (digit < 0 || digit >= base) return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > MAGNITUDE_LIMIT) return std::nullopt;
    }
    if (!negative && magnitude == MAGNITUDE_LIMIT) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

double ParseReal(std::string_view text) {
    const std::optional<double> value = ToReal(text);
    if (!value) ThrowConversionError(INVALID_REAL_MESSAGE, text);
    return *value;
}

std::int32_t ParseInteger(std::string_view text, IntegerForm form) {
    const std::optional<std::int32_t> value = ToInteger(text, form);
    if (!value) ThrowConversionError(INVALID_INTEGER_MESSAGE, text);
    return *value;
}

}  // namespace kelmar
