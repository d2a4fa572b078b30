#include "io/grid_units.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <vector>

#include "model/errors.h"

namespace kelmar {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<GridUnit> TemperatureUnit(const std::string& lower) {
    static const char* const KELVIN[] = {"k", "degk", "deg_k", "deg k", "degree_k", "degrees_k", "kelvin", "kelvins"};
    static const char* const CELSIUS[] = {"degc",          "deg_c",         "deg c",    "degree_c", "degrees_c",
                                          "degree_celsius", "degrees_celsius", "celsius", "°c"};
    for (const char* name : KELVIN)
        if (lower == name) return GridUnit{1.0, -273.15, false, ""};
    for (const char* name : CELSIUS)
        if (lower == name) return GridUnit{1.0, 0.0, false, ""};
    return std::nullopt;
}

// A unit as symbols with whole powers: "kg m-2 s-1", "kg/m2/s",
// "kg m**-2 s**-1", "kg m^-2 s^-1", "kg.m-2.s-1" all give {kg: 1, m: -2, s: -1}.
// Nothing when a piece is not a symbol with an optional power.
std::optional<std::map<std::string, int>> Powers(const std::string& lower) {
    std::string text;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        if (lower.compare(i, 2, "**") == 0) {
            ++i;
            continue;
        }
        if (lower[i] == '^') continue;
        text += (lower[i] == '.' || lower[i] == '*') ? ' ' : lower[i];
    }
    std::map<std::string, int> powers;
    int sign = 1;  // -1 after "/"
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ') {
            ++i;
            continue;
        }
        if (c == '/') {
            sign = -1;
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) ++end;
        if (end == i) return std::nullopt;
        const std::string symbol = text.substr(i, end - i);
        int power = 1;
        if (end < text.size() && (text[end] == '-' || text[end] == '+' || std::isdigit(static_cast<unsigned char>(text[end])))) {
            std::size_t digits = end + ((text[end] == '-' || text[end] == '+') ? 1 : 0);
            std::size_t stop = digits;
            while (stop < text.size() && std::isdigit(static_cast<unsigned char>(text[stop]))) ++stop;
            if (stop == digits || stop - digits > 2) return std::nullopt;
            power = std::stoi(text.substr(digits, stop - digits)) * (text[end] == '-' ? -1 : 1);
            end = stop;
        }
        powers[symbol] += sign * power;
        sign = 1;  // "kg/m2/s": each "/" governs the symbol after it
        i = end;
    }
    std::erase_if(powers, [](const auto& entry) { return entry.second == 0; });
    return powers;
}

// Precipitation as a depth (mm) per time, from the powers of its unit.
struct DepthRate {
    double MmPerUnit = 0;     // depth of one unit of the numerator, mm
    int TimeKind = 0;         // 0 none, 1 per day (a day is Days days), 2 per month
    double Days = 1;          // the time unit in days, for per-day rates
};

std::optional<DepthRate> Precipitation(std::map<std::string, int> powers) {
    DepthRate rate;
    // kg m-2 of water is 1 mm deep.
    if (powers.count("kg") && powers["kg"] == 1 && powers.count("m") && powers["m"] == -2) {
        rate.MmPerUnit = 1.0;
        powers.erase("kg");
        powers.erase("m");
    } else {
        static const std::pair<const char*, double> LENGTHS[] = {{"mm", 1.0}, {"cm", 10.0}, {"m", 1000.0}};
        for (const auto& [symbol, mm] : LENGTHS)
            if (powers.count(symbol) && powers[symbol] == 1) {
                rate.MmPerUnit = mm;
                powers.erase(symbol);
                break;
            }
        if (rate.MmPerUnit == 0) return std::nullopt;
    }
    if (powers.empty()) return rate;
    if (powers.size() != 1 || powers.begin()->second != -1) return std::nullopt;
    const std::string time = powers.begin()->first;
    static const std::pair<const char*, double> PER_DAY[] = {
        {"s", 1.0 / 86400}, {"sec", 1.0 / 86400}, {"second", 1.0 / 86400}, {"h", 1.0 / 24}, {"hr", 1.0 / 24},
        {"hour", 1.0 / 24}, {"d", 1.0},           {"day", 1.0}};
    for (const auto& [symbol, days] : PER_DAY)
        if (time == symbol) {
            rate.TimeKind = 1;
            rate.Days = days;
            return rate;
        }
    if (time == "month" || time == "mon") {
        rate.TimeKind = 2;
        return rate;
    }
    return std::nullopt;
}

}  // namespace

const char* GridUnitChoices(GridQuantity quantity) {
    return quantity == GridQuantity::Temperature
               ? "K or degC"
               : "kg m-2 s-1 (a flux), mm/day or m/day (a monthly mean of daily totals), mm/month or m/month (the "
                 "month's total)";
}

GridUnit ParseGridUnit(GridQuantity quantity, std::string_view text, std::string_view standardName) {
    const std::string trimmed = Trimmed(text);
    const std::string lower = Lower(trimmed);
    if (trimmed.empty()) throw KelmarError("it has no unit");
    if (quantity == GridQuantity::Temperature) {
        std::optional<GridUnit> unit = TemperatureUnit(lower);
        if (!unit) throw KelmarError("its unit \"" + trimmed + "\" is not a temperature unit this program knows");
        unit->Name = trimmed;
        return *unit;
    }
    const std::optional<std::map<std::string, int>> powers = Powers(lower);
    const std::optional<DepthRate> rate = powers ? Precipitation(*powers) : std::nullopt;
    if (!rate) throw KelmarError("its unit \"" + trimmed + "\" is not a precipitation unit this program knows");
    GridUnit unit;
    unit.Name = trimmed;
    if (rate->TimeKind == 0) {
        // A depth alone is the month's total or a mean daily total; only the
        // standard name precipitation_amount with kg m-2 says which.
        const bool amount = standardName == "precipitation_amount" && rate->MmPerUnit == 1.0 && powers->count("mm") == 0;
        if (!amount)
            throw KelmarError("its unit \"" + trimmed + "\" is ambiguous: a depth without a time may be the month's total "
                              "or a monthly mean of daily totals");
        unit.Factor = 1.0;
        return unit;
    }
    if (rate->TimeKind == 2) {
        unit.Factor = rate->MmPerUnit;
        return unit;
    }
    unit.Factor = rate->MmPerUnit / rate->Days;
    unit.PerDay = true;
    return unit;
}

std::optional<std::string> AbsurdGridValue(GridQuantity quantity, double value) {
    if (!std::isfinite(value)) return "not a finite number";
    if (quantity == GridQuantity::Temperature) {
        if (value > GRID_TEMPERATURE_MAX) return "above 60 degC";
        if (value < GRID_TEMPERATURE_MIN) return "below -90 degC";
        return std::nullopt;
    }
    if (value < 0) return "below zero";
    if (value > GRID_PRECIPITATION_MAX) return "above 10,000 mm per month";
    return std::nullopt;
}

}  // namespace kelmar
