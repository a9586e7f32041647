#include "shell/desktop_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velnoria {
namespace {

TEST(DesktopCommandLine, ArgumentsAreJoinedBySingleBlanksAndNeedTheSwitchToStart) {
    struct Case {
        std::vector<const char*> arguments;  // after the program's name
        const char* text;
        bool starts;
    };
    const Case cases[] = {
        {{}, "", true},
        {{"x", "/s:y"}, "x /s:y", true},
        {{"x /s:"}, "x /s:", true},
        {{"/s:"}, "/s:", false},
        {{"/p:"}, "/p:", false},
        {{"abc"}, "abc", false},
        {{"x", "/S:y"}, "x /S:y", false},  // the switch is lower-case only
        {{"", "/s:"}, " /s:", true},
        {{"x/s:y"}, "x/s:y", false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"velnoria-morvath"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const std::string text = argumentText(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(commandLineAllowsStart(text), c.starts) << c.text;
    }
}

}  // namespace
}  // namespace velnoria
