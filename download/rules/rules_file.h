#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "download/rules/file_rule.h"

namespace velnoria {

// One fault in a rules file, at the place it stands.
struct RuleProblem {
    std::string file;  // as the user named it
    int line = 1;
    int column = 1;
    std::string message;

    // "FILE:LINE:COLUMN: message", as compilers write it, so editors can jump there.
    std::string text() const;
};

// What reading a rules file gave: the rules that are good, and a problem for each fault. A rule
// with a fault is left out; the others work.
struct RulesFile {
    std::shared_ptr<const RuleSet> rules = std::make_shared<RuleSet>();
    std::vector<RuleProblem> problems;  // in the order of their places in the file
};

// Bounds that keep a hostile or mistaken file from holding up the program.
inline constexpr std::size_t kMaxRulesFileBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxRules = 10000;
inline constexpr std::size_t kMaxPatternBytes = 64 * 1024;
// What the compiled patterns of a file may take, in RE2 instructions: each `match` counts twice
// (it is also compiled into the one automaton over every rule), each `find` once. An ordinary
// pattern takes 30 to 200. A file at this bound takes about 200 MB while it is read.
inline constexpr std::size_t kMaxPatternInstructions = 2'000'000;
// A page is searched with at most this many instructions, so that a page that drives the search
// to RE2's slowest matcher still lets it stop within a fraction of a second.
inline constexpr int kMaxFindInstructions = 2000;

// Reads and checks a rules file (TOML: [[rule]] tables with name, match, full or page and find,
// file, on, and the keys of hosts that want more: see docs/rules.md). Never throws: a file that
// cannot be read, is too large or is no TOML gives problems. The problems name the file as shownAs,
// or as the path when that is empty.
RulesFile readRulesFile(const std::filesystem::path& file, const std::string& shownAs = {});

// The same for a file's text; fileName is only used in the problems.
RulesFile parseRulesText(std::string_view text, const std::string& fileName);

// The problems as the text of an "Error" box: a heading, then at most `shown` problems, then how
// many more there are.
std::string describeProblems(const std::vector<RuleProblem>& problems, std::size_t shown = 20);

}  // namespace velnoria
