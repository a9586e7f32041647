#pragma once

#include <array>
#include <string>
#include <string_view>

namespace velnoria {

// Slots of the host table; slot 4 is a placeholder that takes its addresses and does nothing.
enum HostSlot : int {
    kImageBamSlot = 1,
    kImageVenueSlot = 2,
    kImageHavenSlot = 3,
    kPlaceholderSlot = 4,
    kImageShackSlot = 5,
    kGoogleUserContentSlot = 6,
    kOnSugarSlot = 7,
    kHqCitySlot = 8,
    kSkinsSlot = 9,
    kRadikalSlot = 10,
    kTurboImageHostSlot = 11,
    kFlickrSlot = 12,
    kPhotofileSlot = 13,
    kShareNxsSlot = 14,
    kFrillrSlot = 15,
    kWebshotsSlot = 16,
    kYandexFotkiSlot = 17,
    kPhotoshareSlot = 18,
};

inline constexpr int kHostTableSlots = 30;
inline constexpr int kFilledHostSlots = 18;

// Host name prefix of the first static image server of the Flickr slot.
inline constexpr std::string_view kFlickrFirstStaticServer = "farm1.static";

// The key that selects a slot; "" for the empty slots 19 to 30 (and any other number).
std::string_view hostKey(int slot);

// Indexed by slot number 1 to 30. Index 0 and the one past slot 30 stay empty, so a scan over
// the slots always meets an empty one.
using HostTable = std::array<std::string, kHostTableSlots + 2>;

HostTable makeHostTable();

}  // namespace velnoria
