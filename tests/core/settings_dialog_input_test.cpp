#include <gtest/gtest.h>

#include <string>

#include "core/settings.h"

namespace velnoria {
namespace {

TEST(SettingsDialogInput, ReadsAndRoundsBothBoxes) {
    const struct {
        std::string timeout, piece;
        int expectedTimeout;
        std::int32_t expectedPiece;
    } cases[] = {
        {"45", "51200", 45, 51200},
        {"12abc", "1 5", 12, 15},
        {"7.5", "6.5", 8, 6},
        {"", "1", 0, 1},
        {"255", "2147483647", 255, 2147483647},
        {"255.4", "0.5000001", 255, 1},
        {"-0.4", "&H400", 0, 1024},
    };
    for (const auto& c : cases) {
        const auto input = readSettingsDialogInput(c.timeout, c.piece);
        ASSERT_TRUE(input.accepted) << c.timeout << " / " << c.piece;
        EXPECT_EQ(input.timeoutSeconds, c.expectedTimeout);
        EXPECT_EQ(input.pieceSize, c.expectedPiece);
    }
}

TEST(SettingsDialogInput, RefusesValuesOutOfRange) {
    const struct {
        std::string timeout, piece;
        std::string error;
    } cases[] = {
        {"256", "1", "time-out"},           {"-1", "1", "time-out"},
        {"1e400", "1", "time-out"},         {"255.5", "1", "time-out"},
        {"30", "0", "piece size"},          {"30", "", "piece size"},
        {"30", "0.5", "piece size"},        {"30", "-5", "piece size"},
        {"30", "2147483648", "piece size"}, {"30", "1e99", "piece size"},
    };
    for (const auto& c : cases) {
        const auto input = readSettingsDialogInput(c.timeout, c.piece);
        EXPECT_FALSE(input.accepted) << c.timeout << " / " << c.piece;
        EXPECT_NE(input.errorText.find(c.error), std::string::npos) << input.errorText;
    }
}

}  // namespace
}  // namespace velnoria
