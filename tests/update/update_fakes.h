#pragma once

#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/url_download.h"

namespace velnoria::testing {

// Everything the check does to the outside, in order, as short lines.
using Events = std::vector<std::string>;

class RecordingMessageBox : public MessageBox {
  public:
    explicit RecordingMessageBox(Events& events) : events_(events) {}
    void show(const std::string& title, const std::string& text, MessageIcon icon) override {
        events_.push_back("box " + title + (icon == MessageIcon::Critical ? " (stop): " : ": ") +
                          text);
    }

  private:
    Events& events_;
};

class RecordingShell : public Shell {
  public:
    explicit RecordingShell(Events& events) : events_(events) {}
    void openFolder(const std::string& folder) override { events_.push_back("folder " + folder); }
    void openUrl(const std::string& url) override { events_.push_back("open " + url); }

  private:
    Events& events_;
};

}  // namespace velnoria::testing
