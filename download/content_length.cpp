#include "download/content_length.h"

namespace velnoria {

std::optional<std::int32_t> readContentLength(std::string_view value) {
    constexpr std::string_view kBlanks = " \t";
    const auto first = value.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return std::nullopt;
    value = value.substr(first, value.find_last_not_of(kBlanks) - first + 1);

    std::int64_t number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
        if (number > INT32_MAX) return std::nullopt;  // also keeps long digit runs from overflowing
    }
    return static_cast<std::int32_t>(number);
}

}  // namespace velnoria
