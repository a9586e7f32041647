#include "download/next_pages.h"

#include "core/printable.h"
#include "core/text.h"
#include "core/web_address.h"

namespace velnoria {

namespace {

constexpr std::size_t kLongestLogAddress = 2000;

// A page is the same page whatever part of it an address points at.
std::string pageKey(std::string_view address) {
    address = trim(address, " \t\r\n");
    return std::string(address.substr(0, address.find('#')));
}

}  // namespace

std::string oneLine(std::string_view text) {
    return printableText(text, kLongestLogAddress);
}

NextPages::NextPages(std::string_view firstPage, std::string_view foundAt, int maxPages)
    : maxPages_(maxPages) {
    read(firstPage, foundAt);
}

NextPages::Verdict NextPages::judge(std::string_view next) const {
    const std::string host = webHostName(next);
    if (host.empty()) return Verdict::NotWeb;
    // A thread read from a local file has no host of its own: its first web page sets it.
    if (!hosts_.empty() && hosts_.count(host) == 0) return Verdict::OtherHost;
    if (seen_.count(pageKey(next)) != 0) return Verdict::ReadBefore;
    if (pagesRead_ >= maxPages_) return Verdict::LimitReached;
    return Verdict::Follow;
}

void NextPages::read(std::string_view asked, std::string_view foundAt) {
    ++pagesRead_;
    for (const std::string_view address : {asked, foundAt}) {
        if (address.empty()) continue;
        seen_.insert(pageKey(address));
        if (std::string host = webHostName(address); !host.empty()) hosts_.insert(std::move(host));
    }
}

}  // namespace velnoria
