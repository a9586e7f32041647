#include "platform/qt/qt_cookie_mirror.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <algorithm>

namespace velnoria {

Cookie toCookie(const QNetworkCookie& cookie) {
    Cookie converted;
    converted.domain = cookie.domain().toStdString();
    if (converted.domain.starts_with('.')) {
        converted.includeSubdomains = true;
        converted.domain.erase(0, 1);
    }
    if (!cookie.path().isEmpty()) converted.path = cookie.path().toStdString();
    converted.secure = cookie.isSecure();
    converted.httpOnly = cookie.isHttpOnly();
    if (!cookie.isSessionCookie()) {
        // A date before 1970 has passed: 1, since 0 would make it a session cookie.
        converted.expires = std::max<std::int64_t>(1, cookie.expirationDate().toSecsSinceEpoch());
    }
    converted.name = cookie.name().toStdString();
    converted.value = cookie.value().toStdString();
    return converted;
}

QtCookieMirror::QtCookieMirror(QWebEngineCookieStore& store,
                               const std::vector<QNetworkCookie>& held, QObject* parent)
    : QObject(parent) {
    for (const QNetworkCookie& cookie : held) byIdentity_[identityOf(cookie)] = toCookie(cookie);
    listCurrent_ = byIdentity_.empty();
    connect(&store, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& cookie) { added(cookie); });
    connect(&store, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie& cookie) { removed(cookie); });
    // An engine that lists what it reads adds nothing new here: the same cookies replace theirs.
    store.loadAllCookies();
}

const std::vector<Cookie>& QtCookieMirror::cookies() {
    if (!listCurrent_) {
        list_.clear();
        list_.reserve(byIdentity_.size());
        for (const auto& [identity, cookie] : byIdentity_) list_.push_back(cookie);
        listCurrent_ = true;
    }
    return list_;
}

QtCookieMirror::Identity QtCookieMirror::identityOf(const QNetworkCookie& cookie) {
    return {cookie.name().toStdString(), cookie.domain().toStdString(),
            cookie.path().toStdString()};
}

void QtCookieMirror::added(const QNetworkCookie& cookie) {
    byIdentity_[identityOf(cookie)] = toCookie(cookie);
    listCurrent_ = false;
    lastChange_ = QDateTime::currentDateTimeUtc();
}

void QtCookieMirror::removed(const QNetworkCookie& cookie) {
    const auto found = byIdentity_.find(identityOf(cookie));
    // An overwritten cookie is removed with its old value: a successor already here stays.
    if (found == byIdentity_.end() || found->second.value != cookie.value().toStdString()) return;
    byIdentity_.erase(found);
    listCurrent_ = false;
    lastChange_ = QDateTime::currentDateTimeUtc();
}

}  // namespace velnoria
