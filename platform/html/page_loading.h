#pragma once

#include <cstdint>
#include <string>

#include "platform/url_download.h"

namespace velnoria {

// A page is parsed whole, so its size is bounded.
inline constexpr std::uint64_t kPageSizeLimit = 32 * 1024 * 1024;

struct LoadedPage {
    bool loaded = false;
    std::string html;
    std::string documentUrl;  // the address the page's relative links are resolved against
    std::string error;        // why it could not be loaded, one line
};

// PAGE as the command line gives it: an http(s) address (fetched, redirects followed; an HTTP
// error status counts as not loaded), a file:// address or a local file name.
LoadedPage loadPage(const std::string& page, UrlDownload& download);

}  // namespace velnoria
