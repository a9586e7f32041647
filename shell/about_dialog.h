#pragma once

#include <QWidget>
#include <string>

#include "platform/desktop.h"

class QPlainTextEdit;
class QPushButton;

namespace velnoria {

// The About box's text, every line ended by CR LF, with one empty line after the e-mail line.
std::string aboutText();

// The About box: the program's name, version, addresses and supported hosts.
class AboutDialog : public QWidget {
    Q_OBJECT
  public:
    explicit AboutDialog(Shell& shell);

    // The text is built anew each time the dialog is shown.
    void showText(const std::string& text);

    QPlainTextEdit* text() const { return text_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* homepageButton() const { return homepage_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;  // Escape closes the box

  private:
    QPlainTextEdit* text_;
    QPushButton* ok_;
    QPushButton* homepage_;
};

}  // namespace velnoria
