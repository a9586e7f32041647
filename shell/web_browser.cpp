#include "shell/web_browser.h"

#include <QAction>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "platform/qt/qt_browser_document.h"

namespace velnoria {

WebBrowser::WebBrowser(EventLoop& eventLoop, QWidget* parent, QWebEngineProfile* profile)
    : QWidget(parent), view_(new QWebEngineView(this)) {
    if (profile != nullptr) view_->setPage(new QWebEnginePage(profile, view_));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    // One stop in the window's Tab order; inside it, Tab goes through the page.
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(view_);
    document_ = std::make_unique<QtBrowserDocument>(view_->page(), eventLoop);

    connect(view_, &QWebEngineView::loadStarted, this, [this] {
        awaitingStart_ = false;
        readyState_ = kLoading;
    });
    connect(view_, &QWebEngineView::urlChanged, this, [this](const QUrl&) {
        pending_.clear();
        emit historyChanged();
        // A jump within the page changes the address without any loading.
        if (!awaitingStart_) return;
        awaitingStart_ = false;
        readyState_ = kComplete;
        emit documentComplete();
    });
    connect(view_, &QWebEngineView::loadProgress, this, [this](int) {
        if (readyState_ == kLoading) readyState_ = kInteractive;
    });
    // The engine keeps its Back and Forward actions enabled as its history allows.
    for (const QWebEnginePage::WebAction action : {QWebEnginePage::Back, QWebEnginePage::Forward}) {
        connect(view_->pageAction(action), &QAction::changed, this, &WebBrowser::historyChanged);
    }
    connect(view_, &QWebEngineView::loadFinished, this, [this](bool ok) {
        awaitingStart_ = false;
        loadSucceeded_ = ok;
        readyState_ = kComplete;
        emit documentComplete();
    });
}

WebBrowser::~WebBrowser() = default;

void WebBrowser::navigate(const QString& address) {
    const QUrl url = QUrl::fromUserInput(address);
    if (!url.isValid() || url.isEmpty()) {
        // Nothing can be loaded, so nothing will ever report the end of loading either.
        readyState_ = kComplete;
        return;
    }
    if (url.hasFragment() && url == view_->url() && readyState_ == kComplete) {
        // Only a scroll to the anchor follows: the engine reports nothing at all.
        view_->load(url);
        return;
    }
    // The engine reports the start of loading later; a wait begun now must not see the
    // previous page's "complete".
    readyState_ = kLoading;
    awaitingStart_ = true;
    // Until the engine shows the page, the address is the one asked for: a load stopped before
    // it reached its page must not put the previous page's address into the address box.
    pending_ = url;
    view_->load(url);
}

void WebBrowser::goBack() {
    view_->back();
}

void WebBrowser::goForward() {
    view_->forward();
}

void WebBrowser::reload() {
    view_->reload();
}

bool WebBrowser::canGoBack() const {
    return view_->history()->canGoBack();
}

bool WebBrowser::canGoForward() const {
    return view_->history()->canGoForward();
}

void WebBrowser::stop() {
    view_->stop();
    awaitingStart_ = false;
    // A stopped load counts as complete even if the engine had nothing left to stop.
    if (readyState_ != kUninitialized) readyState_ = kComplete;
}

QString WebBrowser::location() const {
    return (pending_.isEmpty() ? view_->url() : pending_).toString();
}

BrowserDocument& WebBrowser::document() {
    return *document_;
}

}  // namespace velnoria
