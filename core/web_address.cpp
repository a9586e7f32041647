#include "core/web_address.h"

#include <algorithm>

#include "core/text.h"

namespace velnoria {

namespace {

// What follows the scheme: "" when the address is not http(s).
std::string_view afterScheme(std::string_view address) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (startsWithNoCase(address, scheme)) return address.substr(scheme.size());
    }
    return {};
}

// The host of what follows the scheme, as it stands.
std::string_view hostPart(std::string_view rest) {
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
    if (!rest.empty() && rest.front() == '[') return rest.substr(0, rest.find(']') + 1);
    return rest.substr(0, rest.find(':'));
}

}  // namespace

bool isWebAddress(std::string_view address) {
    return !hostPart(afterScheme(address)).empty();
}

std::string webHostName(std::string_view address) {
    std::string host(hostPart(afterScheme(trim(address, " \t\r\n"))));
    std::transform(host.begin(), host.end(), host.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return host;
}

}  // namespace velnoria
