// Every fault of the catalogue, met on the first attempt only, on the first two, or on all three,
// at the image itself, at an intermediate page and at ImageBam's header request: the file left in
// the save folder, the log and "failed.txt" of each cell, over real HTTP on loopback.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "tests/faults/fault_cell.h"

namespace velnoria::testing {
namespace {

using Cell = std::tuple<std::size_t, int, Where>;

}  // namespace

void PrintTo(Where where, std::ostream* out) {
    *out << whereName(where);
}

namespace {

// Large files are compared without printing them whole.
std::string describe(const std::map<std::string, std::string>& files) {
    std::string out;
    for (const auto& [name, bytes] : files) {
        out += name + " (" + std::to_string(bytes.size()) + " bytes";
        if (bytes.size() <= 64) out += ": \"" + bytes + "\"";
        out += ") ";
    }
    return out.empty() ? "nothing" : out;
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultMatrix, EndsAsDescribed) {
    const auto [index, faultyRounds, where] = GetParam();
    const Fault& fault = faultCatalogue().at(index);
    const CellResult expected = expectedResult(fault, where, faultyRounds);
    const CellResult seen = runCell(fault, where, faultyRounds);

    EXPECT_EQ(seen.log, expected.log);
    EXPECT_EQ(seen.failedTxt, expected.failedTxt);
    EXPECT_TRUE(seen.files == expected.files) << "save folder holds " << describe(seen.files)
                                              << "\nexpected " << describe(expected.files);
    EXPECT_EQ(seen.finished, expected.finished);
    EXPECT_TRUE(seen.strayFiles.empty()) << "left behind: " << seen.strayFiles.front();
}

std::string cellName(const ::testing::TestParamInfo<Cell>& info) {
    const auto [index, faultyRounds, where] = info.param;
    static const char* const kWhen[] = {"", "FirstAttempt", "FirstTwo", "AllThree"};
    return faultCatalogue().at(index).name + "_" + kWhen[faultyRounds] + "_" + whereName(where);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultMatrix,
    ::testing::Combine(::testing::Range<std::size_t>(0, faultCatalogue().size()),
                       ::testing::Values(1, 2, 3),
                       ::testing::Values(Where::Image, Where::Page, Where::HeaderRequest)),
    cellName);

}  // namespace
}  // namespace velnoria::testing
