#include "io/value_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace kelmar {

namespace {

// Exact text of `value` with `decimals` digits: correctly rounded, ties to even.
std::string ToCharsFixed(double value, int decimals) {
    char buffer[400];  // the largest double has 309 integer digits
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

// True when value lies exactly halfway between two multiples of 10^-decimals.
// Such a value is m / 2^(decimals+1) with m odd, so scaling by that power of
// two (exact in binary) gives an odd integer.
bool IsExactHalf(double value, int decimals) {
    const double scaled = std::ldexp(std::fabs(value), decimals + 1);
    if (scaled >= 9007199254740992.0) return false;  // 2^53: beyond, every double is even
    return std::floor(scaled) == scaled && std::fmod(scaled, 2.0) == 1.0;
}

// Rounds the decimal text of an exact half ("...d5") away from zero.
std::string RoundHalfAwayFromZero(std::string text) {
    text.pop_back();  // the final 5
    if (text.back() == '.') text.pop_back();
    int i = static_cast<int>(text.size()) - 1;
    for (; i >= 0; --i) {
        char& c = text[i];
        if (c == '.' || c == '-') continue;
        if (c == '9') {
            c = '0';
        } else {
            ++c;
            return text;
        }
    }
    // Every digit carried over: put a leading 1 after the sign.
    text.insert(text[0] == '-' ? 1 : 0, 1, '1');
    return text;
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
    if (value == 0) value = 0.0;  // no sign on zero
    if (!std::isfinite(value)) return ToCharsFixed(value, decimals);
    if (IsExactHalf(value, decimals)) return RoundHalfAwayFromZero(ToCharsFixed(value, decimals + 1));
    return ToCharsFixed(value, decimals);
}

std::string FormatFixedWidth(double value, int width, int decimals) {
    std::string text = FormatFixed(value, decimals);
    if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
    return text;
}

std::string FormatIntWidth(long long value, int width) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
    return text;
}

std::string FormatValue(double value) { return FormatFixed(value, 2); }

double ParseValueLenient(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would also take a second sign, "inf" or "nan": only a digit
    // or "." may start the number itself.
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.'))
        return 0;
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value,
                                        std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(value))
        return 0;
    return negative ? -value : value;
}

}  // namespace kelmar
