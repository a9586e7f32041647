#pragma once

#include <QWidget>

#include "platform/desktop.h"

class QPlainTextEdit;
class QPushButton;

namespace velnoria {

// Form2, the About box: the program's name, version, addresses and supported hosts.
class AboutDialog : public QWidget {
    Q_OBJECT
  public:
    explicit AboutDialog(Shell& shell);

    // About_Click's part: the text is built anew each time.
    void showText(const std::string& text);

    QPlainTextEdit* text() const { return text1_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* homepageButton() const { return homepage_; }

  private:
    QPlainTextEdit* text1_;
    QPushButton* ok_;
    QPushButton* homepage_;
};

}  // namespace velnoria
