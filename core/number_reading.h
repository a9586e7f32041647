#pragma once

#include <cstddef>
#include <string_view>

namespace velnoria {

// The leading number of a text that holds no blanks, and how many characters it took.
struct LeadingNumber {
    double value = 0;
    std::size_t length = 0;  // 0 when the text does not begin with a number
};

// Reads an optional sign, digits, an optional "." with fraction digits and an optional exponent
// (E or D, optional sign, digits), or "&H" hex / "&O" octal digits. "." is the decimal point
// whatever the locale. Too large a value gives an infinity, never a wrap-around.
LeadingNumber readLeadingNumber(std::string_view text);

// The numeric value of a text as the Settings dialog reads it: blanks, tabs and line feeds are
// ignored wherever they stand, then the leading number is taken; no number gives 0.
double numericValue(std::string_view text);

// To the nearest whole number, a value exactly half-way going to the even neighbour.
double roundHalfEven(double value);

}  // namespace velnoria
