#include "cli/rules_commands.h"

#include "core/printable.h"
#include "download/rules/rules_file.h"

namespace velnoria {

int checkRulesCommand(const std::string& file, std::FILE* out) {
    const RulesFile rules = readRulesFile(file);
    for (const RuleProblem& problem : rules.problems) {
        std::fprintf(out, "%s\n", printableText(problem.text()).c_str());
    }
    const std::size_t good = rules.rules->rules().size();
    std::fprintf(out, "%s: %zu good %s, %zu %s\n", printableText(file).c_str(), good,
                 good == 1 ? "rule" : "rules", rules.problems.size(),
                 rules.problems.size() == 1 ? "problem" : "problems");
    return rules.problems.empty() ? 0 : 2;
}

std::string targetLine(const TargetReport& report) {
    std::string line = printableText(report.thumbnail) + " -> ";
    if (report.declined.empty()) {
        line += printableText(report.url) + " " + printableText(report.name);
    } else {
        line += "(declined: " + printableText(report.declined) + ")";
    }
    return line;
}

}  // namespace velnoria
