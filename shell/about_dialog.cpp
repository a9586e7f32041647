#include "shell/about_dialog.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/qt/qt_text.h"
#include "platform/program_identity.h"
#include "shell/twips.h"
#include "shell/window_style.h"

namespace velnoria {

AboutDialog::AboutDialog(Shell& shell)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      text1_(new QPlainTextEdit(this)),
      ok_(new QPushButton(QStringLiteral("&Ok"), this)),
      homepage_(new QPushButton(QStringLiteral("&Visit homepage"), this)) {
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(twipsSize(4980, 3072));
    paintBackground(this, QColor(64, 64, 64));

    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(twipsRect(120, 120, 4692, 2052));
    text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(QStringLiteral("MS Serif"), 10);
    font.setStyleHint(QFont::Serif);
    text1_->setFont(font);
    paintBase(text1_, Qt::white);

    ok_->setObjectName(QStringLiteral("Ok"));
    ok_->setGeometry(twipsRect(120, 2520, 1572, 492));
    homepage_->setObjectName(QStringLiteral("Homepage"));
    homepage_->setGeometry(twipsRect(3000, 2520, 1812, 492));
    setTabOrder(text1_, ok_);
    setTabOrder(ok_, homepage_);

    connect(ok_, &QPushButton::clicked, this, &QWidget::close);
    connect(homepage_, &QPushButton::clicked, this, [&shell] { shell.openUrl(kHomePage); });
}

void AboutDialog::showText(const std::string& text) {
    text1_->setPlainText(toDisplayText(text));
}

}  // namespace velnoria
