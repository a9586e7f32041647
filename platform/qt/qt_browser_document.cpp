#include "platform/qt/qt_browser_document.h"

#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <memory>

namespace velnoria {

namespace {

// Both run in the application's own script world: the page's scripts cannot replace the
// functions used here, while the document itself is the page's.
const char* const kImagesScript = "Array.from(document.images, function (e) { return e.src; })";
const char* const kLinksScript = "Array.from(document.links, function (e) { return e.href; })";
// The first link or a element whose rel names "next" and that has an address, as an absolute one.
const char* const kNextPageScript =
    "(function () {"
    " var e = document.querySelector('link[rel~=\"next\" i][href], a[rel~=\"next\" i][href]');"
    " return e ? [e.href] : []; })()";

struct PendingAnswer {
    bool arrived = false;
    QVariant value;
};

}  // namespace

QtBrowserDocument::QtBrowserDocument(QWebEnginePage* page, EventLoop& eventLoop,
                                     std::chrono::milliseconds bound)
    : page_(page), eventLoop_(eventLoop), bound_(bound) {}

std::vector<std::string> QtBrowserDocument::imageSources() {
    return readStrings(QString::fromLatin1(kImagesScript));
}

std::vector<std::string> QtBrowserDocument::linkTargets() {
    return readStrings(QString::fromLatin1(kLinksScript));
}

std::string QtBrowserDocument::nextPageAddress() {
    const std::vector<std::string> found = readStrings(QString::fromLatin1(kNextPageScript));
    return found.empty() ? std::string() : found.front();
}

std::string QtBrowserDocument::documentAddress() {
    return page_.isNull() ? std::string() : page_->url().toString().toStdString();
}

std::vector<std::string> QtBrowserDocument::readStrings(const QString& script) {
    std::vector<std::string> result;
    if (page_.isNull()) return result;
    // Shared, so a late answer after we gave up lands in memory that still exists.
    auto answer = std::make_shared<PendingAnswer>();
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                         [answer](const QVariant& value) {
                             answer->arrived = true;
                             answer->value = value;
                         });
    const auto deadline = std::chrono::steady_clock::now() + bound_;
    while (!answer->arrived && !page_.isNull() && std::chrono::steady_clock::now() < deadline) {
        eventLoop_.yieldOnce(std::chrono::milliseconds{10});
    }
    if (!answer->arrived) return result;
    const QVariantList items = answer->value.toList();
    result.reserve(static_cast<std::size_t>(items.size()));
    for (const QVariant& item : items) result.push_back(item.toString().toStdString());
    return result;
}

}  // namespace velnoria
