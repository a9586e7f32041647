// velnoria-get's options as --help lists them, against every other place that lists them: the
// manual page and the shell completion. An option added to the program fails here until it is
// documented everywhere; the same goes for the desktop program's menu argument and the version.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "core/program_identity.h"
#include "shell/menu_launch.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using Options = std::set<std::string>;

const fs::path kSource = VELNORIA_SOURCE_DIR;

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << file;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string helpText() {
    std::string text;
    FILE* pipe = ::popen("'" VELNORIA_GET_PATH "' --help", "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0);
    return text;
}

Options longOptions(const std::string& text) {
    static const std::regex option("--[a-z][a-z0-9-]*");
    Options found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        found.insert(it->str());
    }
    return found;
}

// The options that start an indented line of the help text ("  --timeout SECONDS   ...").
Options helpOptions(const std::string& help) {
    static const std::regex entry(R"(^\s+(-[a-zA-Z], )?(--[a-z][a-z0-9-]*))");
    Options found;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, entry)) found.insert(match[2]);
    }
    return found;
}

// The options a manual page documents: the line after each ".TP" of its OPTIONS section.
Options manualPageOptions(const std::string& page) {
    Options found;
    std::istringstream lines(page);
    bool inOptions = false;
    bool afterTp = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(".SH")) inOptions = line == ".SH OPTIONS";
        if (inOptions && afterTp) {
            for (std::size_t at; (at = line.find("\\-")) != std::string::npos;) line.erase(at, 1);
            found.merge(longOptions(line));
        }
        afterTp = line == ".TP";
    }
    return found;
}

TEST(UserDocumentation, HelpManualPageAndCompletionNameTheSameOptions) {
    const Options help = helpOptions(helpText());
    // The parse itself works: these are in every version of the help.
    ASSERT_TRUE(help.contains("--help") && help.contains("--version")) << helpText();

    struct Place {
        const char* file;
        Options options;
    };
    const Place places[] = {
        {"data/man/velnoria-get.1",
         manualPageOptions(readFile(kSource / "data/man/velnoria-get.1"))},
        {"data/completion/velnoria-get.bash",
         longOptions(readFile(kSource / "data/completion/velnoria-get.bash"))},
        {"data/completion/_velnoria-get",
         longOptions(readFile(kSource / "data/completion/_velnoria-get"))},
    };
    for (const Place& place : places) {
        for (const std::string& option : help) {
            EXPECT_TRUE(place.options.contains(option))
                << "velnoria-get --help lists " << option << ", " << place.file << " does not";
        }
        for (const std::string& option : place.options) {
            EXPECT_TRUE(help.contains(option))
                << place.file << " lists " << option << ", velnoria-get --help does not";
        }
    }
}

TEST(UserDocumentation, TheMenuEntryPassesTheArgumentTheProgramTakesAndItsPageDocuments) {
    const std::string argument(kMenuLaunchArgument);
    const std::string entry = readFile(kSource / "shell/resources/velnoria-morvath.desktop");
    EXPECT_NE(entry.find("\nExec=velnoria-morvath " + argument + "\n"), std::string::npos) << entry;
    EXPECT_EQ(manualPageOptions(readFile(kSource / "data/man/velnoria-morvath.1")),
              Options{argument});
}

TEST(UserDocumentation, EveryFileThatNamesTheVersionNamesTheProgramsOne) {
    const std::string version = kVersionText;
    struct Place {
        const char* file;
        const char* pattern;  // its first group is the version
    };
    const Place places[] = {
        {"debian/changelog", R"re(^velnoria-morvath \(([^)]+)\))re"},
        {"data/example.velnoria.VelnoriaMorvath.metainfo.xml", R"re(<release version="([^"]+)")re"},
        {"data/man/velnoria-get.1", R"re(\.TH \S+ 1 \S+ "velnoria-get ([^"]+)")re"},
        {"data/man/velnoria-morvath.1", R"re(\.TH \S+ 1 \S+ "Velnoria Morvath ([^"]+)")re"},
    };
    for (const Place& place : places) {
        const std::string text = readFile(kSource / place.file);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(text, match, std::regex(place.pattern))) << place.file;
        EXPECT_EQ(match[1], version) << place.file;
    }
}

TEST(UserDocumentation, TheMetainfoScreenshotsAreThoseOfTheDocumentation) {
    const std::string metainfo =
        readFile(kSource / "data/example.velnoria.VelnoriaMorvath.metainfo.xml");
    static const std::regex image("<image>[^<]*/([^/<]+)</image>");
    int count = 0;
    for (auto it = std::sregex_iterator(metainfo.begin(), metainfo.end(), image);
         it != std::sregex_iterator(); ++it, ++count) {
        EXPECT_TRUE(fs::exists(kSource / "docs/screenshots" / (*it)[1].str())) << (*it)[1];
    }
    EXPECT_GE(count, 1);
}

}  // namespace
}  // namespace velnoria
