#pragma once

#include <string>
#include <string_view>

namespace velnoria {

// The Referer a request for target carries when it comes from referringPage, as today's browsers
// send it by default: within one origin (scheme, host and port) the page's full address without
// its fragment and user info; to another origin only the page's origin and "/"; nothing from an
// https page to an http address, and nothing from a page that is not on http(s) (a local file,
// about:blank, none at all).
std::string refererToSend(std::string_view referringPage, std::string_view target);

}  // namespace velnoria
