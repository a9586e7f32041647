#pragma once

#include <string>

namespace velnoria::testing {

// Puts this process, on the first call, on a display of its own: a fresh Xvfb (1280x1024x24,
// never reset) that DISPLAY then names, for the application and the programs the test starts.
// On a display the tests share, a test running beside another takes its keyboard focus, a
// window manager takes every window, and the server resets whenever its last client leaves,
// refusing whoever connects just then. The display ends with the process. Returns why there is
// none (Xvfb missing or silent; the process then keeps the display it was given), or "".
// Call it before anything connects to a display: the application keeps the one it found.
const std::string& startOwnDisplay();

}  // namespace velnoria::testing
