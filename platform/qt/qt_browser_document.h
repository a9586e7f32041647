#pragma once

#include <QPointer>
#include <QString>
#include <QVariant>
#include <chrono>
#include <optional>

#include "platform/browser_document.h"
#include "platform/event_loop.h"

class QWebEnginePage;

namespace velnoria {

// The document of a web engine page, read with JavaScript. The answer is awaited by yielding to
// the event loop, for at most `bound`: a page whose renderer died gives empty lists.
class QtBrowserDocument : public BrowserDocument {
  public:
    QtBrowserDocument(QWebEnginePage* page, EventLoop& eventLoop,
                      std::chrono::milliseconds bound = std::chrono::seconds{15});

    std::vector<std::string> imageSources() override;
    std::vector<std::string> linkTargets() override;
    std::vector<ImageInLink> imagesWithLinks() override;
    std::string nextPageAddress() override;
    std::string documentAddress() override;
    std::string title() override;

  private:
    // The script's answer, or nothing when none came in time.
    std::optional<QVariant> run(const QString& script);
    std::vector<std::string> readStrings(const QString& script);

    QPointer<QWebEnginePage> page_;
    EventLoop& eventLoop_;
    std::chrono::milliseconds bound_;
};

}  // namespace velnoria
