#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "download/job_context.h"
#include "download/page_reads.h"
#include "download/rules/file_rule.h"

namespace velnoria {

// A host rule: looks at the address its slot took and hands the per-file download the
// full-size file (one, several or none: a rule declines by doing nothing).
using HostRule = void (*)(JobContext& job, const std::string& address);
// What the rule will read for an address before it runs (none: nothing), so that the page can be
// asked for ahead.
using HostPlan = std::optional<PagePlan> (*)(const JobContext& job, const std::string& address);

// One slot of the host table.
struct HostSlot {
    std::string_view service;  // the service's name, for people reading the table
    std::string_view key;      // found anywhere in an address, case-sensitive; "" = empty slot
    HostRule rule = nullptr;   // none: the slot takes its addresses and does nothing with them
    HostPlan plan = nullptr;   // none: the rule reads no page
    bool endsWalk = false;     // the rule ends the walk: nothing after it is looked at ahead
    // Whether an address is a thumbnail the rule turns into a full-size one, as opposed to a
    // full-size address of the service (a retry downloads those as they stand). None: never.
    bool (*isThumbnail)(const std::string& address) = nullptr;
};

// The built-in services, slots 1 to 18 in order (host_rules.cpp).
std::span<const HostSlot> builtInHostSlots();

// What takes an image: a rule of the rules file, or else a slot of the table.
struct HostChoice {
    RuleSet::Taken fileRule;         // fileRule.rule is set when a rule of the rules file takes it
    const HostSlot* slot = nullptr;  // else the slot that takes it, if any
};

// Which rule takes an address. The rules of a rules file come first, in the file's order: the
// user wrote them on purpose, so one may take over a built-in service. Then the table: 30 slots,
// the built-in services fill the first 18 and the rest stay empty. The first slot whose key
// occurs in the address takes it, even when its rule then declines, so an address is never
// offered to a later slot; the scan over the slots ends at the first empty one. A rule of the
// file that takes an address likewise keeps it from the table.
class HostRegistry {
  public:
    static constexpr std::size_t kSlots = 30;

    // The rules of a rules file before the table; none (or an empty set) gives the table alone.
    explicit HostRegistry(std::shared_ptr<const RuleSet> fileRules = nullptr);

    // The slot that takes address, or nullptr when none does.
    const HostSlot* slotFor(std::string_view address) const;

    // What takes an image with this address inside a link with that address ("" outside any
    // link).
    HostChoice choose(std::string_view image, std::string_view link) const;

    // Whether some rule needs the link around each image.
    bool needsLinks() const { return fileRules_ != nullptr && fileRules_->testsLinks(); }

  private:
    std::shared_ptr<const RuleSet> fileRules_;
    std::array<HostSlot, kSlots> slots_{};
};

}  // namespace velnoria
