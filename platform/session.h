#pragma once

#include <string>
#include <vector>

#include "core/program_identity.h"
#include "platform/cookies.h"

namespace velnoria {

class TransferEngine;

// What every request of a job carries beside its own address: the cookies, the User-Agent and
// whether a Referer goes with it. The desktop program fills it from its browser when Start
// Download is pressed; velnoria-get from its options.
struct Session {
    std::vector<Cookie> cookies;
    std::string userAgent = kUserAgent;
    // False: no request names the page it comes from.
    bool sendReferer = true;

    bool operator==(const Session&) const = default;
};

// Hands the session to the engine for the requests from now on: its User-Agent, and a cookie
// jar of exactly its cookies.
void applySession(const Session& session, TransferEngine& engine);

// The page a request names as the one it comes from: referringPage, or "" when the session sends
// no Referer.
inline std::string referringPageFor(const Session& session, const std::string& referringPage) {
    return session.sendReferer ? referringPage : std::string();
}

}  // namespace velnoria
