#pragma once

#include <QString>
#include <memory>
#include <string>

#include "platform/session.h"

class QWebEngineProfile;

namespace velnoria {

class QtCookieMirror;

// The embedded browser's profile: its cookies, cache and site storage kept across starts in the
// user's data folder, so a forum login made once still holds the next day. Session cookies are
// kept too: a forum that logs in without "remember me" stays logged in as well.
class BrowserProfile {
  public:
    BrowserProfile();
    ~BrowserProfile();
    BrowserProfile(const BrowserProfile&) = delete;
    BrowserProfile& operator=(const BrowserProfile&) = delete;

    // Where the profile lives: "velnoria-morvath/browser" in the XDG data folder
    // ($XDG_DATA_HOME, else ~/.local/share), its cache the same under the XDG cache folder.
    static QString storageFolder();
    static QString cacheFolder();

    QWebEngineProfile* profile() const { return profile_.get(); }
    QtCookieMirror& cookieMirror() const { return *mirror_; }

    // What the requests of a job carry from the browser: every cookie it holds now and its
    // User-Agent.
    void fillSession(Session& session) const;

    // Deletes every cookie at once; the cache and the rest of the site data (local storage,
    // databases) go before the profile is next opened, as the engine holds them until then.
    void forgetCookiesAndSiteData();

    // Closes the profile (every page shown with it must be gone before), which makes the engine
    // write its cookies; also done by the destructor. The engine writes them only now and then,
    // so a cookie changed in the last half minute is waited for, at most kCookieWriteWaitMs.
    void close();
    static constexpr int kCookieWriteWaitMs = 2000;

  private:
    std::unique_ptr<QWebEngineProfile> profile_;
    std::unique_ptr<QtCookieMirror> mirror_;
    std::string userAgent_;
};

}  // namespace velnoria
