#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velnoria {

// What the Settings dialog's OK makes of its two number boxes.
struct SettingsDialogInput {
    bool accepted = false;       // false: show errorText in a box titled "Error", keep the dialog
    int timeoutSeconds = 0;      // 0 to 255 when accepted
    std::int32_t pieceSize = 0;  // 1 or more when accepted
    std::string errorText;
};

// Each box is read with val() and rounded half to even; a time-out outside 0 to 255 or a piece
// size below 1 or beyond 2147483647 is refused, since the download needs a positive piece size.
SettingsDialogInput readSettingsDialogInput(std::string_view timeoutText,
                                            std::string_view pieceSizeText);

}  // namespace velnoria
