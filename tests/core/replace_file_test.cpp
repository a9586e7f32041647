// The one writer that replaces a file (settings.dat, choices.conf, failed.txt): the file is whole
// at every moment, keeps its permissions, and nothing of the writer's stays behind, whatever
// fails. (Permissions and an abrupt end during the write: the failed.txt and choices.conf tests.)
#include "core/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scoped_tmpfs.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::namesIn;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

TEST(ReplaceFile, WhatFailsLeavesTheOldFileAndNothingElse) {
    testing::ScopedTmpfs full("8k");
    const struct {
        const char* what;
        std::string name;
        int error;
        bool needsMount = false;
    } cases[] = {
        {"a folder of that name", "folder", EISDIR},
        {"a named pipe", "pipe", EINVAL},
        {"no folder", "missing/list.txt", ENOENT},
        {"a full disk", "list.txt", ENOSPC, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsMount && !full.mounted()) continue;
        TempFolder scratch;
        const fs::path folder = c.needsMount ? full.path() : scratch.path();
        fs::create_directory(folder / "folder");
        ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
        writeFile(folder / "list.txt", "old");
        const std::vector<std::string> before = namesIn(folder);

        EXPECT_EQ(replaceFile(folder / c.name, std::string(16 * 1024, 'n')), c.error);
        EXPECT_EQ(readFile(folder / "list.txt"), "old");
        EXPECT_EQ(namesIn(folder), before);
        fs::remove_all(folder / "folder");
        fs::remove(folder / "pipe");
        fs::remove(folder / "list.txt");
    }
}

}  // namespace
}  // namespace velnoria
