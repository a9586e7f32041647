// The HTML reader of velnoria-get: any page is either read, within the parse's limits, or
// refused with a reason; what is read is a browser's view of the page. Run with a memory limit of
// its own (fuzz/CMakeLists.txt), so a page that gets past the limits ends the run.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/html/parsed_page.h"

namespace {

using velnoria::ParsedPage;
using velnoria::ParseLimits;

const ParseLimits kLimits{256u * 1024 * 1024, std::chrono::milliseconds(5000), {}};

void checkAddresses(const std::vector<std::string>& addresses) {
    for (const auto& address : addresses) {
        // A browser drops tabs and line ends from an address.
        FUZZ_CHECK(address.find_first_of("\t\r\n") == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(bytes), size);
    // The page starts with an image, so a page that is read has it first.
    const std::string html = "<img src=\"/first.jpg\">" + std::string(body);

    FUZZ_CHECK(velnoria::estimateNestingDepth(html) <= velnoria::kMaxNestingDepth + 1);

    ParsedPage page(html, "http://forum.test/board/thread?id=1", kLimits);
    FUZZ_CHECK(page.parseMemory() <= kLimits.memoryBytes);
    const auto images = page.imageSources();
    const auto links = page.linkTargets();
    if (!page.problem().empty()) {
        FUZZ_CHECK(images.empty() && links.empty());
        return 0;
    }
    FUZZ_CHECK(!images.empty() && images.size() <= ParsedPage::kMaxImages);
    FUZZ_CHECK(images.front().ends_with("/first.jpg"));
    checkAddresses(images);
    checkAddresses(links);

    // Reading the same page again gives the same.
    ParsedPage again(html, "http://forum.test/board/thread?id=1", kLimits);
    FUZZ_CHECK(again.imageSources() == images && again.linkTargets() == links);
    return 0;
}
