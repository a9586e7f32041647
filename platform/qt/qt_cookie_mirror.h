#pragma once

#include <QDateTime>
#include <QObject>
#include <cstddef>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/cookies.h"

class QNetworkCookie;
class QWebEngineCookieStore;

namespace velnoria {

// A browser cookie as a job's requests carry it: a domain with a leading dot is one for its
// subdomains too; a session cookie has no expiry.
Cookie toCookie(const QNetworkCookie& cookie);

// Every cookie a browser profile's cookie store holds, kept current as the browser sets and drops
// them, so a job can take them at once, however many there are.
class QtCookieMirror : public QObject {
    Q_OBJECT
  public:
    // Starts with the cookies the store holds already (as read from its profile) and follows the
    // store from then on.
    QtCookieMirror(QWebEngineCookieStore& store, const std::vector<QNetworkCookie>& held,
                   QObject* parent = nullptr);

    // The cookies now, in no particular order; the list is made again only after a change.
    const std::vector<Cookie>& cookies();
    std::size_t size() const { return byIdentity_.size(); }
    // When the store last set or dropped a cookie; invalid when it has not since the start.
    QDateTime lastChange() const { return lastChange_; }

  private:
    // A cookie is replaced by one of the same name, domain (its leading dot included) and path.
    using Identity = std::tuple<std::string, std::string, std::string>;
    static Identity identityOf(const QNetworkCookie& cookie);

    void added(const QNetworkCookie& cookie);
    void removed(const QNetworkCookie& cookie);

    std::map<Identity, Cookie> byIdentity_;
    std::vector<Cookie> list_;
    bool listCurrent_ = true;
    QDateTime lastChange_;
};

}  // namespace velnoria
