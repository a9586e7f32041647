#pragma once

#include <string>

#include "cli/terminal_status_view.h"
#include "platform/desktop.h"

namespace velnoria {

// A message box on the terminal: its text goes to standard output after the log; nothing waits.
class TerminalMessageBox : public MessageBox {
  public:
    explicit TerminalMessageBox(TerminalStatusView& view) : view_(view) {}
    void show(const std::string&, const std::string& text, MessageIcon) override {
        view_.printMessage(text);
    }

  private:
    TerminalStatusView& view_;
};

// There is no desktop to open a folder or an address on.
class NoShell : public Shell {
  public:
    void openFolder(const std::string&) override {}
    void openUrl(const std::string&) override {}
};

}  // namespace velnoria
