#include "download/text_ops.h"

#include <array>
#include <cstring>

namespace velnoria {

std::size_t positionOf(std::string_view text, std::string_view what) {
    const auto at = text.find(what);
    return at == std::string_view::npos ? 0 : at + 1;
}

namespace {

constexpr std::array<unsigned char, 256> kFolded = [] {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    }
    return table;
}();

// Next place at or after from where byte occurs, or end.
const char* nextOf(const char* from, const char* end, unsigned char byte) {
    const void* at = std::memchr(from, byte, static_cast<std::size_t>(end - from));
    return at ? static_cast<const char*>(at) : end;
}

}  // namespace

std::size_t positionIgnoringCase(std::string_view text, std::string_view marker) {
    if (marker.empty()) return text.empty() ? 0 : 1;
    if (marker.size() > text.size()) return 0;
    const unsigned char lower = kFolded[static_cast<unsigned char>(marker[0])];
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
        while (k < marker.size() && kFolded[static_cast<unsigned char>(at[k])] ==
                                        kFolded[static_cast<unsigned char>(marker[k])]) {
            ++k;
        }
        if (k == marker.size()) return static_cast<std::size_t>(at - begin) + 1;
    }
    return 0;
}

std::string replaceAll(std::string_view text, std::string_view what, std::string_view with) {
    if (what.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (;;) {
        const auto at = text.find(what, from);
        if (at == std::string_view::npos) break;
        out.append(text.substr(from, at - from));
        out.append(with);
        from = at + what.size();
    }
    out.append(text.substr(from));
    return out;
}

std::string replaceFirst(std::string_view text, std::string_view what, std::string_view with) {
    const auto at = what.empty() ? std::string_view::npos : text.find(what);
    if (at == std::string_view::npos) return std::string(text);
    std::string out(text.substr(0, at));
    out.append(with);
    out.append(text.substr(at + what.size()));
    return out;
}

std::string fromPosition(std::string_view text, long long p) {
    if (p < 1) return std::string(text);
    const auto start = static_cast<unsigned long long>(p - 1);
    if (start >= text.size()) return {};
    return std::string(text.substr(start));
}

std::string firstChars(std::string_view text, std::size_t m) {
    return std::string(text.substr(0, m));
}

std::string trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace velnoria
