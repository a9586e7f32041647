// Reading numbers as the Settings dialog does: the leading number against the C library's
// reading of the same characters, blanks anywhere changing nothing, rounding half to even
// against the floating-point unit's own, and the dialog's verdict in range.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/number_reading.h"
#include "core/settings.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace velnoria;

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void checkLeadingNumber(const std::string& text) {
    const LeadingNumber number = readLeadingNumber(text);
    FUZZ_CHECK(number.length <= text.size());
    FUZZ_CHECK(!std::isnan(number.value));
    if (number.length == 0) {
        FUZZ_CHECK(number.value == 0);
        return;
    }
    const std::string taken = text.substr(0, number.length);
    const LeadingNumber again = readLeadingNumber(taken);
    FUZZ_CHECK(again.length == number.length && sameNumber(again.value, number.value));

    if (taken[0] == '&') {
        // &H or &O and at least one digit of that base, read exactly while it fits 52 bits.
        const int base = (taken[1] == 'H' || taken[1] == 'h') ? 16 : 8;
        const std::string digits = taken.substr(2);
        FUZZ_CHECK(!digits.empty());
        FUZZ_CHECK(digits.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "01234567") ==
                   std::string::npos);
        const auto first = digits.find_first_not_of('0');
        const std::string significant = first == std::string::npos ? "0" : digits.substr(first);
        if (significant.size() <= (base == 16 ? 13u : 17u)) {
            FUZZ_CHECK(number.value ==
                       static_cast<double>(std::strtoull(significant.c_str(), nullptr, base)));
        } else {
            FUZZ_CHECK(number.value >= std::ldexp(1.0, base == 16 ? 52 : 51));
        }
        return;
    }

    // A decimal number: the C library reads the same characters (D standing for E) to the same
    // value, all of them and no more.
    std::string decimal = taken;
    for (char& c : decimal) {
        if (c == 'D' || c == 'd') c = 'e';
    }
    FUZZ_CHECK(decimal.find_first_not_of("+-.0123456789eE") == std::string::npos);
    char* end = nullptr;
    const double expected = std::strtod(decimal.c_str(), &end);
    FUZZ_CHECK(end == decimal.c_str() + decimal.size());
    if (std::fabs(expected) >= DBL_MIN || expected == 0 || std::isinf(expected)) {
        FUZZ_CHECK(number.value == expected);
    } else {
        // Below the normal range the reading may give up to zero.
        FUZZ_CHECK(number.value == expected || number.value == 0);
    }
}

void checkRounding(double value) {
    const double rounded = roundHalfEven(value);
    FUZZ_CHECK(sameNumber(rounded, std::nearbyint(value)));  // the default mode is half to even
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::uint64_t bits = data.ConsumeIntegral<std::uint64_t>();
    const std::size_t split = data.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::string text = data.ConsumeRemainingBytesAsString();

    checkLeadingNumber(text);

    // Blanks, tabs and line feeds anywhere change nothing; they are dropped before reading.
    std::string compact;
    std::string spread;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != ' ' && c != '\t' && c != '\n') compact += c;
        spread += c;
        if ((bits >> (i % 64)) & 1) spread += " \t\n"[i % 3];
    }
    const double value = numericValue(text);
    FUZZ_CHECK(sameNumber(value, readLeadingNumber(compact).value));
    FUZZ_CHECK(sameNumber(numericValue(spread), value));
    checkLeadingNumber(compact);

    double raw;
    static_assert(sizeof raw == sizeof bits);
    std::memcpy(&raw, &bits, sizeof raw);
    checkRounding(value);
    checkRounding(raw);
    checkRounding(value / 4);

    // The dialog accepts exactly the rounded values in range, and says why it refuses others.
    const std::string timeoutText = text.substr(0, std::min(split, text.size()));
    const std::string pieceText = text.substr(timeoutText.size());
    const SettingsDialogInput input = readSettingsDialogInput(timeoutText, pieceText);
    const double timeout = roundHalfEven(numericValue(timeoutText));
    const double piece = roundHalfEven(numericValue(pieceText));
    const bool inRange = timeout >= 0 && timeout <= 255 && piece >= 1 && piece <= INT32_MAX;
    FUZZ_CHECK(input.accepted == inRange);
    if (input.accepted) {
        FUZZ_CHECK(input.timeoutSeconds == timeout && input.pieceSize == piece);
        FUZZ_CHECK(input.errorText.empty());
    } else {
        FUZZ_CHECK(!input.errorText.empty());
    }
    return 0;
}
