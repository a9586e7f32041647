#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/settings.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

struct Start {
    Settings settings;
    std::vector<std::string> reports;
};

Start startIn(const fs::path& folder) {
    Start start;
    start.settings = loadStartupSettings(
        folder, [&](const std::string& text) { start.reports.push_back(text); });
    return start;
}

TEST(StartupSettings, FirstStartCreatesTheFileAndTheFolderThenStaysSilent) {
    TempFolder folder;
    const std::string images = folder.path().string() + "/images";

    const Start first = startIn(folder.path());
    EXPECT_EQ(readFile(folder / "settings.dat"), "CURDIR$\\images\r\n 30 \r\n 102400 \r\n");
    EXPECT_EQ(first.reports, std::vector<std::string>{"Error: save path does not exist ! "});
    EXPECT_TRUE(fs::is_directory(images));
    EXPECT_EQ(first.settings.savePath, images);
    EXPECT_EQ(first.settings.timeoutSeconds, 30);
    EXPECT_EQ(first.settings.pieceSize, 102400);

    const Start second = startIn(folder.path());
    EXPECT_TRUE(second.reports.empty());
    EXPECT_EQ(second.settings.savePath, images);
    // Start-up never rewrites an existing file: the token stays in it.
    EXPECT_EQ(readFile(folder / "settings.dat"), "CURDIR$\\images\r\n 30 \r\n 102400 \r\n");
}

TEST(StartupSettings, TokenAndEmptyPathFollowTheCurrentFolder) {
    for (const std::string firstLine : {"CURDIR$\\images", "", "   "}) {
        TempFolder folder;
        fs::create_directory(folder / "images");
        writeFile(folder / "settings.dat", firstLine + "\r\n 10 \r\n 2048 \r\n");
        const Start start = startIn(folder.path());
        EXPECT_EQ(start.settings.savePath, folder.path().string() + "/images") << firstLine;
        EXPECT_EQ(start.settings.timeoutSeconds, 10);
        EXPECT_EQ(start.settings.pieceSize, 2048);
        EXPECT_TRUE(start.reports.empty());
    }
}

TEST(StartupSettings, OtherLetterCaseOfTheTokenIsAnOrdinaryPath) {
    TempFolder folder;
    writeFile(folder / "settings.dat", "curdir$\\images\r\n 30 \r\n 102400 \r\n");
    const Start start = startIn(folder.path());
    EXPECT_EQ(start.settings.savePath, "curdir$\\images");
    EXPECT_EQ(start.reports.size(), 1u);
}

TEST(StartupSettings, DeletedSaveFolderIsReportedAndKept) {
    TempFolder folder;
    const std::string chosen = folder.path().string() + "/chosen, by me";
    writeFile(folder / "settings.dat", chosen + "\r\n 30 \r\n 102400 \r\n");

    const Start start = startIn(folder.path());
    EXPECT_EQ(start.reports.size(), 1u);
    EXPECT_EQ(start.settings.savePath, chosen);
    EXPECT_FALSE(fs::exists(chosen));
    EXPECT_TRUE(fs::is_directory(folder / "images"));
}

TEST(StartupSettings, AFileAtTheSavePathCountsAsExisting) {
    TempFolder folder;
    const std::string target = folder.path().string() + "/plain-file";
    writeFile(target, "x");
    writeFile(folder / "settings.dat", target + "\r\n 30 \r\n 102400 \r\n");
    EXPECT_TRUE(startIn(folder.path()).reports.empty());
}

TEST(StartupSettings, ReadOnlyFolderDoesNotStopTheStart) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TempFolder folder;
    const fs::path locked = folder / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    const Start start = startIn(locked);
    EXPECT_EQ(start.reports.size(), 1u);
    EXPECT_EQ(start.settings.savePath, locked.string() + "/images");
    EXPECT_FALSE(fs::exists(locked / "images"));
    EXPECT_FALSE(fs::exists(locked / "settings.dat"));
    fs::permissions(locked, fs::perms::owner_all);
}

TEST(StartupSettings, SomethingOtherThanAFileNamedSettingsDatKeepsTheDefaults) {
    TempFolder folder;
    fs::create_directory(folder / "settings.dat");
    const Start start = startIn(folder.path());
    EXPECT_EQ(start.settings.savePath, folder.path().string() + "/images");
    EXPECT_EQ(start.settings.timeoutSeconds, 30);
    EXPECT_TRUE(fs::is_directory(folder / "settings.dat"));

    TempFolder piped;
    ASSERT_EQ(::mkfifo((piped / "settings.dat").c_str(), 0600), 0);
    // Opening a pipe with no writer would block the start for good.
    EXPECT_EQ(startIn(piped.path()).settings.pieceSize, 102400);
}

TEST(StartupSettings, ImagesPathTakenByAFileDoesNotCrash) {
    TempFolder folder;
    writeFile(folder / "images", "not a folder");
    writeFile(folder / "settings.dat", "/no/such/folder/anywhere\r\n 30 \r\n 102400 \r\n");
    const Start start = startIn(folder.path());
    EXPECT_EQ(start.reports.size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(folder / "images"));
}

}  // namespace
}  // namespace velnoria
