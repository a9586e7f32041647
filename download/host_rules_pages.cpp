// The rules that read an intermediate page of the service, or the page's links.
#include "download/host_rules.h"

namespace velnoria {

void imageBamRule(JobContext&, const std::string&) {}
void imageVenueRule(JobContext&, const std::string&) {}
void imageHavenRule(JobContext&, const std::string&) {}
void turboImageHostRule(JobContext&, const std::string&) {}
void flickrRule(JobContext&, const std::string&) {}
void photoshareRule(JobContext&, const std::string&) {}

}  // namespace velnoria
