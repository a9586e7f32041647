// The rules file reader on any bytes: it never stops the program, every problem stands at a place
// in the file, in order, and the rules it keeps are whole, within their bounds, and send nothing
// that could cut a header line. The rules it keeps then take an address exactly as trying them one
// by one would, and their templates stay within their bound. A page made of the input is searched
// in slices as a search of the whole page finds it.

#include <fuzzer/FuzzedDataProvider.h>
#include <re2/re2.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/text.h"
#include "download/rules/file_rule.h"
#include "download/rules/page_search.h"
#include "download/rules/request_text.h"
#include "download/rules/rules_file.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace velnoria;

// The first rule whose pattern occurs in its subject, tried one by one: what the set of all
// patterns must agree with.
const FileRule* firstOneByOne(const RuleSet& rules, std::string_view image, std::string_view link) {
    for (const FileRule& rule : rules.rules()) {
        const std::string_view subject = rule.subject == RuleSubject::Image ? image : link;
        if (subject.empty()) continue;
        if (re2::RE2::PartialMatch(re2::StringPiece(subject.data(), subject.size()), *rule.match)) {
            return &rule;
        }
    }
    return nullptr;
}

void checkProblems(const RulesFile& file, std::string_view text) {
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (std::size_t i = 0; i < file.problems.size(); ++i) {
        const RuleProblem& problem = file.problems[i];
        FUZZ_CHECK(problem.file == "fuzz.toml");
        FUZZ_CHECK(problem.line >= 1 && problem.line <= lines + 1);
        FUZZ_CHECK(problem.column >= 1);
        FUZZ_CHECK(!problem.message.empty());
        FUZZ_CHECK(problem.text().rfind("fuzz.toml:" + std::to_string(problem.line) + ":", 0) == 0);
        // One line each, whatever the file held.
        FUZZ_CHECK(problem.message.find_first_of("\r\n") == std::string::npos);
        if (i > 0) {
            const RuleProblem& before = file.problems[i - 1];
            FUZZ_CHECK(std::tie(before.line, before.column) <=
                       std::tie(problem.line, problem.column));
        }
    }
}

// No part of a template's own text can end a header line.
bool oneLine(const CaptureTemplate& part) {
    return std::all_of(part.parts().begin(), part.parts().end(),
                       [](const auto& piece) { return !lineBreakOrNul(piece.text); });
}

void checkRules(const RuleSet& rules) {
    FUZZ_CHECK(rules.rules().size() <= kMaxRules);
    bool links = false;
    std::size_t instructions = 0;
    for (const FileRule& rule : rules.rules()) {
        FUZZ_CHECK(rule.match != nullptr && rule.match->ok());
        FUZZ_CHECK(!rule.name.empty());
        FUZZ_CHECK(rule.name.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(rule.line >= 1);
        instructions += 2 * static_cast<std::size_t>(rule.match->ProgramSize());
        if (rule.isPageSearch()) {
            FUZZ_CHECK(rule.find->ok() && rule.find->ProgramSize() <= kMaxFindInstructions);
            FUZZ_CHECK(rule.fullFromHit || rule.find->NumberOfCapturingGroups() >= 1);
            FUZZ_CHECK(rule.fullFromHit || rule.full.empty());
            instructions += static_cast<std::size_t>(rule.find->ProgramSize());
        } else {
            FUZZ_CHECK(rule.page.empty() && !rule.fullFromHit && !rule.all && !rule.form);
        }
        // What a rule sends cannot cut a header line, and names nothing the program writes.
        FUZZ_CHECK(rule.cookies.empty() || !cookiesFault(rule.cookies));
        FUZZ_CHECK(!lineBreakOrNul(rule.cookies));
        FUZZ_CHECK(!rule.form || oneLine(*rule.form));
        FUZZ_CHECK(!rule.referer || oneLine(*rule.referer));
        FUZZ_CHECK(rule.headers.empty() || rule.isPageSearch() || rule.visit);
        for (const RuleHeader& header : rule.headers) {
            FUZZ_CHECK(isToken(header.name) && oneLine(header.value));
            for (const char* own : {"Cookie", "Referer", "Host", "Content-Length"}) {
                FUZZ_CHECK(!sameNoCase(header.name, own));
            }
        }
        for (const std::string& hash : rule.placeholderSha256) {
            FUZZ_CHECK(isSha256Hex(hash));
            FUZZ_CHECK(std::none_of(hash.begin(), hash.end(),
                                    [](char c) { return c >= 'A' && c <= 'F'; }));
        }
        links = links || rule.subject == RuleSubject::Link;
    }
    FUZZ_CHECK(instructions <= kMaxPatternInstructions);
    FUZZ_CHECK(rules.testsLinks() == links);
}

// The hits a search of the whole page at once finds, each search starting where the hit before
// ended (an empty hit just there passed over).
std::vector<Captures> wholePageHits(const re2::RE2& find, std::string_view page, std::size_t most) {
    std::vector<Captures> hits;
    std::size_t from = 0;
    std::optional<std::size_t> lastEnd;
    while (from <= page.size() && hits.size() < most) {
        auto hit = searchCaptures(find, page, from, page.size(), kMaxFoundBytes);
        if (!hit) break;
        if (hit->start == hit->end && hit->start == lastEnd) {
            from = hit->start + 1;
            continue;
        }
        for (std::string& group : hit->groups) group = decodeCharacterReferences(group);
        from = lastEnd.emplace(hit->end);
        hits.push_back(std::move(*hit));
    }
    return hits;
}

// Every hit of the sliced search is the one the whole page gives, up to the first that is
// longer than the bound of an exact hit.
void checkSlices(const re2::RE2& find, std::string_view page, std::size_t slice) {
    SearchOptions options;
    options.everyHit = true;
    options.maxSliceBytes = slice;
    options.processorTime = std::chrono::seconds(2);
    const PageHits sliced = searchPageText(page, find, options);
    if (sliced.end == SearchEnd::TooSlow) return;  // a hard page: its bound is what holds
    FUZZ_CHECK(sliced.end == SearchEnd::Complete && sliced.problem.empty());
    const std::size_t most = std::min(sliced.hits.size() + 1, kMaxHitsPerPage);
    const std::vector<Captures> whole = wholePageHits(find, page, most);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (whole[i].end - whole[i].start > kMaxHitBytes) return;
        FUZZ_CHECK(i < sliced.hits.size());
        FUZZ_CHECK(sliced.hits[i].start == whole[i].start && sliced.hits[i].end == whole[i].end);
        FUZZ_CHECK(sliced.hits[i].groups == whole[i].groups);
    }
    FUZZ_CHECK(sliced.hits.size() == whole.size());
    if (sliced.moreHits) FUZZ_CHECK(whole.size() == kMaxHitsPerPage);
}

void checkTaking(const RuleSet& rules, const std::string& image, const std::string& link) {
    const RuleSet::Taken taken = rules.firstTaking(image, link);
    FUZZ_CHECK(taken.rule == firstOneByOne(rules, image, link));
    if (taken.rule == nullptr) return;
    const FileRule& rule = *taken.rule;
    FUZZ_CHECK(taken.subject == (rule.subject == RuleSubject::Image ? image : link));
    FUZZ_CHECK(static_cast<int>(taken.captures.groups.size()) ==
               rule.match->NumberOfCapturingGroups() + 1);
    for (const std::string& group : taken.captures.groups) {
        FUZZ_CHECK(fuzz::isInside(taken.subject, group));
    }
    // The address and the page searched here stand in for a page search's result.
    const auto page = searchCaptures(rule.find ? *rule.find : *rule.match, image + link);
    for (const CaptureTemplate* part : {&rule.full, &rule.page}) {
        const auto expanded = part->expand(taken.captures);
        if (expanded) FUZZ_CHECK(expanded->size() <= CaptureTemplate::kMaxExpandedBytes);
    }
    const auto address = rule.fullAddress(taken.captures, page ? &*page : nullptr);
    if (address)
        FUZZ_CHECK(address->size() <=
                   std::max(CaptureTemplate::kMaxExpandedBytes, image.size() + link.size()));
    if (rule.fileName) {
        const auto name = rule.fileName->expand(taken.captures, page ? &*page : nullptr, 1000);
        if (name) FUZZ_CHECK(name->size() <= 1000);
    }
    // Whatever the address brought, a request's header lines stay whole.
    std::string problem;
    if (const auto request = rule.request(taken.captures, problem)) {
        FUZZ_CHECK(problem.empty());
        FUZZ_CHECK(!request->referer || !lineBreakOrNul(*request->referer));
        for (const auto& [name, value] : request->headers) FUZZ_CHECK(!lineBreakOrNul(value));
    } else {
        FUZZ_CHECK(!problem.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string image = data.ConsumeRandomLengthString(300);
    const std::string link = data.ConsumeRandomLengthString(300);
    const std::string text = data.ConsumeRemainingBytesAsString();

    const RulesFile file = parseRulesText(text, "fuzz.toml");
    FUZZ_CHECK(file.rules != nullptr);
    checkProblems(file, text);
    checkRules(*file.rules);
    checkTaking(*file.rules, image, link);

    // A page made of the address, the link and the file, long enough for slices to end
    // everywhere in it, is searched in slices as a search of the whole page finds it.
    if (!file.rules->empty() && file.rules->rules().front().isPageSearch()) {
        std::string page = image + link + text.substr(0, 2000);
        if (!page.empty()) {
            while (page.size() < kMaxHitBytes + 4000) page += page;
        }
        checkSlices(*file.rules->rules().front().find, page, 512 + image.size());
    }

    // The same bytes read the same way again.
    const RulesFile again = parseRulesText(text, "fuzz.toml");
    FUZZ_CHECK(again.problems.size() == file.problems.size());
    FUZZ_CHECK(again.rules->rules().size() == file.rules->rules().size());

    // Decoding character references never lengthens a text, and leaves one without "&" alone.
    const std::string decoded = decodeCharacterReferences(text);
    FUZZ_CHECK(decoded.size() <= text.size());
    if (text.find('&') == std::string::npos) FUZZ_CHECK(decoded == text);
    return 0;
}
