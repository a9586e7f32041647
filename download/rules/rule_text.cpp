#include "download/rules/rule_text.h"

#include <cstdint>
#include <vector>

namespace velnoria {

namespace {
constexpr int kLastPosition = 32767;  // largest 16-bit signed position
}

std::string field(std::string_view text, int n, std::string_view delimiter) {
    if (text.empty()) return {};
    const auto length = static_cast<std::int64_t>(text.size());
    const bool oneChar = delimiter.size() == 1;
    std::int64_t count = 0;
    std::int64_t start = 0;  // position of the delimiter before field n; 0 for field 1
    std::int64_t p = 1;
    for (;;) {
        if (p <= length && oneChar && text[p - 1] == delimiter[0]) {
            ++count;
            if (count + 1 == n) start = p;  // not n - 1: that overflows for the lowest int
        }
        if (p == length + 1) {
            ++count;  // the end closes the last field
            break;
        }
        if (count == n) break;
        if (p == kLastPosition) throw TextPositionOverflow();
        ++p;
    }
    if (count != n || n < 1) return {};
    return std::string(text.substr(start, p - start - 1));
}

std::string lastField(std::string_view text, std::string_view delimiter) {
    if (text.empty()) return {};
    // Same result and the same overflow as calling field() for fields k + 1, k + 2 and k, but
    // with the delimiters found once: field()'s walk per field would make this quadratic.
    std::vector<std::int64_t> delimiters;  // 1-based positions
    if (delimiter.size() == 1) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == delimiter[0]) delimiters.push_back(static_cast<std::int64_t>(i) + 1);
        }
    }
    const auto count = static_cast<std::int64_t>(delimiters.size());
    const auto length = static_cast<std::int64_t>(text.size());
    // Where field()'s walk for field n stops: at the n-th delimiter, or one past the end.
    auto stop = [&](std::int64_t n) { return n <= count ? delimiters[n - 1] : length + 1; };
    auto field = [&](std::int64_t n) -> std::string_view {
        if (stop(n) > kLastPosition) throw TextPositionOverflow();
        if (n > count + 1) return {};
        const std::int64_t start = n == 1 ? 0 : delimiters[n - 2];
        return text.substr(start, stop(n) - start - 1);
    };
    for (std::int64_t k = 1;; ++k) {
        const bool nextEmpty = field(k + 1).empty();
        const bool afterEmpty = field(k + 2).empty();
        if (nextEmpty && afterEmpty) return std::string(field(k));
    }
}

std::size_t positionOf(std::string_view text, std::string_view what) {
    const auto at = text.find(what);
    return at == std::string_view::npos ? 0 : at + 1;
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

}  // namespace velnoria
