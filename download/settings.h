#pragma once

#include <cstdint>
#include <string>

namespace velnoria {

// The three program-wide settings, as "settings.dat" keeps them.
struct Settings {
    static constexpr const char* kCurrentFolderToken = "CURDIR$\\images";
    static constexpr int kDefaultTimeoutSeconds = 30;
    static constexpr std::int32_t kDefaultPieceSize = 102400;

    std::string savePath = kCurrentFolderToken;   // expanded at start-up
    int timeoutSeconds = kDefaultTimeoutSeconds;  // 0 to 255
    std::int32_t pieceSize = kDefaultPieceSize;   // always positive
};

}  // namespace velnoria
