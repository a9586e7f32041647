#include "core/number_reading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace velnoria {
namespace {

struct ValCase {
    std::string text;
    double expected;
};

TEST(Val, ReadsTheLeadingNumber) {
    const ValCase cases[] = {
        {"", 0},          {"45", 45},
        {"12abc", 12},    {"1 5", 15},
        {" \t4\n2 ", 42}, {"1\r5", 1},  // a carriage return is not ignored
        {"7.5", 7.5},     {"-3.25", -3.25},
        {"+8", 8},        {"- 8", -8},
        {"--8", 0},       {".5", 0.5},
        {"5.", 5},        {"2.2.1", 2.2},
        {"2,5", 2},       {"abc", 0},
        {"x2.3", 0},      {"1e3", 1000},
        {"1E+3", 1000},   {"25e-1", 2.5},
        {"1d2", 100},     {"1e", 1},
        {"1e+", 1},       {"2.3 beta", 2.3},
        {"&H1F", 31},     {"&hff", 255},
        {"&O17", 15},     {"&o8", 0},
        {"&H", 0},        {"&X12", 0},
        {"1e-400", 0},    {"0.0000e999999999999", 0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(numericValue(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(Val, HugeValuesBecomeInfinitiesNotWrapArounds) {
    EXPECT_EQ(numericValue("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(numericValue("-1e99999999999999999999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(numericValue(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(numericValue("&HFFFFFFFFFFFFFFFF"), 18446744073709551615.0);
    EXPECT_GT(numericValue("99999999999"), 2147483647.0);
}

TEST(ReadLeadingNumber, TellsHowMuchItTook) {
    const struct {
        std::string text;
        std::size_t length;
    } cases[] = {
        {"30", 2},  {"-5", 2},    {"12abc", 2}, {"1e5x", 3},
        {"1ex", 1}, {"&H10g", 4}, {"x", 0},     {"-", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readLeadingNumber(c.text).length, c.length) << c.text;
    }
}

TEST(RoundHalfEven, GoesToTheEvenNeighbourAtHalves) {
    const struct {
        double in, out;
    } cases[] = {
        {2.5, 2},    {3.5, 4},
        {7.5, 8},    {6.5, 6},
        {0.5, 0},    {1.5, 2},
        {-0.5, 0},   {-1.5, -2},
        {-2.5, -2},  {2.4999, 2},
        {2.5001, 3}, {-0.4, 0},
        {12, 12},    {4294967295.5, 4294967296},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(roundHalfEven(c.in), c.out) << c.in;
    }
    EXPECT_TRUE(std::isinf(roundHalfEven(std::numeric_limits<double>::infinity())));
}

}  // namespace
}  // namespace velnoria
