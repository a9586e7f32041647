#include "cli/markup_depth.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace velnoria {

namespace {

bool isOneOf(const std::string& name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements that never hold others, or that the parser closes by itself when a sibling starts.
bool addsNoDepth(const std::string& name) {
    return isOneOf(name, {"area",     "base",   "br",     "col",      "embed", "hr",     "img",
                          "image",    "input",  "link",   "meta",     "param", "source", "track",
                          "wbr",      "keygen", "p",      "li",       "dt",    "dd",     "td",
                          "th",       "tr",     "option", "optgroup", "tbody", "thead",  "tfoot",
                          "colgroup", "rb",     "rt",     "rp",       "html",  "head",   "body"});
}

bool holdsRawText(const std::string& name) {
    return isOneOf(
        name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from) {
    const auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                                needle.begin(), needle.end(), [](char a, char b) {
                                    return std::tolower(static_cast<unsigned char>(a)) ==
                                           std::tolower(static_cast<unsigned char>(b));
                                });
    return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

}  // namespace

std::size_t estimateNestingDepth(std::string_view html) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t depth = 0;
    std::size_t deepest = 0;
    std::size_t foreignFrom = kNone;  // depth below an open svg or math element
    std::size_t i = 0;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        if (html.substr(i, 4) == "<!--") {
            const std::size_t end = html.find("-->", i + 4);
            if (end == std::string_view::npos) break;
            i = end + 3;
            continue;
        }
        const bool closing = i + 1 < html.size() && html[i + 1] == '/';
        std::size_t k = i + 1 + (closing ? 1 : 0);
        std::string name;
        while (k < html.size() && std::isalnum(static_cast<unsigned char>(html[k]))) {
            name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(html[k]))));
            ++k;
        }
        if (name.empty()) {
            ++i;
            continue;
        }
        const std::size_t end = html.find('>', k);
        if (end == std::string_view::npos) break;
        const bool selfClosed = html[end - 1] == '/';
        i = end + 1;
        if (addsNoDepth(name)) continue;
        if (closing) {
            if (depth > 0) --depth;
            if (foreignFrom != kNone && depth <= foreignFrom) foreignFrom = kNone;
            continue;
        }
        // "<div/>" opens a div all the same; only svg and math content closes itself that way.
        if (selfClosed && foreignFrom != kNone) continue;
        if (holdsRawText(name)) {
            const std::size_t close = findNoCase(html, "</" + name, i);
            if (close == std::string_view::npos) break;
            i = close;
            continue;
        }
        if ((name == "svg" || name == "math") && foreignFrom == kNone) foreignFrom = depth;
        deepest = std::max(deepest, ++depth);
    }
    return deepest;
}

}  // namespace velnoria
