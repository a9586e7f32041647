#include "download/next_pages.h"

#include <algorithm>

#include "core/text.h"

namespace velnoria {

namespace {

constexpr std::size_t kLongestLogAddress = 2000;

// A page is the same page whatever part of it an address points at.
std::string pageKey(std::string_view address) {
    address = trim(address, " \t\r\n");
    return std::string(address.substr(0, address.find('#')));
}

}  // namespace

std::string webHostName(std::string_view address) {
    address = trim(address, " \t\r\n");
    std::size_t start = 0;
    if (startsWithNoCase(address, "http://")) {
        start = 7;
    } else if (startsWithNoCase(address, "https://")) {
        start = 8;
    } else {
        return {};
    }
    std::string_view rest = address.substr(start);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
    if (!rest.empty() && rest.front() == '[') {
        rest = rest.substr(0, rest.find(']') + 1);
    } else {
        rest = rest.substr(0, rest.find(':'));
    }
    std::string host(rest);
    std::transform(host.begin(), host.end(), host.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return host;
}

std::string oneLine(std::string_view text) {
    std::string line(text.substr(0, kLongestLogAddress));
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '?';
    }
    if (text.size() > kLongestLogAddress) line += "...";
    return line;
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
