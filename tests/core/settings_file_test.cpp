#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>

#include "core/settings.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

Settings make(std::string path, int timeout, std::int32_t piece) {
    Settings s;
    s.savePath = std::move(path);
    s.timeoutSeconds = timeout;
    s.pieceSize = piece;
    return s;
}

TEST(SettingsFile, WritesTheExactBytes) {
    const struct {
        Settings settings;
        std::string bytes;
    } cases[] = {
        {Settings{}, "CURDIR$\\images\r\n 30 \r\n 102400 \r\n"},
        {make("/home/ann/pics, old", 45, 51200), "/home/ann/pics, old\r\n 45 \r\n 51200 \r\n"},
        {make("", 0, 1), "\r\n 0 \r\n 1 \r\n"},
        {make("/x", 255, -5), "/x\r\n 255 \r\n-5 \r\n"},
        {make("/x", 7, -2147483647 - 1), "/x\r\n 7 \r\n-2147483648 \r\n"},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        EXPECT_EQ(settingsFileText(c.settings), c.bytes);
        ASSERT_TRUE(writeSettingsFile(folder / "settings.dat", c.settings));
        EXPECT_EQ(readFile(folder / "settings.dat"), c.bytes);
    }
}

TEST(SettingsFile, ReadsEachValueOrFallsBackToItsDefault) {
    const struct {
        std::string text;
        std::string path;
        int timeout;
        std::int32_t piece;
    } cases[] = {
        {"CURDIR$\\images\r\n 30 \r\n 102400 \r\n", "CURDIR$\\images", 30, 102400},
        {"/data/a,b,c\r\n 45 \r\n 51200 \r\n", "/data/a,b,c", 45, 51200},
        {"   /lead/blanks  \n 1\n 2\n", "/lead/blanks  ", 1, 2},
        {"/lf\n\t9\t\n 77 \n", "/lf", 9, 77},
        {"\"/quoted\"\r\n 1 \r\n 2 \r\n", "\"/quoted\"", 1, 2},
        {"/cr-only\r 3 \r 4 \r", "/cr-only", 3, 4},
        {"/r\r\n 7.5 \r\n 6.5 \r\n", "/r", 8, 6},
        {"\r\n 1 \r\n 2 \r\n", "CURDIR$\\images", 1, 2},
        {"", "CURDIR$\\images", 30, 102400},
        {"/only-a-path", "/only-a-path", 30, 102400},
        {"/p\r\n 12", "/p", 12, 102400},
        {"/p\r\n\r\n 512 \r\n", "/p", 30, 512},
        {"/p\r\n 256 \r\n 0 \r\n", "/p", 30, 102400},
        {"/p\r\n -1 \r\n -5 \r\n", "/p", 30, 102400},
        {"/p\r\n 255 \r\n 2147483647 \r\n", "/p", 255, 2147483647},
        {"/p\r\n 0 \r\n 2147483648 \r\n", "/p", 0, 102400},
        {"/p\r\n 12abc \r\n 1 5 \r\n", "/p", 30, 102400},
        {"/p\r\n abc \r\n 1e400 \r\n", "/p", 30, 102400},
        {std::string("/nul\0here\r\n 5 \r\n 6 \r\n", 21), "CURDIR$\\images", 5, 6},
    };
    for (const auto& c : cases) {
        const Settings s = parseSettingsText(c.text);
        EXPECT_EQ(s.savePath, c.path) << c.text;
        EXPECT_EQ(s.timeoutSeconds, c.timeout) << c.text;
        EXPECT_EQ(s.pieceSize, c.piece) << c.text;
    }
}

TEST(SettingsFile, ReadsBackWhatItWrote) {
    TempFolder folder;
    const Settings written = make("/srv/my pictures, 2026", 0, 1);
    ASSERT_TRUE(writeSettingsFile(folder / "settings.dat", written));
    const auto read = readSettingsFile(folder / "settings.dat");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->savePath, written.savePath);
    EXPECT_EQ(read->timeoutSeconds, 0);
    EXPECT_EQ(read->pieceSize, 1);
}

TEST(SettingsFile, HugeOrBinaryFilesGiveDefaults) {
    TempFolder folder;
    const auto file = folder / "settings.dat";

    // One endless line: it is cut, so it is no path.
    writeFile(file, std::string(10 * 1024 * 1024, 'a'));
    auto read = readSettingsFile(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->savePath, Settings::kCurrentFolderToken);
    EXPECT_EQ(read->timeoutSeconds, 30);
    EXPECT_EQ(read->pieceSize, 102400);

    // Good lines followed by a long tail are still read.
    writeFile(file, "/ok\r\n 40 \r\n 4096 \r\n" + std::string(200000, 'z'));
    read = readSettingsFile(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->savePath, "/ok");
    EXPECT_EQ(read->timeoutSeconds, 40);
    EXPECT_EQ(read->pieceSize, 4096);

    // The cut falls inside the piece-size line: that value does not count.
    writeFile(file, "/ok\r\n 40 \r\n" + std::string(kSettingsReadLimit, '1'));
    read = readSettingsFile(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->timeoutSeconds, 40);
    EXPECT_EQ(read->pieceSize, 102400);

    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
    writeFile(file, binary);
    read = readSettingsFile(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->savePath, Settings::kCurrentFolderToken);
    EXPECT_EQ(read->timeoutSeconds, 30);
    EXPECT_EQ(read->pieceSize, 102400);
}

TEST(SettingsFile, MissingFileOrFolderIsReported) {
    TempFolder folder;
    EXPECT_FALSE(readSettingsFile(folder / "settings.dat"));
    EXPECT_FALSE(writeSettingsFile(folder / "no-such-folder" / "settings.dat", Settings{}));
    // A pipe with no reader would block the writer for good.
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(writeSettingsFile(folder / "pipe", Settings{}));

    // A disk that fills up once the file is open: reported, and the old settings stay whole.
    const std::string old = "/old\r\n 30 \r\n 102400 \r\n";
    writeFile(folder / "settings.dat", old);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldAction = ::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = before;
    tiny.rlim_cur = 10;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = writeSettingsFile(folder / "settings.dat", make("/new/and/longer", 1, 2));
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldAction);
    EXPECT_FALSE(written);
    EXPECT_EQ(readFile(folder / "settings.dat"), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              2);  // settings.dat and the pipe: nothing half-written beside them
}

TEST(SettingsFile, ALinkTheUserMadeKeepsPointingWhereItDid) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "real");
    writeFile(folder / "real" / "settings.dat", "/old\r\n 30 \r\n 102400 \r\n");
    std::filesystem::create_symlink(folder / "real" / "settings.dat", folder / "settings.dat");
    ASSERT_TRUE(writeSettingsFile(folder / "settings.dat", make("/new", 5, 6)));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "settings.dat"));
    EXPECT_EQ(readFile(folder / "real" / "settings.dat"), "/new\r\n 5 \r\n 6 \r\n");
}

}  // namespace
}  // namespace velnoria
