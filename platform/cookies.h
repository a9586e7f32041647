#pragma once

#include <cstdint>
#include <string>

namespace velnoria {

// One cookie of a session, as a browser holds it and as a Netscape cookies.txt line writes it.
struct Cookie {
    std::string domain;  // without a leading dot
    bool includeSubdomains = false;
    std::string path = "/";
    bool secure = false;
    bool httpOnly = false;
    std::int64_t expires = 0;  // seconds since the epoch; 0 = until the session ends
    std::string name;
    std::string value;

    bool operator==(const Cookie&) const = default;
};

}  // namespace velnoria
