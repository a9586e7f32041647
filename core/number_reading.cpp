#include "core/number_reading.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace velnoria {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v >= 0 && v < base ? v : -1;
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

LeadingNumber readPrefixed(std::string_view text) {
    const int base = upper(text[1]) == 'H' ? 16 : 8;
    double value = 0;
    std::size_t i = 2;
    for (; i < text.size(); ++i) {
        const int d = digitValue(text[i], base);
        if (d < 0) break;
        value = value * base + d;
    }
    if (i == 2) return {};
    return {value, i};
}

// from_chars reports overflow and underflow alike; tell them apart by the decimal magnitude.
double outOfRangeValue(std::string_view intDigits, std::string_view fracDigits, long exponent) {
    const auto firstSignificant = intDigits.find_first_not_of('0');
    long magnitude;
    if (firstSignificant != std::string_view::npos) {
        magnitude = static_cast<long>(intDigits.size() - firstSignificant);
    } else {
        const auto firstFrac = fracDigits.find_first_not_of('0');
        if (firstFrac == std::string_view::npos) return 0;
        magnitude = -static_cast<long>(firstFrac);
    }
    return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

LeadingNumber readLeadingNumber(std::string_view text) {
    if (text.size() >= 2 && text[0] == '&' && (upper(text[1]) == 'H' || upper(text[1]) == 'O')) {
        return readPrefixed(text);
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t intStart = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    const std::string_view intDigits = text.substr(intStart, i - intStart);
    std::string_view fracDigits;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && isDigit(text[i])) ++i;
        fracDigits = text.substr(fracStart, i - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty()) return {};
    std::size_t end = i;

    long exponent = 0;
    if (i < text.size() && (upper(text[i]) == 'E' || upper(text[i]) == 'D')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            expNegative = text[j] == '-';
            ++j;
        }
        const std::size_t expStart = j;
        while (j < text.size() && isDigit(text[j])) {
            // Saturate: beyond this every value is an infinity or zero anyway.
            if (exponent < 100000000) exponent = exponent * 10 + (text[j] - '0');
            ++j;
        }
        if (j > expStart) {
            if (expNegative) exponent = -exponent;
            end = j;
        }
    }

    std::string plain;
    plain.reserve(intDigits.size() + fracDigits.size() + 16);
    plain.append(intDigits.empty() ? "0" : intDigits);
    if (!fracDigits.empty()) plain.append(".").append(fracDigits);
    if (exponent != 0) plain.append("e").append(std::to_string(exponent));

    double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = outOfRangeValue(intDigits, fracDigits, exponent);
    }
    return {negative ? -value : value, end};
}

double numericValue(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') compact.push_back(c);
    }
    return readLeadingNumber(compact).value;
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5) return below + 1;
    if (fraction < 0.5) return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

}  // namespace velnoria
