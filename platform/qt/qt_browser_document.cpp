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
// Each image with the href of the nearest HTML a element around it that has one.
const char* const kImagesWithLinksScript =
    "Array.from(document.images, function (e) {"
    "  for (var p = e.parentElement; p; p = p.parentElement) {"
    "    if (p instanceof HTMLAnchorElement && p.hasAttribute('href')) return [e.src, p.href];"
    "  }"
    "  return [e.src, ''];"
    "})";

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

std::string QtBrowserDocument::title() {
    const std::optional<QVariant> answer = run(QStringLiteral("document.title"));
    return answer ? answer->toString().toStdString() : std::string();
}

std::vector<ImageInLink> QtBrowserDocument::imagesWithLinks() {
    std::vector<ImageInLink> result;
    const std::optional<QVariant> answer = run(QString::fromLatin1(kImagesWithLinksScript));
    if (!answer) return result;
    const QVariantList items = answer->toList();
    result.reserve(static_cast<std::size_t>(items.size()));
    for (const QVariant& item : items) {
        const QVariantList pair = item.toList();
        result.push_back(
            {pair.value(0).toString().toStdString(), pair.value(1).toString().toStdString()});
    }
    return result;
}

std::optional<QVariant> QtBrowserDocument::run(const QString& script) {
    if (page_.isNull()) return std::nullopt;
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
    if (!answer->arrived) return std::nullopt;
    return answer->value;
}

std::vector<std::string> QtBrowserDocument::readStrings(const QString& script) {
    std::vector<std::string> result;
    const std::optional<QVariant> answer = run(script);
    if (!answer) return result;
    const QVariantList items = answer->toList();
    result.reserve(static_cast<std::size_t>(items.size()));
    for (const QVariant& item : items) result.push_back(item.toString().toStdString());
    return result;
}

}  // namespace velnoria
