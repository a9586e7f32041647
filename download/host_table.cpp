#include "download/host_table.h"

namespace velnoria {

namespace {

constexpr std::array<std::string_view, kFilledHostSlots> kKeys = {
    "imagebam.com",
    "imagevenue.com",
    "imagehaven.net",
    "#############",
    "imageshack.us",
    "googleusercontent.com",
    "media.onsugar.com",
    "hqcity.net",
    "skins.be",
    "radikal.ru",
    "turboimagehost.com",
    "flickr.com",
    "users.photofile.ru/photo",
    "sharenxs.com",
    "frillr.com",
    "webshots.com",
    "img-fotki.yandex.ru",
    "photoshare.ru",
};

}  // namespace

std::string_view hostKey(int slot) {
    if (slot < 1 || slot > kFilledHostSlots) return {};
    return kKeys[static_cast<std::size_t>(slot - 1)];
}

HostTable makeHostTable() {
    HostTable table{};
    for (int slot = 1; slot <= kFilledHostSlots; ++slot) {
        table[static_cast<std::size_t>(slot)] = std::string(hostKey(slot));
    }
    return table;
}

}  // namespace velnoria
