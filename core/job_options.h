#pragma once

namespace velnoria {

// The job's opt-in choices beyond "Start Download" on one page. The defaults are the plain job:
// one page, every file fetched, one file at a time.
struct JobOptions {
    static constexpr int kDefaultMaxPages = 50;
    static constexpr int kLargestMaxPages = 100000;
    static constexpr int kLargestParallel = 16;

    bool allPages = false;  // follow the pages' "next" links
    int maxPages = kDefaultMaxPages;
    bool skipExisting = false;  // a file already saved whole is not fetched again
    int parallel = 1;           // image downloads at once, 1 to 16

    bool operator==(const JobOptions&) const = default;
};

}  // namespace velnoria
