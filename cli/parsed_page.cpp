#include "cli/parsed_page.h"

#include <gumbo.h>

#include <memory>
#include <optional>

#include "cli/url_resolution.h"

namespace velnoria {

namespace {

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

// Elements in document order. Template contents and, since a browser runs scripts, noscript
// contents are not part of the document's collections.
template <typename Visit>
void forEachElement(const GumboNode* root, Visit visit) {
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT) continue;
        const GumboElement& element = node->v.element;
        visit(element);
        if (isHtml(element, GUMBO_TAG_NOSCRIPT)) continue;
        const GumboVector& children = element.children;
        for (unsigned i = children.length; i > 0; --i) {
            stack.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
        }
    }
}

}  // namespace

ParsedPage::ParsedPage(std::string_view html, const std::string& documentUrl) {
    const std::string documentAddress = resolveUrl("", documentUrl);
    std::unique_ptr<GumboOutput, GumboDeleter> output(
        gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size()));

    std::optional<std::string> baseHref;
    // (is an image, its attribute), in document order; resolved once the base is known.
    std::vector<std::pair<bool, std::optional<std::string>>> found;
    std::size_t imageCount = 0;
    if (output) {
        forEachElement(output->root, [&](const GumboElement& element) {
            if (isHtml(element, GUMBO_TAG_BASE)) {
                if (!baseHref) baseHref = attribute(element, "href");
            } else if (isHtml(element, GUMBO_TAG_IMG)) {
                if (imageCount++ < kMaxImages) found.emplace_back(true, attribute(element, "src"));
            } else if (isHtml(element, GUMBO_TAG_A) || isHtml(element, GUMBO_TAG_AREA)) {
                if (auto href = attribute(element, "href")) found.emplace_back(false, href);
            }
        });
    }

    baseUrl_ = baseHref ? resolveUrl(documentAddress, *baseHref) : documentAddress;
    for (const auto& [isImage, value] : found) {
        if (isImage) {
            // An img without src reports "" and still takes its place in the list.
            images_.push_back(value ? resolveUrl(baseUrl_, *value) : std::string());
        } else {
            links_.push_back(resolveUrl(baseUrl_, *value));
        }
    }
}

}  // namespace velnoria
