#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

// A host rule: looks at the address its slot took and hands the per-file download the
// full-size file (one, several or none: a rule declines by doing nothing).
using HostRule = void (*)(JobContext& job, const std::string& address);

// One slot of the host table.
struct HostSlot {
    std::string_view service;  // the service's name, for people reading the table
    std::string_view key;      // found anywhere in an address, case-sensitive; "" = empty slot
    HostRule rule = nullptr;   // none: the slot takes its addresses and does nothing with them
};

// The built-in services, slots 1 to 18 in order (host_rules.cpp).
std::span<const HostSlot> builtInHostSlots();

// Which rule takes an address. The table has 30 slots; the built-in services fill the first 18
// and the rest stay empty. The first slot whose key occurs in the address takes it, even when
// its rule then declines, so an address is never offered to a later slot; the scan over the
// slots ends at the first empty one.
class HostRegistry {
  public:
    static constexpr std::size_t kSlots = 30;

    HostRegistry();

    // The slot that takes address, or nullptr when none does.
    const HostSlot* slotFor(std::string_view address) const;

  private:
    std::array<HostSlot, kSlots> slots_{};
};

}  // namespace velnoria
