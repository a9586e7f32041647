#pragma once

#include "platform/desktop.h"

namespace velnoria {

// A modal QMessageBox with one OK button.
class QtMessageBox : public MessageBox {
  public:
    void show(const std::string& title, const std::string& text, MessageIcon icon) override;
};

}  // namespace velnoria
