#pragma once

#include <ostream>

#include "platform/cookies.h"

namespace velnoria {

// How a test's failure shows a cookie.
inline void PrintTo(const Cookie& cookie, std::ostream* out) {
    *out << "{" << cookie.domain << (cookie.includeSubdomains ? " +sub" : "") << " " << cookie.path
         << (cookie.secure ? " secure" : "") << (cookie.httpOnly ? " httponly" : "") << " expires "
         << cookie.expires << " " << cookie.name << "=" << cookie.value << "}";
}

}  // namespace velnoria
