#include "platform/curl/response_header_block.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace velnoria {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Whether libcurl goes on after this response: interim answers, and redirects it follows.
bool leadsFurther(std::string_view block) {
    const int status = statusCodeOf(block);
    if (status >= 100 && status < 200) return true;
    const bool redirect = status >= 300 && status < 400 && status != 304;
    return redirect && !headerValue(block, "Location").empty();
}

}  // namespace

ResponseHeaderBlock::Step ResponseHeaderBlock::add(std::string_view line) {
    if (line.starts_with("HTTP/")) block_.clear();  // a new response starts
    if (block_.size() + line.size() > kMaxBytes) return Step::TooLarge;
    block_.append(line);
    if (trim(line).empty() && !leadsFurther(block_)) return Step::Final;
    return Step::More;
}

int statusCodeOf(std::string_view block) {
    if (!block.starts_with("HTTP/")) return 0;
    const auto space = block.find(' ');
    if (space == std::string_view::npos) return 0;
    int code = 0;
    int digits = 0;
    for (auto i = space + 1; i < block.size() && digits < 3; ++i, ++digits) {
        if (!std::isdigit(static_cast<unsigned char>(block[i]))) return 0;
        code = code * 10 + (block[i] - '0');
    }
    return digits == 3 ? code : 0;
}

std::string headerValue(std::string_view block, std::string_view name) {
    if (name.empty()) return {};
    bool statusLine = true;
    while (!block.empty()) {
        const auto end = block.find('\n');
        const auto line = block.substr(0, end);
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
        if (std::exchange(statusLine, false)) continue;
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && sameName(trim(line.substr(0, colon)), name)) {
            return std::string(trim(line.substr(colon + 1)));
        }
    }
    return {};
}

}  // namespace velnoria
