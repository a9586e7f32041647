#include "cli/parsed_page.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>

#include "core/text.h"
#include "platform/curl/url_resolution.h"

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
    const std::size_t at = positionIgnoringCase(text.substr(from), needle);
    return at == 0 ? std::string_view::npos : from + at - 1;
}

struct GumboDeleter {
    void operator()(GumboOutput* output) const {
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
};

bool isHtml(const GumboElement& element, GumboTag tag) {
    return element.tag == tag && element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

std::optional<std::string> attribute(const GumboElement& element, const char* name) {
    const GumboAttribute* found = gumbo_get_attribute(&element.attributes, name);
    if (found == nullptr) return std::nullopt;
    return std::string(found->value);
}

// Whether a rel attribute's space-separated tokens name "next" (ASCII letter case ignored).
bool relNamesNext(std::string_view rel) {
    constexpr std::string_view kSpaces = " \t\n\f\r";
    while (!rel.empty()) {
        const std::size_t start = rel.find_first_not_of(kSpaces);
        if (start == std::string_view::npos) break;
        rel.remove_prefix(start);
        const std::size_t end = std::min(rel.size(), rel.find_first_of(kSpaces));
        if (sameNoCase(rel.substr(0, end), "next")) return true;
        rel.remove_prefix(end);
    }
    return false;
}

// Elements in document order, each with the nearest a element around it that has an href (or
// nullptr). Template contents and, since a browser runs scripts, noscript contents are not part
// of the document's collections.
template <typename Visit>
void forEachElement(const GumboNode* root, Visit visit) {
    std::vector<std::pair<const GumboNode*, const GumboElement*>> stack{{root, nullptr}};
    while (!stack.empty()) {
        const auto [node, link] = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT) continue;
        const GumboElement& element = node->v.element;
        visit(element, link);
        if (isHtml(element, GUMBO_TAG_NOSCRIPT)) continue;
        const bool isLink = isHtml(element, GUMBO_TAG_A) &&
                            gumbo_get_attribute(&element.attributes, "href") != nullptr;
        const GumboVector& children = element.children;
        for (unsigned i = children.length; i > 0; --i) {
            stack.emplace_back(static_cast<const GumboNode*>(children.data[i - 1]),
                               isLink ? &element : link);
        }
    }
}

}  // namespace

ParsedPage::ParsedPage(std::string_view html, const std::string& documentUrl) {
    const std::string documentAddress = resolveUrl("", documentUrl);
    documentAddress_ = documentAddress;
    std::unique_ptr<GumboOutput, GumboDeleter> output(
        gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size()));

    std::optional<std::string> baseHref;
    std::optional<std::string> nextHref;
    // In document order, resolved once the base is known: an image's src and the href of the
    // link around it, or a link's href.
    struct Found {
        bool isImage = false;
        std::optional<std::string> value;
        std::optional<std::string> link;
    };
    std::vector<Found> found;
    std::size_t imageCount = 0;
    if (output) {
        forEachElement(output->root, [&](const GumboElement& element, const GumboElement* link) {
            if (isHtml(element, GUMBO_TAG_BASE)) {
                if (!baseHref) baseHref = attribute(element, "href");
            } else if (isHtml(element, GUMBO_TAG_IMG)) {
                if (imageCount++ < kMaxImages) {
                    found.push_back({true, attribute(element, "src"),
                                     link ? attribute(*link, "href") : std::nullopt});
                }
            } else if (isHtml(element, GUMBO_TAG_A) || isHtml(element, GUMBO_TAG_AREA)) {
                if (auto href = attribute(element, "href")) found.push_back({false, href, {}});
            }
            if (!nextHref && (isHtml(element, GUMBO_TAG_LINK) || isHtml(element, GUMBO_TAG_A))) {
                const auto rel = attribute(element, "rel");
                if (rel && relNamesNext(*rel)) nextHref = attribute(element, "href");
            }
        });
    }

    baseUrl_ = baseHref ? resolveUrl(documentAddress, *baseHref) : documentAddress;
    if (nextHref) nextPage_ = resolveUrl(baseUrl_, *nextHref);
    for (const Found& item : found) {
        if (item.isImage) {
            // An img without src reports "" and still takes its place in the list.
            images_.push_back(item.value ? resolveUrl(baseUrl_, *item.value) : std::string());
            imageLinks_.push_back(item.link ? resolveUrl(baseUrl_, *item.link) : std::string());
        } else {
            links_.push_back(resolveUrl(baseUrl_, *item.value));
        }
    }
}

std::vector<ImageInLink> ParsedPage::imagesWithLinks() {
    std::vector<ImageInLink> result;
    result.reserve(images_.size());
    for (std::size_t i = 0; i < images_.size(); ++i) result.push_back({images_[i], imageLinks_[i]});
    return result;
}

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
