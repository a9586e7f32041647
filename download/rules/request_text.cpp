#include "download/rules/request_text.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace velnoria {

namespace {

bool isTokenCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// The pairs of a cookie text, each with its offset, blanks around it left out.
struct Pair {
    std::size_t offset = 0;
    std::string_view text;
};

std::vector<Pair> cookiePairs(std::string_view cookies) {
    std::vector<Pair> pairs;
    std::size_t start = 0;
    while (start <= cookies.size()) {
        const std::size_t end = std::min(cookies.find(';', start), cookies.size());
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && (cookies[first] == ' ' || cookies[first] == '\t')) ++first;
        while (last > first && (cookies[last - 1] == ' ' || cookies[last - 1] == '\t')) --last;
        if (last > first) pairs.push_back({first, cookies.substr(first, last - first)});
        start = end + 1;
    }
    return pairs;
}

}  // namespace

std::optional<std::size_t> lineBreakOrNul(std::string_view text) {
    const std::size_t at = text.find_first_of(std::string_view("\r\n\0", 3));
    if (at == std::string_view::npos) return std::nullopt;
    return at;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

std::optional<TextFault> cookiesFault(std::string_view cookies) {
    const std::vector<Pair> pairs = cookiePairs(cookies);
    if (pairs.empty()) return TextFault{0, "names no cookie; write name=value pairs"};
    for (const Pair& pair : pairs) {
        const std::size_t equals = pair.text.find('=');
        if (equals == std::string_view::npos) {
            return TextFault{pair.offset, "a cookie without `=`; write name=value pairs"};
        }
        const std::string_view name = pair.text.substr(0, equals);
        if (!isToken(name)) {
            const auto bad = std::find_if_not(name.begin(), name.end(), isTokenCharacter);
            const std::size_t at =
                name.empty() ? pair.offset
                             : pair.offset + static_cast<std::size_t>(bad - pair.text.begin());
            return TextFault{at, name.empty() ? "a cookie without a name"
                                              : "a cookie name may hold only letters, digits and "
                                                "!#$%&'*+-.^_`|~"};
        }
        const std::string_view value = pair.text.substr(equals + 1);
        const auto control = std::find_if(value.begin(), value.end(), isControl);
        if (control != value.end()) {
            return TextFault{
                pair.offset + equals + 1 + static_cast<std::size_t>(control - value.begin()),
                *control == '\r' || *control == '\n'
                    ? "a line break in a cookie would end the header line"
                    : "a cookie value may not hold a control character"};
        }
    }
    return std::nullopt;
}

std::string cookiesToSend(std::string_view cookies) {
    std::string out;
    for (const Pair& pair : cookiePairs(cookies)) {
        if (!out.empty()) out += "; ";
        out += pair.text;
    }
    return out;
}

bool isSha256Hex(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c));
           });
}

}  // namespace velnoria
