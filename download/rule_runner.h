#pragma once

#include <optional>
#include <string>

#include "download/job_context.h"
#include "download/page_reads.h"
#include "download/rules/file_rule.h"

namespace velnoria {

// Runs the rule of a rules file that took an image: works out the full-size address (reading the
// service page for a page search) and the file name, checks both as the built-in rules' are
// checked, and hands them to the per-file download. Where the rule cannot go on, the reason is
// logged and the thumbnail's address goes to "failed.txt", so nothing is lost; a page that was
// read but holds no hit declines silently, as the built-in rules do.
void runFileRule(JobContext& job, const RuleSet::Taken& taken, const std::string& image);

// What a page-search rule will read for the address it took, so that it can be asked for ahead;
// none for a rule that reads no page (or whose page address cannot be made).
std::optional<PagePlan> planFileRule(const JobContext& job, const RuleSet::Taken& taken);

// An image that no rule takes, inside a link to an image file: the linked file is downloaded,
// under the last part of the link's path.
void fetchLinkedImage(JobContext& job, const std::string& link);

// Text from a page or a rules file as it may stand in a log line: printableText, cut after
// limit bytes.
std::string loggable(std::string_view text, std::size_t limit = 300);

}  // namespace velnoria
