#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>

#include "shell/main_window.h"
#include "shell/web_browser.h"

namespace velnoria {

namespace {

// Each pass of a page wait may block this long for window or browser events.
constexpr std::chrono::milliseconds kPageWaitPass{10};

QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' ')) ++first;
    while (last > first && text[last - 1] == QLatin1Char(' ')) --last;
    return text.mid(first, last - first);
}

}  // namespace

void MainWindow::Go_Click() {
    webBrowser1_->Navigate2(trimSpaces(text1_->text()));
    int state = WebBrowser::kUninitialized;
    do {
        eventLoop_.yieldOnce(kPageWaitPass);
        switch (webBrowser1_->ReadyState()) {
            case WebBrowser::kLoading:
                setStatusLine(QStringLiteral("Loading page, please wait..."), false);
                break;
            case WebBrowser::kInteractive:
                setStatusLine(QStringLiteral("Loading..."), false);
                break;
            case WebBrowser::kComplete:
                setStatusLine(QStringLiteral("Loaded."), false);
                break;
            default:
                break;
        }
        const QString location = webBrowser1_->LocationURL();
        if (location != text1_->text() && webBrowser1_->ReadyState() > WebBrowser::kLoaded) {
            text1_->setText(location);
            text1_->repaint();
        }
        state = webBrowser1_->ReadyState();
    } while (state != WebBrowser::kComplete);
    download_->setEnabled(true);
}

void MainWindow::Back_Click() {
    webBrowser1_->GoBack();
}

void MainWindow::Forward_Click() {
    webBrowser1_->GoForward();
}

void MainWindow::Stop_Click() {
    webBrowser1_->Stop();
    download_->setEnabled(true);
    setStatusLine(QStringLiteral("Page stopped."), false);
}

void MainWindow::WebBrowser1_DocumentComplete() {
    text1_->setText(webBrowser1_->LocationURL());
    text1_->repaint();
}

}  // namespace velnoria
