// The project's own documents name files and folders of the tree for the next engineer to open:
// every one of them must be there, so a file that moves or goes takes its mentions with it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace velnoria {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = VELNORIA_SOURCE_DIR;

// What stands between backquotes and has the shape of a path in the tree: a known top folder,
// then names of files or folders.
std::vector<std::string> namedPaths(const std::string& text) {
    static const std::regex path(
        "`((?:app|bench|cli|core|data|debian|docs|download|fuzz|platform|rules|scripts|shell|"
        "tests|update)/[A-Za-z0-9_./-]*)`");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), path);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

TEST(NamedPaths, EveryPathADocumentNamesIsInTheTree) {
    int checked = 0;
    for (const char* document : {"README.md", "docs/architecture.md", "docs/rules.md",
                                 "bench/README.md", "fuzz/README.md"}) {
        std::ifstream in(kSource / document, std::ios::binary);
        ASSERT_TRUE(in) << document;
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        for (const std::string& path : namedPaths(text)) {
            EXPECT_TRUE(fs::exists(kSource / path)) << document << " names " << path;
            ++checked;
        }
    }
    // The architecture page alone names dozens; a regular expression that found none would pass
    // everything.
    EXPECT_GT(checked, 40);
}

TEST(NamedPaths, OnlyPathShapesAreTaken) {
    EXPECT_EQ(namedPaths("see `download/job_context.h` and `core/` but not `job.pages` or "
                         "`downloads/x.h` nor download/plain.cpp"),
              (std::vector<std::string>{"download/job_context.h", "core/"}));
}

}  // namespace
}  // namespace velnoria
