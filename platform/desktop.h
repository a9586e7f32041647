#pragma once

#include <string>

namespace velnoria {

enum class MessageIcon { None, Critical };

// A modal message box with a title, a text and one OK button; returns once it is dismissed.
class MessageBox {
  public:
    virtual ~MessageBox() = default;
    virtual void show(const std::string& title, const std::string& text, MessageIcon icon) = 0;
};

// The desktop's shell: opening a folder in the file manager, an address in the default browser.
class Shell {
  public:
    virtual ~Shell() = default;
    virtual void openFolder(const std::string& folder) = 0;
    virtual void openUrl(const std::string& url) = 0;
};

}  // namespace velnoria
