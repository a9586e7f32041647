// The rules file reader on any bytes: it never stops the program, every problem stands at a place
// in the file, in order, and the rules it keeps are whole. The rules it keeps then take an address
// exactly as trying them one by one would, and their templates stay within their bound.

#include <fuzzer/FuzzedDataProvider.h>
#include <re2/re2.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "download/rules/file_rule.h"
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

void checkRules(const RuleSet& rules) {
    FUZZ_CHECK(rules.rules().size() <= kMaxRules);
    bool links = false;
    for (const FileRule& rule : rules.rules()) {
        FUZZ_CHECK(rule.match != nullptr && rule.match->ok());
        FUZZ_CHECK(!rule.name.empty());
        FUZZ_CHECK(rule.name.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(rule.line >= 1);
        if (rule.isPageSearch()) {
            FUZZ_CHECK(rule.find->ok() && rule.find->NumberOfCapturingGroups() >= 1);
            FUZZ_CHECK(rule.full.empty());
        } else {
            FUZZ_CHECK(rule.page.empty());
        }
        links = links || rule.subject == RuleSubject::Link;
    }
    FUZZ_CHECK(rules.testsLinks() == links);
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
    if (rule.fileName) {
        const auto name = rule.fileName->expand(taken.captures, page ? &*page : nullptr, 1000);
        if (name) FUZZ_CHECK(name->size() <= 1000);
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
