#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cookies.h"

namespace velnoria {

// Bounds of a cookies file. A browser holds a few thousand cookies of a few hundred bytes each;
// anything far beyond that is not a cookie export, and is refused before it costs time or memory.
inline constexpr std::uint64_t kMaxCookiesFileBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxCookiesFileLines = 50000;
inline constexpr std::size_t kMaxCookieLineBytes = 16 * 1024;
// Problems beyond this many are counted, not listed.
inline constexpr std::size_t kCookiesProblemsShown = 10;

// What a Netscape cookies.txt holds: the cookies of its good lines, and a problem for each bad
// one, "FILE:LINE: message" (or "FILE: message" for the file as a whole). A problem never quotes
// the line: it may hold a cookie.
struct CookiesFile {
    std::vector<Cookie> cookies;
    std::vector<std::string> problems;
};

// The text of a cookies.txt as browsers' export add-ons and curl write it: one cookie a line,
// seven fields separated by tabs (domain, TRUE/FALSE for its subdomains, path, TRUE/FALSE for
// Secure, expiry in seconds since the epoch with 0 for a session cookie, name, value; a line of
// six fields has an empty value). "#HttpOnly_" before the domain marks an HttpOnly cookie; other
// lines starting with "#", and blank lines, are comments. Line ends may be LF or CR LF.
// fileName: how the problems name the file.
CookiesFile parseCookiesText(std::string_view text, std::string_view fileName);

// The cookies file at path, read within the bounds above. fileName as above.
CookiesFile readCookiesFile(const std::string& path, std::string_view fileName);

}  // namespace velnoria
