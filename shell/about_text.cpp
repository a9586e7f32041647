#include "shell/about_text.h"

#include "platform/program_identity.h"

namespace velnoria {

namespace {
constexpr const char* kSupportedHosts[] = {
    "picasaweb.google.com", "flickr.com",         "webshots.com",    "photofile.ru",
    "imagebam.com",         "imagevenue.com",     "imagehaven.net",  "imageshack.us",
    "radikal.ru",           "turboimagehost.com", "fotki.yandex.ru", "photoshare.ru",
};
}  // namespace

std::string aboutText() {
    const std::string lines[] = {
        std::string("Velnoria Morvath v") + kVersionText,
        kCopyrightLine,
        "",
        std::string("Web page: ") + kHomePage,
        std::string("Email: ") + kSupportEmail,
        "",
        "Supported image hosts:",
    };
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    for (const char* host : kSupportedHosts) text += std::string(host) + "\r\n";
    return text;
}

}  // namespace velnoria
