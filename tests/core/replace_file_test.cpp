// The one writer that replaces a file (settings.dat, choices.conf, failed.txt): the file is whole
// at every moment, keeps its permissions, and nothing of the writer's stays behind, whatever
// fails. (An abrupt end during the write: the failed.txt tests.)
#include "core/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>
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

mode_t modeOf(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class ReplaceFile : public ::testing::Test {
  protected:
    void SetUp() override { previousMask_ = ::umask(022); }
    void TearDown() override { ::umask(previousMask_); }

  private:
    mode_t previousMask_ = 0;
};

TEST_F(ReplaceFile, TheFileIsWholeAndKeepsItsPermissions) {
    const struct {
        const char* what;
        std::optional<mode_t> before;  // the old file's mode; none: no old file
        mode_t newFileMode;
        mode_t after;
    } cases[] = {
        {"a first file, less the umask", std::nullopt, 0666, 0644},
        {"a first file of a mode of its own", std::nullopt, 0600, 0600},
        {"private", 0600, 0666, 0600},
        {"writable by the group, beyond the umask", 0664, 0666, 0664},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const fs::path file = folder / "list.txt";
        if (c.before) {
            writeFile(file, "old\r\n");
            ASSERT_EQ(::chmod(file.c_str(), *c.before), 0);
        }
        ASSERT_EQ(replaceFile(file, "new\r\n", c.newFileMode), 0);
        EXPECT_EQ(readFile(file), "new\r\n");
        EXPECT_EQ(modeOf(file), c.after);
        EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"list.txt"});
    }
}

TEST_F(ReplaceFile, WhatFailsLeavesTheOldFileAndNothingElse) {
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
