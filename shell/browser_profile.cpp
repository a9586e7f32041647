#include "shell/browser_profile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include "platform/qt/qt_cookie_mirror.h"
#include "shell/stored_cookies.h"

namespace velnoria {

namespace {

QString underProgramFolder(QStandardPaths::StandardLocation location, const char* name) {
    return QStandardPaths::writableLocation(location) + QStringLiteral("/velnoria-morvath/") +
           QString::fromLatin1(name);
}

// Left by Forget for the next start: the profile's folders go before the engine opens them.
QString forgetMarker() {
    return underProgramFolder(QStandardPaths::GenericDataLocation, "forget-site-data");
}

// The engine writes a changed cookie within this long.
constexpr qint64 kCookieWriteIntervalSeconds = 35;

}  // namespace

QString BrowserProfile::storageFolder() {
    return underProgramFolder(QStandardPaths::GenericDataLocation, "browser");
}

QString BrowserProfile::cacheFolder() {
    return underProgramFolder(QStandardPaths::GenericCacheLocation, "browser");
}

BrowserProfile::BrowserProfile() {
    if (QFile::exists(forgetMarker())) {
        QDir(storageFolder()).removeRecursively();
        QDir(cacheFolder()).removeRecursively();
        QFile::remove(forgetMarker());
    }
    const std::vector<QNetworkCookie> stored = readStoredCookies(storageFolder());
    profile_ = std::make_unique<QWebEngineProfile>(QStringLiteral("velnoria-morvath"));
    profile_->setPersistentStoragePath(storageFolder());
    profile_->setCachePath(cacheFolder());
    profile_->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile_->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    mirror_ = std::make_unique<QtCookieMirror>(*profile_->cookieStore(), stored);
    userAgent_ = profile_->httpUserAgent().toStdString();
}

BrowserProfile::~BrowserProfile() {
    close();
}

void BrowserProfile::fillSession(Session& session) const {
    session.cookies = mirror_->cookies();
    session.userAgent = userAgent_;
}

void BrowserProfile::close() {
    if (profile_ == nullptr) return;
    const QDateTime changed = mirror_->lastChange();
    profile_.reset();
    const bool unwritten = changed.isValid() && changed.secsTo(QDateTime::currentDateTimeUtc()) <
                                                    kCookieWriteIntervalSeconds;
    if (!unwritten) return;
    // Written once the file is newer than the change; the engine does it on its own threads.
    QFileInfo file(storedCookiesFile(storageFolder()));
    for (int waited = 0; waited < kCookieWriteWaitMs; waited += 10) {
        file.refresh();
        if (file.exists() && file.lastModified().toUTC() > changed) return;
        QThread::msleep(10);
    }
}

void BrowserProfile::forgetCookiesAndSiteData() {
    if (profile_ == nullptr) return;
    profile_->cookieStore()->deleteAllCookies();
    profile_->clearAllVisitedLinks();
    // The cache goes with the rest at the next start, not now: a page load begun while the engine
    // clears its cache can wait for ever, and this engine does not say when the clearing ends.
    // Should the data folder refuse the marker, the cookies are gone all the same.
    QDir().mkpath(underProgramFolder(QStandardPaths::GenericDataLocation, ""));
    QFile(forgetMarker()).open(QIODevice::WriteOnly);
}

}  // namespace velnoria
