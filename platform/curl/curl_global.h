#pragma once

namespace velnoria {

// libcurl's process-wide set-up, done once before the first handle whatever thread asks first.
void ensureCurlGlobalInit();

}  // namespace velnoria
