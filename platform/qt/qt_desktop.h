#pragma once

#include "platform/desktop.h"

namespace velnoria {

// A modal QMessageBox with one OK button.
class QtMessageBox : public MessageBox {
  public:
    void show(const std::string& title, const std::string& text, MessageIcon icon) override;
};

// The desktop's file manager and default browser, through Qt's desktop services.
class QtShell : public Shell {
  public:
    void openFolder(const std::string& folder) override;
    void openUrl(const std::string& url) override;
};

}  // namespace velnoria
