#include "download/host_registry.h"

#include <algorithm>

namespace velnoria {

HostRegistry::HostRegistry() {
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

}  // namespace velnoria
