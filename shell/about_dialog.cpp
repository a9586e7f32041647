#include "shell/about_dialog.h"

#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "core/program_identity.h"
#include "platform/qt/qt_text.h"
#include "shell/window_style.h"

namespace velnoria {

namespace {
constexpr const char* kSupportedHosts[] = {
    "picasaweb.google.com", "flickr.com",         "webshots.com",    "photofile.ru",
    "imagebam.com",         "imagevenue.com",     "imagehaven.net",  "imageshack.us",
    "radikal.ru",           "turboimagehost.com", "fotki.yandex.ru", "photoshare.ru",
};
}  // namespace

std::string aboutText() {
    const std::string lines[] = {
        std::string("Velnoria Morvath v") + kVersionText,
        kCopyrightLine,
        "",
        std::string("Web page: ") + kHomePage,
        std::string("Email: ") + kSupportEmail,
        "",
        "Supported image hosts:",
    };
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    for (const char* host : kSupportedHosts) text += std::string(host) + "\r\n";
    return text;
}

AboutDialog::AboutDialog(Shell& shell)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      text_(new QPlainTextEdit(this)),
      ok_(new QPushButton(QStringLiteral("&Ok"), this)),
      homepage_(new QPushButton(QStringLiteral("&Visit homepage"), this)) {
    setObjectName(QStringLiteral("aboutDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(twipsSize(4980, 3072));
    paintBackground(this, QColor(64, 64, 64));

    text_->setObjectName(QStringLiteral("text"));
    text_->setGeometry(twipsRect(120, 120, 4692, 2052));
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(QStringLiteral("MS Serif"), 10);
    font.setStyleHint(QFont::Serif);
    text_->setFont(font);
    paintBase(text_, Qt::white);

    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setGeometry(twipsRect(120, 2520, 1572, 492));
    homepage_->setObjectName(QStringLiteral("homepage"));
    homepage_->setGeometry(twipsRect(3000, 2520, 1812, 492));
    setTabOrder(text_, ok_);
    setTabOrder(ok_, homepage_);

    connect(ok_, &QPushButton::clicked, this, &QWidget::close);
    connect(homepage_, &QPushButton::clicked, this, [&shell] { shell.openUrl(kHomePage); });
}

void AboutDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AboutDialog::showText(const std::string& text) {
    text_->setPlainText(toDisplayText(text));
}

}  // namespace velnoria
