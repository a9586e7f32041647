#include "download/host_rules.h"

namespace velnoria {

HostRule hostRuleFor(int slot) {
    switch (slot) {
        case kImageBamSlot:
            return imageBamRule;
        case kImageVenueSlot:
            return imageVenueRule;
        case kImageHavenSlot:
            return imageHavenRule;
        case kImageShackSlot:
            return imageShackRule;
        case kGoogleUserContentSlot:
            return googleUserContentRule;
        case kOnSugarSlot:
            return onSugarRule;
        case kHqCitySlot:
            return hqCityRule;
        case kSkinsSlot:
            return skinsRule;
        case kRadikalSlot:
            return radikalRule;
        case kTurboImageHostSlot:
            return turboImageHostRule;
        case kFlickrSlot:
            return flickrRule;
        case kPhotofileSlot:
            return photofileRule;
        case kShareNxsSlot:
            return shareNxsRule;
        case kFrillrSlot:
            return frillrRule;
        case kWebshotsSlot:
            return webshotsRule;
        case kYandexFotkiSlot:
            return yandexFotkiRule;
        case kPhotoshareSlot:
            return photoshareRule;
        default:
            return nullptr;
    }
}

}  // namespace velnoria
