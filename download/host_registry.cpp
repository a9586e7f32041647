#include "download/host_registry.h"

#include <algorithm>
#include <utility>

namespace velnoria {

HostRegistry::HostRegistry(std::shared_ptr<const RuleSet> fileRules)
    : fileRules_(std::move(fileRules)) {
    if (fileRules_ != nullptr && fileRules_->empty()) fileRules_.reset();
    const std::span<const HostSlot> builtIn = builtInHostSlots();
    std::copy_n(builtIn.begin(), std::min(builtIn.size(), kSlots), slots_.begin());
}

const HostSlot* HostRegistry::slotFor(std::string_view address) const {
    for (const HostSlot& slot : slots_) {
        if (slot.key.empty()) break;
        if (address.find(slot.key) != std::string_view::npos) return &slot;
    }
    return nullptr;
}

HostChoice HostRegistry::choose(std::string_view image, std::string_view link) const {
    HostChoice choice;
    if (fileRules_ != nullptr) {
        choice.fileRule = fileRules_->firstTaking(image, link);
        if (choice.fileRule.rule != nullptr) return choice;
    }
    choice.slot = slotFor(image);
    return choice;
}

}  // namespace velnoria
