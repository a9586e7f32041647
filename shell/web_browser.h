#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "platform/browser_document.h"
#include "platform/event_loop.h"

class QWebEngineProfile;
class QWebEngineView;

namespace velnoria {

// The embedded browser with the operations and ready states the windows rely on, over a web
// engine view. Only this file and the document reader include the engine's headers.
class WebBrowser : public QWidget {
    Q_OBJECT
  public:
    enum ReadyState {
        kUninitialized = 0,
        kLoading = 1,
        kLoaded = 2,
        kInteractive = 3,
        kComplete = 4
    };

    // Without a profile the engine's default one, which keeps nothing beyond the program's run.
    WebBrowser(EventLoop& eventLoop, QWidget* parent = nullptr,
               QWebEngineProfile* profile = nullptr);
    ~WebBrowser() override;

    void navigate(const QString& address);
    void goBack();
    void goForward();
    void reload();
    void stop();
    // Whether the history has a page to go back or forward to.
    bool canGoBack() const;
    bool canGoForward() const;
    int readyState() const { return readyState_; }
    // Whether the last load that completed reached its page (false for one that failed).
    bool loadSucceeded() const { return loadSucceeded_; }
    // The top-level address of the current page; while a navigation has not reached a page of
    // its own (or was stopped before it did), the address it was asked for.
    QString location() const;

    // The current page's document (images, links) for the download job.
    BrowserDocument& document();

    QWebEngineView* view() const { return view_; }

  signals:
    // A page has finished loading (or failed to); not sent for a load stopped before it reached
    // a page of its own.
    void documentComplete();
    // canGoBack() or canGoForward() may have changed.
    void historyChanged();

  private:
    QWebEngineView* view_;
    std::unique_ptr<BrowserDocument> document_;
    int readyState_ = kUninitialized;
    bool loadSucceeded_ = true;
    bool awaitingStart_ = false;  // navigation asked for, engine has not said it started
    QUrl pending_;                // asked for by navigate(), not yet shown
};

}  // namespace velnoria
