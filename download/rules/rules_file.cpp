// The rules file: TOML read with toml++, patterns compiled with RE2, every fault reported at its
// place and the faulty rule left out.
#include "download/rules/rules_file.h"

#include <re2/re2.h>
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <tuple>

#include "core/printable.h"
#include "core/small_file.h"
#include "core/text.h"
#include "download/rules/request_text.h"
#include "download/rules/toml_nesting.h"

namespace velnoria {

namespace {

// Room for a pattern's program and its automata (RE2's max_mem): the program may take about a
// sixteenth of it in instructions. An address is short; a page's automata can take more. Each
// page search compiles its `find` afresh, so those automata are freed after every page.
constexpr std::int64_t kMatchMemory = 1 << 20;
constexpr std::int64_t kFindMemory = 8 << 20;

constexpr std::array<std::string_view, 15> kRuleKeys = {"name",
                                                        "match",
                                                        "full",
                                                        "page",
                                                        "find",
                                                        "file",
                                                        "on",
                                                        "cookies",
                                                        "visit",
                                                        "form",
                                                        "headers",
                                                        "referer",
                                                        "all",
                                                        "placeholder_sizes",
                                                        "placeholder_sha256"};

std::string ruleKeysText() {
    std::string text;
    for (std::size_t i = 0; i < kRuleKeys.size(); ++i) {
        if (i > 0) text += i + 1 == kRuleKeys.size() ? " and " : ", ";
        text += kRuleKeys[i];
    }
    return text;
}

// Patterns work on bytes: "." is any one byte, and a page in any encoding can be searched.
re2::RE2::Options patternOptions(std::int64_t memory) {
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingLatin1);
    options.set_log_errors(false);
    options.set_max_mem(memory);
    return options;
}

std::string typeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "a whole number";
        case toml::node_type::floating_point:
            return "a number";
        case toml::node_type::boolean:
            return "true or false";
        default:
            return "a date or time";
    }
}

// Text of the file that goes into one line of a message: ASCII control characters become blanks,
// other control characters and bytes that are not UTF-8 are shown as \xHH, a long text is cut.
std::string oneLine(std::string_view text, std::size_t limit = 80) {
    std::string blanked(text.substr(0, limit));
    for (char& c : blanked) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    std::string out = printableText(blanked);
    if (text.size() > limit) out += "...";
    return out;
}

// The characters of a text, as toml++ counts columns (code points).
int codePoints(std::string_view text) {
    int count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

// Where the character of a column (from 1) starts in a line; npos past its end.
std::size_t byteOfColumn(std::string_view line, int column) {
    int seen = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 && ++seen == column) return i;
    }
    return std::string_view::npos;
}

// The reading of one piece of TOML text: the whole file, or one [[rule]] section of a file that
// does not parse as a whole.
class Reader {
  public:
    Reader(const std::string& fileName, std::vector<RuleProblem>& problems,
           std::vector<FileRule>& rules)
        : fileName_(fileName), problems_(problems), rules_(rules) {}

    // Forgets every rule and problem, to read the file again from its start.
    void restart() {
        rules_.clear();
        problems_.clear();
        rulesSeen_ = 0;
        instructions_ = 0;
        budgetPassed_ = false;
    }

    void read(std::string_view text, int lineOffset) {
        text_ = text;
        lineOffset_ = lineOffset;
        lineStarts_.clear();
        const toml::table document = toml::parse(text, fileName_);
        readDocument(document);
    }

    void report(const toml::source_position& at, std::string message) {
        problems_.push_back({fileName_, static_cast<int>(at.line) + lineOffset_,
                             std::max(1, static_cast<int>(at.column)), std::move(message)});
    }

    void reportParseError(const toml::parse_error& error, int lineOffset) {
        lineOffset_ = lineOffset;
        report(error.source().begin, "not TOML: " + oneLine(error.description(), 200));
    }

    void reportDeepNesting(const TomlPlace& place, int lineOffset, bool inRule) {
        problems_.push_back({fileName_, place.line + lineOffset, place.column,
                             "keys, tables and arrays nest more than " +
                                 std::to_string(kMaxTomlNesting) + " levels deep here" +
                                 (inRule ? "; the rule it stands in is not read" : "")});
    }

  private:
    void readDocument(const toml::table& document) {
        for (const auto& [key, node] : document) {
            if (key.str() != "rule") {
                report(key.source().begin, "unknown key `" + oneLine(key.str()) +
                                               "`; rules are written as [[rule]] tables");
                continue;
            }
            const toml::array* list = node.as_array();
            if (list == nullptr) {
                report(node.source().begin,
                       "`rule` is " + typeName(node) + "; rules are written as [[rule]] tables");
                continue;
            }
            for (const toml::node& element : *list) {
                const toml::table* rule = element.as_table();
                if (rule == nullptr) {
                    report(element.source().begin,
                           "a rule must be a table, written [[rule]]; "
                           "this is " +
                               typeName(element));
                    continue;
                }
                if (++rulesSeen_ > kMaxRules) {
                    if (rulesSeen_ == kMaxRules + 1) {
                        report(rule->source().begin,
                               "more than " + std::to_string(kMaxRules) +
                                   " rules: this rule and those after it are left out");
                    }
                    continue;
                }
                if (budgetPassed_) continue;
                if (auto good = readRule(*rule)) rules_.push_back(std::move(*good));
            }
        }
    }

    // A string value of a rule; a value of another type is a problem.
    std::optional<std::string> stringValue(const toml::table& rule, std::string_view key,
                                           bool& faulty) {
        const toml::node* node = rule.get(key);
        if (node == nullptr) return std::nullopt;
        if (const auto* value = node->as_string()) return value->get();
        report(node->source().begin,
               "`" + std::string(key) + "` must be a string; it is " + typeName(*node));
        faulty = true;
        return std::nullopt;
    }

    // Where byte `offset` of a string value stands in the file: exact when the value is written
    // as it reads up to there (no escapes before it), else the value's start.
    toml::source_position placeIn(const toml::node& node, const std::string& value,
                                  std::size_t offset) {
        toml::source_position at = node.source().begin;
        const std::string_view line = sourceLine(static_cast<int>(at.line));
        const std::size_t byte = byteOfColumn(line, static_cast<int>(at.column));
        if (byte >= line.size() || (line[byte] != '"' && line[byte] != '\'')) return at;
        const std::string_view written = line.substr(byte + 1);
        const std::string_view prefix = std::string_view(value).substr(0, offset + 1);
        if (written.substr(0, prefix.size()) == prefix) {
            at.column += static_cast<toml::source_index>(
                1 + codePoints(std::string_view(value).substr(0, offset)));
        }
        return at;
    }

    std::string_view sourceLine(int line) {
        if (lineStarts_.empty()) {
            lineStarts_.push_back(0);
            for (std::size_t i = 0; i < text_.size(); ++i) {
                if (text_[i] == '\n') lineStarts_.push_back(i + 1);
            }
        }
        if (line < 1 || static_cast<std::size_t>(line) > lineStarts_.size()) return {};
        const std::size_t start = lineStarts_[static_cast<std::size_t>(line - 1)];
        const std::size_t end = text_.find('\n', start);
        return text_.substr(start,
                            end == std::string_view::npos ? std::string_view::npos : end - start);
    }

    std::shared_ptr<const re2::RE2> compile(const toml::table& rule, std::string_view key,
                                            const std::string& pattern, std::int64_t memory,
                                            bool& faulty) {
        const toml::node& node = *rule.get(key);
        const std::string name(key);
        if (pattern.empty()) {
            report(node.source().begin, "`" + name + "` is empty; it would take every address");
            faulty = true;
            return nullptr;
        }
        if (pattern.size() > kMaxPatternBytes) {
            report(node.source().begin, "`" + name + "` is " + std::to_string(pattern.size()) +
                                            " bytes long; a pattern may have at most " +
                                            std::to_string(kMaxPatternBytes));
            faulty = true;
            return nullptr;
        }
        auto compiled = std::make_shared<re2::RE2>(pattern, patternOptions(memory));
        if (!compiled->ok()) {
            const std::string& fragment = compiled->error_arg();
            const std::size_t at = fragment.empty() ? std::string::npos : pattern.find(fragment);
            report(at == std::string::npos ? node.source().begin : placeIn(node, pattern, at),
                   "`" + name + "` is no pattern RE2 takes: " + oneLine(compiled->error(), 200));
            faulty = true;
            return nullptr;
        }
        // Every `match` is compiled a second time into the set of all of them.
        instructions_ +=
            static_cast<std::size_t>(compiled->ProgramSize()) * (key == "match" ? 2 : 1);
        return compiled;
    }

    std::optional<CaptureTemplate> parseTemplate(const toml::node& node, const std::string& label,
                                                 const std::string& text,
                                                 const CaptureTemplate::Scope& scope,
                                                 bool& faulty) {
        std::optional<CaptureTemplate::Error> error;
        CaptureTemplate parsed = CaptureTemplate::parse(text, scope, error);
        if (error) {
            report(placeIn(node, text, error->offset), "`" + label + "`: " + error->message);
            faulty = true;
            return std::nullopt;
        }
        return parsed;
    }

    // A text that goes into a header line (or a form body): a CR, LF or NUL is a problem.
    bool oneLineText(const toml::node& node, const std::string& label, const std::string& text,
                     bool& faulty) {
        const auto at = lineBreakOrNul(text);
        if (!at) return true;
        report(placeIn(node, text, *at), "`" + label + "` holds a " +
                                             (text[*at] == '\0' ? "NUL" : "line break") +
                                             "; it would cut the request apart");
        faulty = true;
        return false;
    }

    std::optional<bool> boolValue(const toml::table& rule, std::string_view key, bool& faulty) {
        const toml::node* node = rule.get(key);
        if (node == nullptr) return std::nullopt;
        if (const auto* value = node->as_boolean()) return value->get();
        report(node->source().begin,
               "`" + std::string(key) + "` must be true or false; it is " + typeName(*node));
        faulty = true;
        return std::nullopt;
    }

    // The elements of an array value; a value of another type is a problem.
    const toml::array* arrayValue(const toml::table& rule, std::string_view key, bool& faulty) {
        const toml::node* node = rule.get(key);
        if (node == nullptr) return nullptr;
        if (const auto* array = node->as_array()) return array;
        report(node->source().begin,
               "`" + std::string(key) + "` must be an array; it is " + typeName(*node));
        faulty = true;
        return nullptr;
    }

    std::optional<FileRule> readRule(const toml::table& rule) {
        const toml::source_position start = rule.source().begin;
        bool faulty = false;
        for (const auto& [key, node] : rule) {
            if (std::find(kRuleKeys.begin(), kRuleKeys.end(), key.str()) == kRuleKeys.end()) {
                report(key.source().begin,
                       "unknown key `" + oneLine(key.str()) + "`; a rule has " + ruleKeysText());
                faulty = true;
            }
        }

        FileRule result;
        result.line = static_cast<int>(start.line) + lineOffset_;
        const auto name = stringValue(rule, "name", faulty);
        result.name = name && !trim(*name).empty() ? oneLine(trim(*name), 200)
                                                   : "rule " + std::to_string(rulesSeen_);

        const auto on = stringValue(rule, "on", faulty);
        if (on && *on == "link") {
            result.subject = RuleSubject::Link;
        } else if (on && *on != "image") {
            report(rule.get("on")->source().begin,
                   "`on` must be \"image\" or \"link\", not \"" + oneLine(*on) + "\"");
            faulty = true;
        }

        const auto match = stringValue(rule, "match", faulty);
        const auto full = stringValue(rule, "full", faulty);
        const auto page = stringValue(rule, "page", faulty);
        const auto find = stringValue(rule, "find", faulty);
        const auto file = stringValue(rule, "file", faulty);
        const std::string called = "rule \"" + result.name + "\"";

        if (!match && rule.get("match") == nullptr) {
            report(start, called + " has no `match`");
            faulty = true;
        }
        const bool hasFull = rule.get("full") != nullptr;
        const bool search = rule.get("page") != nullptr || rule.get("find") != nullptr;
        if (!hasFull && !search) {
            report(start, called +
                              " has neither `full` nor `page` and `find`: it would not say where "
                              "the full-size image is");
            faulty = true;
        } else if (search && rule.get("page") == nullptr) {
            report(start, called + " has `find` without `page`: which page is searched?");
            faulty = true;
        } else if (search && rule.get("find") == nullptr) {
            report(start, called + " has `page` without `find`: what is searched for?");
            faulty = true;
        }
        result.fullFromHit = hasFull && search;

        if (match) result.match = compile(rule, "match", *match, kMatchMemory, faulty);
        if (find) {
            result.find = compile(rule, "find", *find, kFindMemory, faulty);
            if (result.find && result.find->ProgramSize() > kMaxFindInstructions) {
                report(rule.get("find")->source().begin,
                       "`find` compiles to " + std::to_string(result.find->ProgramSize()) +
                           " instructions; a page is searched with at most " +
                           std::to_string(kMaxFindInstructions) +
                           ", so that a search stays quick to stop");
                faulty = true;
            } else if (result.find && !hasFull && result.find->NumberOfCapturingGroups() < 1) {
                report(rule.get("find")->source().begin,
                       "`find` has no capture; its first capture is the full-size address");
                faulty = true;
            }
        }
        if (instructions_ > kMaxPatternInstructions) {
            report(start, "the patterns up to this rule compile to more than " +
                              std::to_string(kMaxPatternInstructions) +
                              " instructions: this rule and those after it are left out");
            budgetPassed_ = true;
            return std::nullopt;
        }

        // The templates can only be checked against patterns that compiled.
        if (result.match) {
            const CaptureTemplate::Scope scope{result.match->NumberOfCapturingGroups(),
                                               &result.match->NamedCapturingGroups(), nullptr};
            CaptureTemplate::Scope withHit = scope;
            if (result.find) withHit.findNames = &result.find->NamedCapturingGroups();
            auto take = [&](std::string_view key, const std::optional<std::string>& text,
                            const CaptureTemplate::Scope& in) -> std::optional<CaptureTemplate> {
                if (!text) return std::nullopt;
                return parseTemplate(*rule.get(key), std::string(key), *text, in, faulty);
            };
            // Beside a page search, `full` and `file` can only be checked once `find` compiled.
            if (!search || result.find) {
                if (auto parsed = take("full", full, result.fullFromHit ? withHit : scope)) {
                    result.full = std::move(*parsed);
                }
                result.fileName = take("file", file, withHit);
            }
            if (auto parsed = take("page", page, scope)) result.page = std::move(*parsed);
            readRequestKeys(rule, result, scope, faulty);
        }
        readPlaceholders(rule, result, faulty);
        if (faulty) return std::nullopt;
        return result;
    }

    // cookies, visit, form, headers, referer and all: what a rule sends, and what it takes.
    void readRequestKeys(const toml::table& rule, FileRule& result,
                         const CaptureTemplate::Scope& scope, bool& faulty) {
        const bool hasPage = rule.get("page") != nullptr;
        if (const auto cookies = stringValue(rule, "cookies", faulty)) {
            if (const auto fault = cookiesFault(*cookies)) {
                report(placeIn(*rule.get("cookies"), *cookies, fault->offset),
                       "`cookies`: " + fault->message);
                faulty = true;
            }
            result.cookies = cookiesToSend(*cookies);
        }
        if (const auto visit = stringValue(rule, "visit", faulty)) {
            result.visit = parseTemplate(*rule.get("visit"), "visit", *visit, scope, faulty);
        }
        if (const auto form = stringValue(rule, "form", faulty)) {
            const toml::node& node = *rule.get("form");
            if (!hasPage) {
                report(node.source().begin, "`form` without `page`: the form is sent to the page");
                faulty = true;
            } else if (oneLineText(node, "form", *form, faulty)) {
                result.form = parseTemplate(node, "form", *form, scope, faulty);
            }
        }
        if (const auto referer = stringValue(rule, "referer", faulty)) {
            const toml::node& node = *rule.get("referer");
            if (oneLineText(node, "referer", *referer, faulty)) {
                result.referer = parseTemplate(node, "referer", *referer, scope, faulty);
            }
        }
        if (const toml::node* node = rule.get("headers")) {
            if (!hasPage && rule.get("visit") == nullptr) {
                report(node->source().begin,
                       "`headers` without `page` or `visit`: they go with the rule's page "
                       "requests");
                faulty = true;
            } else if (const toml::table* headers = node->as_table()) {
                readHeaders(*headers, result, scope, faulty);
            } else {
                report(node->source().begin,
                       "`headers` must be a table of names and values, as "
                       "{ \"X-Requested-With\" = \"XMLHttpRequest\" }; it is " +
                           typeName(*node));
                faulty = true;
            }
        }
        if (const auto all = boolValue(rule, "all", faulty)) {
            if (*all && rule.get("find") == nullptr) {
                report(rule.get("all")->source().begin,
                       "`all` is for a page search: it takes every hit of `find`");
                faulty = true;
            }
            result.all = *all;
        }
    }

    void readHeaders(const toml::table& headers, FileRule& result,
                     const CaptureTemplate::Scope& scope, bool& faulty) {
        for (const auto& [key, node] : headers) {
            const std::string name(key.str());
            const std::string label = "headers`: `" + oneLine(name);
            if (!isToken(name)) {
                report(key.source().begin, "`headers`: `" + oneLine(name) +
                                               "` is no header name (letters, digits and "
                                               "!#$%&'*+-.^_`|~ only)");
                faulty = true;
                continue;
            }
            if (const auto reserved = reservedHeader(name)) {
                report(key.source().begin, "`headers`: `" + name + "` " + *reserved);
                faulty = true;
                continue;
            }
            const bool twice = std::any_of(
                result.headers.begin(), result.headers.end(),
                [&](const RuleHeader& header) { return sameNoCase(header.name, name); });
            if (twice) {
                report(key.source().begin, "`headers`: `" + name + "` is named twice");
                faulty = true;
                continue;
            }
            const auto* value = node.as_string();
            if (value == nullptr) {
                report(node.source().begin, "`headers`: the value of `" + name +
                                                "` must be a string; it is " + typeName(node));
                faulty = true;
                continue;
            }
            if (!oneLineText(node, label, value->get(), faulty)) continue;
            if (auto parsed = parseTemplate(node, label, value->get(), scope, faulty)) {
                result.headers.push_back({name, std::move(*parsed)});
            }
        }
    }

    // Headers the program writes itself, or that a rule writes under a key of its own.
    static std::optional<std::string> reservedHeader(std::string_view name) {
        if (sameNoCase(name, "Cookie")) return "is written as the rule's `cookies`";
        if (sameNoCase(name, "Referer")) return "is written as the rule's `referer`";
        for (const std::string_view own : {"Host", "Content-Length", "Transfer-Encoding",
                                           "Connection", "Upgrade", "TE", "Expect"}) {
            if (sameNoCase(name, own)) return "is the program's to send";
        }
        return std::nullopt;
    }

    void readPlaceholders(const toml::table& rule, FileRule& result, bool& faulty) {
        if (const toml::array* sizes = arrayValue(rule, "placeholder_sizes", faulty)) {
            for (const toml::node& element : *sizes) {
                const auto* size = element.as_integer();
                if (size == nullptr || size->get() < 0) {
                    report(element.source().begin,
                           "`placeholder_sizes`: a size is a whole number of bytes from 0; this "
                           "is " +
                               (size == nullptr ? typeName(element) : std::to_string(size->get())));
                    faulty = true;
                    continue;
                }
                result.placeholderSizes.push_back(static_cast<std::uint64_t>(size->get()));
            }
        }
        if (const toml::array* hashes = arrayValue(rule, "placeholder_sha256", faulty)) {
            for (const toml::node& element : *hashes) {
                const auto* hash = element.as_string();
                if (hash == nullptr || !isSha256Hex(hash->get())) {
                    report(element.source().begin,
                           "`placeholder_sha256`: a hash is 64 hexadecimal digits; this is " +
                               (hash == nullptr ? typeName(element)
                                                : "\"" + oneLine(hash->get(), 70) + "\""));
                    faulty = true;
                    continue;
                }
                std::string lower = hash->get();
                std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
                    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                });
                result.placeholderSha256.push_back(std::move(lower));
            }
        }
    }

    const std::string& fileName_;
    std::vector<RuleProblem>& problems_;
    std::vector<FileRule>& rules_;
    std::size_t rulesSeen_ = 0;
    std::size_t instructions_ = 0;  // of the patterns compiled so far (see kMaxPatternInstructions)
    bool budgetPassed_ = false;
    std::string_view text_;
    int lineOffset_ = 0;
    std::vector<std::size_t> lineStarts_;
};

struct Section {
    std::string_view text;
    int lineOffset = 0;  // lines before it in the file
};

bool startsRuleTable(std::string_view line) {
    line = trim(line);
    if (line.substr(0, 2) != "[[") return false;
    line = trim(line.substr(2));
    if (line.substr(0, 4) != "rule") return false;
    return trim(line.substr(4)).substr(0, 2) == "]]";
}

// The file cut before every line that starts a [[rule]] table, so that one rule's syntax error
// does not cost the others.
std::vector<Section> ruleSections(std::string_view text) {
    std::vector<Section> sections;
    std::size_t start = 0;
    int line = 0;
    int startLine = 0;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (at > start && startsRuleTable(text.substr(at, end - at))) {
            sections.push_back({text.substr(start, at - start), startLine});
            start = at;
            startLine = line;
        }
        ++line;
        at = end + 1;
    }
    sections.push_back({text.substr(start), startLine});
    return sections;
}

}  // namespace

std::string RuleProblem::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

RulesFile parseRulesText(std::string_view text, const std::string& fileName) {
    RulesFile result;
    std::vector<FileRule> rules;
    Reader reader(fileName, result.problems, rules);
    // A text that nests too deeply would overflow the stack inside the TOML library: it never
    // sees one, whole or in sections.
    const std::vector<TomlPlace> deep = findDeepNesting(text);
    std::optional<toml::parse_error> wholeError;
    if (deep.empty()) {
        try {
            reader.read(text, 0);
        } catch (const std::bad_alloc&) {
            rules.clear();
            result.problems = {{fileName, 1, 1, "cannot be read: not enough memory"}};
        } catch (const toml::parse_error& error) {
            wholeError = error;
        }
    }
    if (wholeError || !deep.empty()) {
        // Read again rule by rule: the sections that parse give their rules.
        reader.restart();
        bool sectionFailed = false;
        for (const Section& section : ruleSections(text)) {
            const std::vector<TomlPlace> sectionDeep = findDeepNesting(section.text);
            if (!sectionDeep.empty()) {
                const bool rule = startsRuleTable(section.text.substr(0, section.text.find('\n')));
                for (const TomlPlace& place : sectionDeep) {
                    reader.reportDeepNesting(place, section.lineOffset, rule);
                }
                sectionFailed = true;
                continue;
            }
            try {
                reader.read(section.text, section.lineOffset);
            } catch (const std::bad_alloc&) {
                result.problems.push_back(
                    {fileName, section.lineOffset + 1, 1, "cannot be read: not enough memory"});
                sectionFailed = true;
            } catch (const toml::parse_error& error) {
                reader.reportParseError(error, section.lineOffset);
                sectionFailed = true;
            }
        }
        // Only the whole file shows a fault between sections (a table defined twice, a string
        // that runs on over a [[rule]] line); when the sections told of one already, that is
        // what it was.
        if (!sectionFailed && result.problems.empty()) {
            if (wholeError) reader.reportParseError(*wholeError, 0);
            for (const TomlPlace& place : deep) reader.reportDeepNesting(place, 0, false);
        }
    }
    std::stable_sort(result.problems.begin(), result.problems.end(),
                     [](const RuleProblem& a, const RuleProblem& b) {
                         return std::tie(a.line, a.column) < std::tie(b.line, b.column);
                     });
    result.rules = std::make_shared<RuleSet>(std::move(rules));
    return result;
}

RulesFile readRulesFile(const std::filesystem::path& file, const std::string& shownAs) {
    const std::string name = shownAs.empty() ? file.string() : shownAs;
    auto failed = [&](std::string message) {
        RulesFile result;
        result.problems.push_back({name, 1, 1, std::move(message)});
        return result;
    };

    const SmallFile read = readSmallFile(file, kMaxRulesFileBytes);
    if (!read.problem.empty()) return failed(read.problem);
    if (read.sizeAtOpen > kMaxRulesFileBytes) {
        return failed("is " + std::to_string(read.sizeAtOpen) + " bytes long; a rules file may " +
                      "have at most " + std::to_string(kMaxRulesFileBytes) + " (it is not read)");
    }
    if (read.tooLong) {
        return failed("is longer than " + std::to_string(kMaxRulesFileBytes) +
                      " bytes; a rules file may not be longer (it is not read)");
    }
    return parseRulesText(read.text, name);
}

std::string describeProblems(const std::vector<RuleProblem>& problems, std::size_t shown) {
    std::string text = "The rules file has problems; the rules with problems are left out:\n";
    for (std::size_t i = 0; i < problems.size() && i < shown; ++i) {
        text += '\n' + problems[i].text();
    }
    if (problems.size() > shown) {
        text += "\n... and " + std::to_string(problems.size() - shown) + " more.";
    }
    return text;
}

}  // namespace velnoria
