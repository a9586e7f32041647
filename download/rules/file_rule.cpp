#include "download/rules/file_rule.h"

#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "core/text.h"
#include "core/web_address.h"
#include "download/rules/request_text.h"

namespace velnoria {

const std::string* Captures::named(std::string_view name) const {
    if (names == nullptr) return nullptr;
    const auto found = names->find(std::string(name));
    if (found == names->end()) return nullptr;
    const auto index = static_cast<std::size_t>(found->second);
    return index < groups.size() ? &groups[index] : nullptr;
}

std::optional<Captures> searchCaptures(const re2::RE2& pattern, std::string_view text,
                                       std::size_t maxGroupBytes) {
    return searchCaptures(pattern, text, 0, text.size(), maxGroupBytes);
}

std::optional<Captures> searchCaptures(const re2::RE2& pattern, std::string_view text,
                                       std::size_t from, std::size_t to,
                                       std::size_t maxGroupBytes) {
    const int count = pattern.NumberOfCapturingGroups() + 1;
    std::vector<re2::StringPiece> pieces(static_cast<std::size_t>(count));
    if (from > to || to > text.size() ||
        !pattern.Match(re2::StringPiece(text.data(), text.size()), from, to, re2::RE2::UNANCHORED,
                       pieces.data(), count)) {
        return std::nullopt;
    }
    Captures captures;
    captures.names = &pattern.NamedCapturingGroups();
    captures.start = static_cast<std::size_t>(pieces[0].data() - text.data());
    captures.end = captures.start + pieces[0].size();
    captures.groups.resize(pieces.size());
    // The whole match is of no use to a template, and on a page it may be very long.
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const re2::StringPiece& piece = pieces[i];
        if (piece.data() == nullptr) continue;
        if (piece.size() > maxGroupBytes) captures.cut = true;
        captures.groups[i].assign(piece.data(), std::min(piece.size(), maxGroupBytes));
    }
    return captures;
}

// --- Templates ---

CaptureTemplate CaptureTemplate::parse(std::string_view text, const Scope& scope,
                                       std::optional<Error>& error) {
    CaptureTemplate result;
    error.reset();
    auto fail = [&](std::size_t offset, std::string message) {
        error = Error{offset, std::move(message)};
        return CaptureTemplate();
    };
    auto addText = [&](std::string_view piece) {
        if (piece.empty()) return;
        if (result.parts_.empty() || result.parts_.back().kind != Part::Kind::Text) {
            result.parts_.push_back({Part::Kind::Text, {}, 0});
        }
        result.parts_.back().text += piece;
    };
    auto knownName = [](const std::map<std::string, int>* names, const std::string& name) {
        return names != nullptr && names->count(name) > 0;
    };
    auto numbered = [&](std::size_t at, int number) -> bool {
        if (number < 1) {
            fail(at, "`$0` is no capture; captures are numbered from 1");
            return false;
        }
        if (number > scope.matchGroups) {
            fail(at, "`$" + std::to_string(number) + "` names capture " + std::to_string(number) +
                         ", but `match` has " + std::to_string(scope.matchGroups) +
                         (scope.matchGroups == 1 ? " capture" : " captures"));
            return false;
        }
        result.parts_.push_back({Part::Kind::Numbered, {}, number});
        return true;
    };

    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t dollar = text.find('$', i);
        addText(
            text.substr(i, dollar == std::string_view::npos ? std::string_view::npos : dollar - i));
        if (dollar == std::string_view::npos) break;
        const std::size_t next = dollar + 1;
        if (next < text.size() && text[next] == '$') {
            addText("$");
            i = next + 1;
        } else if (next < text.size() && text[next] >= '0' && text[next] <= '9') {
            if (!numbered(dollar, text[next] - '0')) return {};
            i = next + 1;
        } else if (next < text.size() && text[next] == '{') {
            const std::size_t close = text.find('}', next + 1);
            if (close == std::string_view::npos) return fail(dollar, "`${` without its `}`");
            const std::string name(text.substr(next + 1, close - next - 1));
            i = close + 1;
            if (!name.empty() && name.size() <= 4 &&
                std::all_of(name.begin(), name.end(),
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
                if (!numbered(dollar, std::stoi(name))) return {};
                continue;
            }
            if (!knownName(scope.matchNames, name) && !knownName(scope.findNames, name)) {
                return fail(dollar, "`${" + name + "}` names no capture of `match`" +
                                        (scope.findNames != nullptr ? " or `find`" : ""));
            }
            result.parts_.push_back({Part::Kind::Named, name, 0});
        } else {
            return fail(dollar, "a `$` that starts no capture (write `$$` for a dollar sign)");
        }
    }
    return result;
}

std::optional<std::string> CaptureTemplate::expand(const Captures& match, const Captures* find,
                                                   std::size_t maxBytes) const {
    std::string out;
    for (const Part& part : parts_) {
        const std::string* piece = &part.text;
        if (part.kind == Part::Kind::Numbered) {
            const auto index = static_cast<std::size_t>(part.number);
            piece = index < match.groups.size() ? &match.groups[index] : nullptr;
        } else if (part.kind == Part::Kind::Named) {
            piece = find != nullptr ? find->named(part.text) : nullptr;
            if (piece == nullptr) piece = match.named(part.text);
        }
        if (piece == nullptr) continue;
        if (piece->size() > maxBytes - out.size()) return std::nullopt;
        out += *piece;
    }
    return out;
}

// --- What a rule makes ---

std::optional<std::string> FileRule::fullAddress(const Captures& match, const Captures* hit) const {
    if (!isPageSearch()) return full.expand(match);
    if (hit == nullptr) return std::nullopt;
    if (fullFromHit) return full.expand(match, hit);
    return hit->groups.size() > 1 ? hit->groups[1] : std::string();
}

std::optional<RuleRequest> FileRule::request(const Captures& match, std::string& problem) const {
    RuleRequest request;
    request.cookies = cookies;
    auto fill = [&](const CaptureTemplate& part, const std::string& what,
                    bool headerLine) -> std::optional<std::string> {
        auto text = part.expand(match);
        if (!text) {
            problem = what + " would be longer than " +
                      std::to_string(CaptureTemplate::kMaxExpandedBytes) + " bytes";
        } else if (headerLine && lineBreakOrNul(*text)) {
            problem = what + " would hold a line break or NUL from the address";
            text.reset();
        }
        return text;
    };
    if (visit && !(request.visit = fill(*visit, "the `visit` address", false))) return std::nullopt;
    if (form && !(request.form = fill(*form, "the form", false))) return std::nullopt;
    if (referer && !(request.referer = fill(*referer, "the Referer", true))) return std::nullopt;
    for (const RuleHeader& header : headers) {
        auto value = fill(header.value, "the header " + header.name, true);
        if (!value) return std::nullopt;
        request.headers.emplace_back(header.name, std::move(*value));
    }
    return request;
}

bool FileRule::isPlaceholder(std::uint64_t size, std::string_view sha256Hex) const {
    if (std::find(placeholderSizes.begin(), placeholderSizes.end(), size) !=
        placeholderSizes.end()) {
        return true;
    }
    return std::any_of(placeholderSha256.begin(), placeholderSha256.end(),
                       [&](const std::string& hash) { return sameNoCase(hash, sha256Hex); });
}

// --- The rule set ---

struct RuleSet::Index {
    std::unique_ptr<re2::RE2::Set> set;
    std::vector<std::size_t> rules;  // the place in rules_ of each pattern of the set
};

namespace {

// Room for the automaton over every pattern; when it runs out, the rules are tried one by one.
constexpr std::int64_t kIndexMemory = 64 << 20;

}  // namespace

RuleSet::RuleSet(std::vector<FileRule> rules) : rules_(std::move(rules)) {
    testsLinks_ = std::any_of(rules_.begin(), rules_.end(), [](const FileRule& rule) {
        return rule.subject == RuleSubject::Link;
    });
    for (const RuleSubject subject : {RuleSubject::Image, RuleSubject::Link}) {
        auto index = std::make_shared<Index>();
        re2::RE2::Options options;
        if (!rules_.empty()) options.Copy(rules_.front().match->options());
        options.set_max_mem(kIndexMemory);
        index->set = std::make_unique<re2::RE2::Set>(options, re2::RE2::UNANCHORED);
        bool complete = true;
        for (std::size_t i = 0; i < rules_.size() && complete; ++i) {
            if (rules_[i].subject != subject) continue;
            complete = index->set->Add(rules_[i].match->pattern(), nullptr) >= 0;
            index->rules.push_back(i);
        }
        if (index->rules.empty() || !complete || !index->set->Compile()) continue;
        (subject == RuleSubject::Image ? imageIndex_ : linkIndex_) = std::move(index);
    }
}

std::optional<std::size_t> RuleSet::firstOf(RuleSubject subject, const Index* index,
                                            std::string_view text) const {
    if (text.empty()) return std::nullopt;
    const re2::StringPiece piece(text.data(), text.size());
    if (index != nullptr) {
        std::vector<int> hits;
        re2::RE2::Set::ErrorInfo error{};
        if (index->set->Match(piece, &hits, &error)) {
            const int first = *std::min_element(hits.begin(), hits.end());
            return index->rules[static_cast<std::size_t>(first)];
        }
        if (error.kind == re2::RE2::Set::kNoError) return std::nullopt;
        // Out of memory on this address: one by one below gives the same answer.
    }
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (rules_[i].subject == subject && re2::RE2::PartialMatch(piece, *rules_[i].match)) {
            return i;
        }
    }
    return std::nullopt;
}

RuleSet::Taken RuleSet::firstTaking(std::string_view image, std::string_view link) const {
    Taken taken;
    const auto byImage = firstOf(RuleSubject::Image, imageIndex_.get(), image);
    const auto byLink =
        testsLinks_ ? firstOf(RuleSubject::Link, linkIndex_.get(), link) : std::nullopt;
    if (!byImage && !byLink) return taken;
    const std::size_t first = std::min(byImage.value_or(SIZE_MAX), byLink.value_or(SIZE_MAX));
    const FileRule& rule = rules_[first];
    const std::string_view subject = rule.subject == RuleSubject::Image ? image : link;
    if (auto captures = searchCaptures(*rule.match, subject)) {
        taken.rule = &rule;
        taken.captures = std::move(*captures);
        taken.subject = std::string(subject);
    }
    return taken;
}

// --- Addresses ---

namespace {

// The path of an address: after the scheme and host, before the query and fragment.
std::string_view pathOf(std::string_view address) {
    address = address.substr(0, address.find_first_of("?#"));
    const std::size_t scheme = address.find("://");
    if (scheme != std::string_view::npos) {
        const std::size_t pathStart = address.find('/', scheme + 3);
        return pathStart == std::string_view::npos ? std::string_view() : address.substr(pathStart);
    }
    return address;
}

}  // namespace

std::string lastPathPart(std::string_view address) {
    const std::string_view path = pathOf(address);
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isImageAddress(std::string_view address) {
    if (!isWebAddress(address)) return false;
    const std::string name = lastPathPart(address);
    static constexpr std::array<std::string_view, 6> kExtensions = {".jpg", ".jpeg", ".png",
                                                                    ".gif", ".webp", ".bmp"};
    return std::any_of(kExtensions.begin(), kExtensions.end(), [&](std::string_view extension) {
        return name.size() > extension.size() &&
               sameNoCase(std::string_view(name).substr(name.size() - extension.size()), extension);
    });
}

namespace {

void appendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The character a numeric reference stands for; nothing for one that names no character (or
// NUL, which a browser would not hand on either).
std::optional<unsigned long> numericReference(std::string_view digits, bool hex) {
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    unsigned long code = 0;
    for (const char c : digits) {
        const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : hex && std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (value < 0) return std::nullopt;
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(value);
    }
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    return code;
}

}  // namespace

std::string decodeCharacterReferences(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed = {
        {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t amp = text.find('&', i);
        out += text.substr(i, amp == std::string_view::npos ? std::string_view::npos : amp - i);
        if (amp == std::string_view::npos) break;
        i = amp + 1;
        const std::size_t semicolon = text.find(';', i);
        if (semicolon == std::string_view::npos || semicolon - i > 10) {
            out += '&';
            continue;
        }
        const std::string_view name = text.substr(i, semicolon - i);
        bool decoded = false;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            if (const auto code = numericReference(name.substr(hex ? 2 : 1), hex)) {
                appendUtf8(out, *code);
                decoded = true;
            }
        } else {
            for (const auto& [entity, character] : kNamed) {
                if (name == entity) {
                    out += character;
                    decoded = true;
                }
            }
        }
        if (decoded) {
            i = semicolon + 1;
        } else {
            out += '&';
        }
    }
    return out;
}

}  // namespace velnoria
