#include "core/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace velnoria {

namespace {

constexpr std::array<unsigned char, 256> kFolded = [] {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    }
    return table;
}();

unsigned char folded(char c) {
    return kFolded[static_cast<unsigned char>(c)];
}

// Next place at or after from where byte occurs, or end.
const char* nextOf(const char* from, const char* end, unsigned char byte) {
    const void* at = std::memchr(from, byte, static_cast<std::size_t>(end - from));
    return at ? static_cast<const char*>(at) : end;
}

}  // namespace

std::string_view trim(std::string_view text, std::string_view blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameNoCase(text.substr(0, prefix.size()), prefix);
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return folded(x) == folded(y); });
}

std::size_t positionIgnoringCase(std::string_view text, std::string_view marker) {
    if (marker.empty()) return text.empty() ? 0 : 1;
    if (marker.size() > text.size()) return 0;
    const unsigned char lower = folded(marker[0]);
    const unsigned char upper = lower >= 'a' && lower <= 'z' ? lower - 'a' + 'A' : lower;
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - marker.size()) + 1;  // past the last start
    // The next candidate of each letter case is kept, so every byte is searched only once.
    const char* nextLower = nextOf(begin, last, lower);
    const char* nextUpper = upper == lower ? last : nextOf(begin, last, upper);
    while (nextLower != last || nextUpper != last) {
        const char* at;
        if (nextLower < nextUpper) {
            at = nextLower;
            nextLower = nextOf(at + 1, last, lower);
        } else {
            at = nextUpper;
            nextUpper = nextOf(at + 1, last, upper);
        }
        std::size_t k = 1;
        while (k < marker.size() && folded(at[k]) == folded(marker[k])) ++k;
        if (k == marker.size()) return static_cast<std::size_t>(at - begin) + 1;
    }
    return 0;
}

std::optional<std::int32_t> readContentLength(std::string_view value) {
    value = trim(value);
    if (value.empty()) return std::nullopt;
    std::int64_t number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
        if (number > INT32_MAX) return std::nullopt;  // also keeps long digit runs from overflowing
    }
    return static_cast<std::int32_t>(number);
}

int statusCode(std::string_view headerBlock) {
    std::string_view line = headerBlock.substr(0, headerBlock.find_first_of("\r\n"));
    if (!line.starts_with("HTTP/")) return 0;
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    line.remove_prefix(space + 1);
    while (line.starts_with(' ')) line.remove_prefix(1);
    if (line.size() < 3) return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        code = code * 10 + (line[i] - '0');
    }
    if (line.size() > 3 && line[3] != ' ') return 0;
    return code;
}

namespace {

// Calls visit(value) for every header of that name in the block, in order, until it returns
// false.
template <typename Visit>
void forEachHeaderValue(std::string_view headerBlock, std::string_view name, Visit visit) {
    if (name.empty()) return;
    constexpr std::string_view kLineBlanks = " \t\r\n";
    bool statusLine = true;
    while (!headerBlock.empty()) {
        const auto end = headerBlock.find('\n');
        const auto line = headerBlock.substr(0, end);
        headerBlock.remove_prefix(end == std::string_view::npos ? headerBlock.size() : end + 1);
        if (std::exchange(statusLine, false)) continue;
        const auto colon = line.find(':');
        if (colon != std::string_view::npos &&
            sameNoCase(trim(line.substr(0, colon), kLineBlanks), name) &&
            !visit(trim(line.substr(colon + 1), kLineBlanks))) {
            return;
        }
    }
}

}  // namespace

std::string headerValue(std::string_view headerBlock, std::string_view name) {
    std::string value;
    forEachHeaderValue(headerBlock, name, [&](std::string_view found) {
        value = std::string(found);
        return false;
    });
    return value;
}

std::string differingHeaderValues(std::string_view headerBlock, std::string_view name) {
    std::optional<std::string_view> first;
    std::string both;
    forEachHeaderValue(headerBlock, name, [&](std::string_view found) {
        if (!first) {
            first = found;
        } else if (found != *first) {
            both = std::string(*first) + " and " + std::string(found);
            return false;
        }
        return true;
    });
    return both;
}

bool isHtmlMediaType(std::string_view contentType) {
    const std::string_view type = trim(contentType.substr(0, contentType.find(';')), " \t");
    return sameNoCase(type, "text/html");
}

void HtmlStartSniffer::feed(std::string_view bytes) {
    // A byte order mark may stand first, as editors save pages.
    static constexpr std::string_view kStarts[] = {
        "<!doctype html", "<html", "\xEF\xBB\xBF<!doctype html", "\xEF\xBB\xBF<html"};
    for (const char c : bytes) {
        if (state_ == State::Html || state_ == State::Other) return;
        if (state_ == State::Blanks) {
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') continue;
            state_ = State::Matching;
        }
        matched_.push_back(static_cast<char>(folded(c)));
        bool possible = false;
        for (const std::string_view start : kStarts) {
            if (!start.starts_with(matched_)) continue;
            possible = true;
            if (matched_.size() == start.size()) {
                state_ = State::Html;
                return;
            }
        }
        if (!possible) state_ = State::Other;
    }
}

}  // namespace velnoria
