#include "shell/settings/settings_dialog_input.h"

#include <limits>

#include "shell/settings/number_reading.h"

namespace velnoria {

SettingsDialogInput readSettingsDialogInput(std::string_view timeoutText,
                                            std::string_view pieceSizeText) {
    SettingsDialogInput input;
    const double timeout = roundHalfEven(val(timeoutText));
    const double piece = roundHalfEven(val(pieceSizeText));
    if (!(timeout >= 0 && timeout <= 255)) {
        input.errorText = "The time-out must be from 0 to 255 seconds.";
        return input;
    }
    if (!(piece >= 1 && piece <= std::numeric_limits<std::int32_t>::max())) {
        input.errorText = "The piece size must be from 1 to 2147483647 bytes.";
        return input;
    }
    input.accepted = true;
    input.timeoutSeconds = static_cast<int>(timeout);
    input.pieceSize = static_cast<std::int32_t>(piece);
    return input;
}

}  // namespace velnoria
