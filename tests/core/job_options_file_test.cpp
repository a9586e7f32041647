#include "core/job_options_file.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

TEST(JobOptionsFile, ReadsItsKeysAndLeavesEveryOtherLine) {
    const struct {
        std::string text;
        JobOptions options;
    } cases[] = {
        {"", {}},
        {"follow-next-pages = true\nskip-existing=yes\ndownloads-at-once = 8\n",
         {true, JobOptions::kDefaultMaxPages, true, 8}},
        {"# comment\r\n  follow-next-pages =  1 \r\nrules-file = /x/rules.toml\r\n",
         {true, JobOptions::kDefaultMaxPages, false, 1}},
        {"downloads-at-once = 17\nskip-existing = maybe\n", {}},
        {"downloads-at-once = 0\ndownloads-at-once = x\n", {}},
        {"downloads-at-once = 4\ndownloads-at-once = 16\n", {false, 50, false, 16}},
        {"follow-next-pages\n= true\n", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseJobOptions(c.text), c.options) << c.text;
    }

    const JobOptions mine{true, 50, false, 4};
    EXPECT_EQ(withJobOptions("", mine),
              "follow-next-pages = true\nskip-existing = false\ndownloads-at-once = 4\n");
    // Other keys and comments stay where they are; a repeated key of ours is written once.
    EXPECT_EQ(withJobOptions("# mine\nrules-file = r.toml\ndownloads-at-once=2\nlinked-images = "
                             "true\ndownloads-at-once = 9\n",
                             mine),
              "# mine\nrules-file = r.toml\ndownloads-at-once = 4\nlinked-images = true\n"
              "follow-next-pages = true\nskip-existing = false\n");
    EXPECT_EQ(parseJobOptions(withJobOptions("anything = else\n", mine)), mine);
}

}  // namespace
}  // namespace velnoria
