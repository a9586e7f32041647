#pragma once

#include "platform/desktop.h"

namespace velnoria {

// The desktop's file manager and default browser, through Qt's desktop services.
class QtShell : public Shell {
  public:
    void openFolder(const std::string& folder) override;
    void openUrl(const std::string& url) override;
};

}  // namespace velnoria
