#include "platform/html/parsed_page.h"

#include <gumbo.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <unordered_map>
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

// Every allocation of one parse, carved from large blocks that are freed together when the
// arena goes: the parse is held to its limits, and a parse stopped half-way leaves nothing
// behind. The parser is C and cannot be told to give up, so a passed limit leaves it by longjmp
// from inside an allocation; no C++ frame with anything to destroy lies in between.
class ParseArena {
  public:
    enum class Passed { Nothing, Memory, Time, Interrupted };

    explicit ParseArena(const ParseLimits& limits) : limits_(limits), start_(processorTime()) {}
    ~ParseArena() {
        while (blocks_ != nullptr) std::free(std::exchange(blocks_, blocks_->next));
    }
    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    static void* allocate(void* self, std::size_t size) {
        return static_cast<ParseArena*>(self)->take(size);
    }
    static void deallocate(void*, void*) {}  // freed with the arena

    std::size_t used() const { return used_; }
    Passed passed() const { return passed_; }
    std::jmp_buf limitPassed;

  private:
    // The head of a block; its bytes follow at kHead.
    struct Block {
        Block* next;
    };
    static constexpr std::size_t kAlign = alignof(std::max_align_t);
    static constexpr std::size_t kHead = (sizeof(Block) + kAlign - 1) / kAlign * kAlign;
    static constexpr std::size_t kBlockBytes = 1 << 20;
    static constexpr unsigned kTimeCheckEvery = 4096;  // allocations between two clock readings

    static std::chrono::nanoseconds processorTime() {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    }

    [[noreturn]] void stop(Passed what) {
        passed_ = what;
        std::longjmp(limitPassed, 1);
    }

    void* take(std::size_t size) {
        size = (std::max<std::size_t>(size, 1) + kAlign - 1) / kAlign * kAlign;
        if (++allocations_ % kTimeCheckEvery == 0) {
            if (processorTime() - start_ > limits_.processorTime) stop(Passed::Time);
            if (limits_.interrupted && limits_.interrupted()) stop(Passed::Interrupted);
        }
        if (size > left_) {
            const std::size_t blockSize = std::max(size, kBlockBytes);
            if (blockSize > limits_.memoryBytes - std::min(used_, limits_.memoryBytes)) {
                stop(Passed::Memory);
            }
            auto* bytes = static_cast<unsigned char*>(std::malloc(kHead + blockSize));
            if (bytes == nullptr) stop(Passed::Memory);
            auto* block = reinterpret_cast<Block*>(bytes);
            block->next = blocks_;
            blocks_ = block;
            used_ += blockSize;
            next_ = bytes + kHead;
            left_ = blockSize;
        }
        void* at = next_;
        next_ += size;
        left_ -= size;
        return at;
    }

    ParseLimits limits_;
    std::chrono::nanoseconds start_;
    Block* blocks_ = nullptr;
    unsigned char* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t used_ = 0;
    unsigned long allocations_ = 0;
    Passed passed_ = Passed::Nothing;
};

// The whole parse, or nullptr when the arena stopped it.
GumboOutput* parseWithin(ParseArena& arena, const GumboOptions& options, std::string_view html) {
    if (setjmp(arena.limitPassed) != 0) return nullptr;
    return gumbo_parse_with_options(&options, html.data(), html.size());
}

std::string megabytes(std::size_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

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

// The text of an element's text children, as document.title gives it: runs of ASCII white space
// made one blank, none at either end.
std::string titleText(const GumboElement& element) {
    std::string text;
    bool blank = false;
    const GumboVector& children = element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (child->type != GUMBO_NODE_TEXT && child->type != GUMBO_NODE_WHITESPACE &&
            child->type != GUMBO_NODE_CDATA) {
            continue;
        }
        for (const char* c = child->v.text.text; *c != '\0'; ++c) {
            if (std::string_view(" \t\n\f\r").find(*c) != std::string_view::npos) {
                blank = !text.empty();
            } else {
                if (blank) text += ' ';
                blank = false;
                text += *c;
            }
        }
    }
    return text;
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

ParsedPage::ParsedPage(std::string_view html, const std::string& documentUrl, ParseLimits limits) {
    const std::string documentAddress = resolveUrl("", documentUrl);
    documentAddress_ = documentAddress;
    ParseArena arena(limits);
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParseArena::allocate;
    options.deallocator = &ParseArena::deallocate;
    options.userdata = &arena;
    // Each parse error would keep a copy of the open elements: a page of stray end tags below a
    // deep nesting took gigabytes. Nobody reads them.
    options.max_errors = 0;
    const GumboOutput* output = parseWithin(arena, options, html);
    parseMemory_ = arena.used();
    switch (arena.passed()) {
        case ParseArena::Passed::Memory:
            problem_ = "the page needs more than " + megabytes(limits.memoryBytes) + " to read";
            return;
        case ParseArena::Passed::Time:
            problem_ = "the page takes more than " +
                       std::to_string(limits.processorTime.count() / 1000) +
                       " s of processor time to read";
            return;
        case ParseArena::Passed::Interrupted:
            problem_ = "stopped";
            return;
        case ParseArena::Passed::Nothing:
            break;
    }

    std::optional<std::string> baseHref;
    std::optional<std::string> nextHref;
    bool titleFound = false;
    // In document order, resolved once the base is known: an image's src and the href of the
    // link around it, or a link's href.
    struct Found {
        bool isImage = false;
        std::optional<std::string> value;
        std::optional<std::string> link;
    };
    std::vector<Found> found;
    std::size_t imageCount = 0;
    if (output != nullptr) {
        forEachElement(output->root, [&](const GumboElement& element, const GumboElement* link) {
            if (isHtml(element, GUMBO_TAG_TITLE) && !titleFound) {
                titleFound = true;
                title_ = titleText(element);
            }
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
    // The open elements by name, with a count per name, so that an end tag closes only what is
    // open: the parser passes over a stray one, which must not lower the depth here either.
    std::vector<std::string> open;
    std::unordered_map<std::string, std::size_t> openCount;
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
            if (openCount[name] == 0) continue;
            for (;;) {
                const std::string last = std::move(open.back());
                open.pop_back();
                --openCount[last];
                if (last == name) break;
            }
            if (foreignFrom != kNone && open.size() <= foreignFrom) foreignFrom = kNone;
            continue;
        }
        // "<div/>" opens a div all the same; only svg and math content closes itself that way.
        if (selfClosed && foreignFrom != kNone) continue;
        if (holdsRawText(name)) {
            // Its text runs to its own end tag, which closes it: it holds no elements.
            const std::size_t close = findNoCase(html, "</" + name, i);
            if (close == std::string_view::npos) break;
            const std::size_t closeEnd = html.find('>', close);
            if (closeEnd == std::string_view::npos) break;
            i = closeEnd + 1;
            continue;
        }
        if ((name == "svg" || name == "math") && foreignFrom == kNone) foreignFrom = open.size();
        ++openCount[name];
        open.push_back(std::move(name));
        deepest = std::max(deepest, open.size());
        if (deepest > kMaxNestingDepth) break;
    }
    return deepest;
}

}  // namespace velnoria
