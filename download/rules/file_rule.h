#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace re2 {
class RE2;
}

namespace velnoria {

// What one search of a pattern found: each capture, in order.
struct Captures {
    std::vector<std::string> groups;                    // [n] capture n; [0] is left empty
    const std::map<std::string, int>* names = nullptr;  // the pattern's named captures
    bool cut = false;       // a capture was longer than the search allowed and is cut short
    std::size_t start = 0;  // where the hit begins in the text searched
    std::size_t end = 0;    // and where it ends (one past its last byte)

    // A named capture; nullptr when the pattern has no capture of that name.
    const std::string* named(std::string_view name) const;
};

// The first place the pattern occurs in text, with its captures (a capture that took part in no
// match is ""); nothing when it does not occur. A capture longer than maxGroupBytes is cut to that
// length (and `cut` is set), so a hostile page cannot make one huge copy.
std::optional<Captures> searchCaptures(const re2::RE2& pattern, std::string_view text,
                                       std::size_t maxGroupBytes = SIZE_MAX);

// The same for a hit that lies within text[from, to): the text around that part still counts for
// `^`, `$` and `\b`, so a hit found there is one the whole text has.
std::optional<Captures> searchCaptures(const re2::RE2& pattern, std::string_view text,
                                       std::size_t from, std::size_t to, std::size_t maxGroupBytes);

// A text with places for captures, taken apart once when the rules file is read:
// "$1" to "$9" or "${12}" (the captures of `match`), "${name}" (a named capture of `match`, and
// in a file name also of `find`), "$$" (a dollar sign).
class CaptureTemplate {
  public:
    struct Part {
        enum class Kind { Text, Numbered, Named };
        Kind kind = Kind::Text;
        std::string text;  // Text: the text; Named: the capture's name
        int number = 0;    // Numbered: from 1
    };

    // Where a template cannot be used, and why.
    struct Error {
        std::size_t offset = 0;  // byte offset of the faulty place in the template's text
        std::string message;
    };

    // What the captures of a rule offer a template.
    struct Scope {
        int matchGroups = 0;
        const std::map<std::string, int>* matchNames = nullptr;
        const std::map<std::string, int>* findNames = nullptr;  // only for a file name
    };

    CaptureTemplate() = default;
    // Takes the text apart; on a fault `error` tells where and why.
    static CaptureTemplate parse(std::string_view text, const Scope& scope,
                                 std::optional<Error>& error);

    // The text with the captures filled in; a named capture of `find` comes before one of
    // `match` of the same name. Nothing when the text would grow past maxBytes (a template that
    // repeats a long capture must not eat the memory).
    std::optional<std::string> expand(const Captures& match, const Captures* find = nullptr,
                                      std::size_t maxBytes = kMaxExpandedBytes) const;

    static constexpr std::size_t kMaxExpandedBytes = 64 * 1024;

    bool empty() const { return parts_.empty(); }
    const std::vector<Part>& parts() const { return parts_; }

  private:
    std::vector<Part> parts_;
};

// What a rule's pattern is tested against: the image's address, or the link around the image.
enum class RuleSubject { Image, Link };

// A request header a rule adds to its page requests.
struct RuleHeader {
    std::string name;       // a token, as written in the file
    CaptureTemplate value;  // over the captures of `match`
};

// What a rule sends with its requests, with the captures of `match` filled in.
struct RuleRequest {
    std::string cookies;               // "name=value; name2=value2" for every request; "" none
    std::optional<std::string> visit;  // read before `page` (or the file) for its cookies
    std::optional<std::string> form;   // `page` is requested with POST and this body
    std::vector<std::pair<std::string, std::string>> headers;  // for `visit` and `page`
    std::optional<std::string> referer;  // for every request of the rule: "" for none; when
                                         // unset, the Referer any request has
};

// One rule of a rules file, ready to use: its pattern compiled and its templates taken apart.
// A rewrite builds the full-size address from the captures at once; a page search fetches a page
// and takes the full-size address from the first capture of the first hit of `find`, or builds
// it with `full` from what the hit captured.
struct FileRule {
    std::string name;
    int line = 0;  // where the rule starts in its file
    RuleSubject subject = RuleSubject::Image;
    std::shared_ptr<const re2::RE2> match;
    CaptureTemplate full;                  // a rewrite, or with fullFromHit the hit's address
    CaptureTemplate page;                  // a page search ...
    std::shared_ptr<const re2::RE2> find;  // ... and its pattern (set only for a page search)
    std::optional<CaptureTemplate> fileName;

    // For hosts that want more than a plain request.
    bool fullFromHit = false;  // `full` stands beside `page` and `find`: a template over the hit
    bool all = false;          // every hit of `find` is a file, in page order
    std::string cookies;       // as sent ("a=1; b=2"), with every request of the rule; "" none
    std::optional<CaptureTemplate> visit;    // an address read first, for the cookies it sets
    std::optional<CaptureTemplate> form;     // the body of a POST of `page`
    std::vector<RuleHeader> headers;         // added to the requests of `visit` and `page`
    std::optional<CaptureTemplate> referer;  // the Referer of the rule's requests ("" for none)
    std::vector<std::uint64_t> placeholderSizes;  // an answer of one of these sizes ...
    std::vector<std::string> placeholderSha256;   // ... or SHA-256 hashes (64 lowercase hex
                                                  // digits) is the host's placeholder picture

    bool isPageSearch() const { return find != nullptr; }

    // The full-size address: for a rewrite `full` over the captures of `match` (hit is not
    // looked at); for a page search `full` over those of the hit and of `match` when
    // fullFromHit, else the hit's first capture. Nothing without a hit for a page search, or
    // when the address would be longer than CaptureTemplate::kMaxExpandedBytes.
    std::optional<std::string> fullAddress(const Captures& match,
                                           const Captures* hit = nullptr) const;

    // What the rule sends with its requests for these captures. Nothing when a text would grow
    // past CaptureTemplate::kMaxExpandedBytes, or a header value or the Referer would hold a
    // CR, LF or NUL (which a capture can bring); `problem` then says which.
    std::optional<RuleRequest> request(const Captures& match, std::string& problem) const;

    // Whether an answer of this size, or (when the rule lists hashes) of this SHA-256 hash in
    // hexadecimal, either letter case, is the host's placeholder picture.
    bool isPlaceholder(std::uint64_t size, std::string_view sha256Hex = {}) const;
    bool hasPlaceholders() const { return !placeholderSizes.empty() || !placeholderSha256.empty(); }
};

// The good rules of a rules file, in the file's order.
class RuleSet {
  public:
    RuleSet() = default;
    explicit RuleSet(std::vector<FileRule> rules);

    const std::vector<FileRule>& rules() const { return rules_; }
    bool empty() const { return rules_.empty(); }
    // Whether some rule looks at the link around an image.
    bool testsLinks() const { return testsLinks_; }

    struct Taken {
        const FileRule* rule = nullptr;  // nullptr: no rule takes the image
        Captures captures;               // of the rule's pattern in its subject
        std::string subject;             // the address the pattern was found in
    };
    // The first rule whose pattern occurs in its subject. An image outside any link has no link
    // to test: link rules pass it by.
    Taken firstTaking(std::string_view image, std::string_view link) const;

  private:
    // The patterns of the rules of one subject as one automaton, which tells in one pass over an
    // address which of them occur in it: thousands of rules cost little more than one.
    struct Index;

    // The first rule of the subject whose pattern occurs in text, by its place in rules_.
    std::optional<std::size_t> firstOf(RuleSubject subject, const Index* index,
                                       std::string_view text) const;

    std::vector<FileRule> rules_;
    bool testsLinks_ = false;
    std::shared_ptr<const Index> imageIndex_;
    std::shared_ptr<const Index> linkIndex_;
};

// --- Addresses as the rules use them ---

// The last part of the address's path, query and fragment left out ("" for a path ending in
// "/").
std::string lastPathPart(std::string_view address);

// Whether the address is http(s) and its path ends in an image file's extension (.jpg, .jpeg,
// .png, .gif, .webp or .bmp, letter case ignored), query and fragment aside.
bool isImageAddress(std::string_view address);

// Character references as a browser decodes them in an attribute: &amp; &lt; &gt; &quot; &apos;
// and numeric ones (&#38; &#x26;). Anything else stays as written.
std::string decodeCharacterReferences(std::string_view text);

}  // namespace velnoria
