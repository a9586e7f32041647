#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/rules/file_rule.h"
#include "platform/url_download.h"

namespace velnoria {

// What the page search of a rule found on a service page.
struct PageSearch {
    bool read = false;              // the page arrived whole, with a status below 400
    std::string error;              // why not, when !read
    std::string address;            // the address that answered last (after redirects)
    std::optional<Captures> found;  // the first hit of the pattern, when there is one
};

// A service page larger than this is treated as one that could not be fetched.
inline constexpr std::uint64_t kMaxPageBytes = 128ull * 1024 * 1024;

// A capture of a page search is an address or a name: longer ones are cut (and marked).
inline constexpr std::size_t kMaxFoundBytes = 64 * 1024;

// Fetches the page, as long as service pages may be, into an unnamed temporary file and searches
// it with the pattern: RE2 takes linear time on any page, and the file is mapped, not copied, so
// a page without line ends costs no more than any other. Character references in the captures
// (&amp; and the like) are decoded, as a browser decodes them in an attribute.
PageSearch searchPage(UrlDownload& download, const std::string& pageUrl, const re2::RE2& find);

// The search on a page's bytes, without the fetch (the captures decoded as above).
std::optional<Captures> searchPageText(std::string_view page, const re2::RE2& find);

// The search on a file's bytes, mapped (for tests and the benchmark).
std::optional<Captures> searchPageFile(int fd, const re2::RE2& find, std::string& error);

}  // namespace velnoria
