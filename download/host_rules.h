#pragma once

#include <string>

#include "download/job_context.h"

namespace velnoria {

// A host rule: turns the matched address into TargetUrl/TargetName and downloads it, or
// declines by doing nothing.
using HostRule = void (*)(JobContext& job, const std::string& entry);

// The rule of a slot; nullptr for a slot without one (the placeholder slot 4, empty slots).
HostRule hostRuleFor(int slot);

// The rules, one per slot.
void imageBamRule(JobContext& job, const std::string& entry);
void imageVenueRule(JobContext& job, const std::string& entry);
void imageHavenRule(JobContext& job, const std::string& entry);
void imageShackRule(JobContext& job, const std::string& entry);
void googleUserContentRule(JobContext& job, const std::string& entry);
void onSugarRule(JobContext& job, const std::string& entry);
void hqCityRule(JobContext& job, const std::string& entry);
void skinsRule(JobContext& job, const std::string& entry);
void radikalRule(JobContext& job, const std::string& entry);
void turboImageHostRule(JobContext& job, const std::string& entry);
void flickrRule(JobContext& job, const std::string& entry);
void photofileRule(JobContext& job, const std::string& entry);
void shareNxsRule(JobContext& job, const std::string& entry);
void frillrRule(JobContext& job, const std::string& entry);
void webshotsRule(JobContext& job, const std::string& entry);
void yandexFotkiRule(JobContext& job, const std::string& entry);
void photoshareRule(JobContext& job, const std::string& entry);

}  // namespace velnoria
