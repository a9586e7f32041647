// The choices beside settings.dat: read tolerantly, written whole, nothing of a newer program's
// lost.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "core/choices.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

using Keys = std::vector<std::pair<std::string, std::string>>;

TEST(ChoicesFile, ReadsWhatItKnowsAndKeepsTheRest) {
    const struct {
        const char* what;
        std::string text;
        std::string rulesFile = {};
        bool linkedImages = false;
        Keys otherKeys = {};
        // The job options of the Settings dialog.
        bool followNextPages = false;
        bool skipExisting = false;
        int downloadsAtOnce = 1;
        // The archive, the templates, watching.
        bool rememberSaved = false;
        std::string folderTemplate = {};
        std::string nameTemplate = {};
        int watchMinutes = 0;
    } cases[] = {
        {"empty", "", "", false, {}},
        {"as written",
         "rules-file = /home/ann/r.toml\nlinked-images = true\n",
         "/home/ann/r.toml",
         true,
         {}},
        {"blanks, CR LF, comments",
         "# mine\r\n\r\n  rules-file\t=  rules dir/a.toml  \r\nlinked-images=yes\r\n",
         "rules dir/a.toml",
         true,
         {}},
        {"the last of a key counts", "linked-images = 1\nlinked-images = false\n", "", false, {}},
        {"an unreadable yes/no keeps the default", "linked-images = maybe\n", "", false, {}},
        {"an equals sign in a value", "rules-file = a=b.toml\n", "a=b.toml", false, {}},
        {"unknown keys kept in order, the last value of each",
         "all-pages = true\nrules-file = r.toml\nparallel = 4\nall-pages = false\n", "r.toml",
         false, Keys{{"all-pages", "false"}, {"parallel", "4"}}},
        {"lines without a key or an equals sign",
         "= x\njunk line\nlinked-images = TRUE\n",
         "",
         true,
         {}},
        {"a NUL in a line",
         std::string("rules-file = a\0b\nlinked-images = true", 37),
         "",
         true,
         {}},
        {"no line end at the end", "rules-file = last.toml", "last.toml", false, {}},
        {"the job options as written",
         "follow-next-pages = true\nskip-existing=yes\ndownloads-at-once = 8\n",
         "",
         false,
         {},
         true,
         true,
         8},
        {"job options among the others, CR LF",
         "# comment\r\n  follow-next-pages =  1 \r\nrules-file = /x/rules.toml\r\n",
         "/x/rules.toml",
         false,
         {},
         true,
         false,
         1},
        {"downloads at once out of range or unreadable, a yes/no unreadable",
         "downloads-at-once = 17\nskip-existing = maybe\ndownloads-at-once = 0\n"
         "downloads-at-once = x\ndownloads-at-once = -2\ndownloads-at-once = 008\n",
         "",
         false,
         {}},
        {"the last readable count counts",
         "downloads-at-once = 4\ndownloads-at-once = 16\n",
         "",
         false,
         {},
         false,
         false,
         16},
        {"a key without its equals sign on its line", "follow-next-pages\n= true\n", "", false, {}},
        {.what = "the archive, the templates and watching as written",
         .text = "remember-saved = true\nfolder-template = {host}/{title}\n"
                 "name-template =  {index:03} = {name}.{ext} \nwatch-minutes = 10080\n",
         .rememberSaved = true,
         .folderTemplate = "{host}/{title}",
         .nameTemplate = "{index:03} = {name}.{ext}",
         .watchMinutes = 10080},
        {.what = "watch minutes out of range or unreadable, the last readable counts",
         .text = "watch-minutes = 15\nwatch-minutes = 10081\nwatch-minutes = -1\n"
                 "watch-minutes = soon\nwatch-minutes = 000015\nremember-saved = maybe\n",
         .watchMinutes = 15},
        {.what = "never watched, templates emptied",
         .text = "watch-minutes = 9\nwatch-minutes = 0\nname-template = x\nname-template =\n",
         .watchMinutes = 0},
        {"a byte order mark before the first key",
         "\xEF\xBB\xBFrules-file = bom.toml\nlinked-images = true\n",
         "bom.toml",
         true,
         {}},
        {"lone CR line ends",
         "rules-file = mac.toml\rlinked-images = true\r",
         "mac.toml",
         true,
         {}},
    };
    for (const auto& c : cases) {
        const Choices read = parseChoicesText(c.text);
        EXPECT_EQ(read.rulesFile, c.rulesFile) << c.what;
        EXPECT_EQ(read.linkedImages, c.linkedImages) << c.what;
        EXPECT_EQ(read.otherKeys, c.otherKeys) << c.what;
        EXPECT_EQ(read.followNextPages, c.followNextPages) << c.what;
        EXPECT_EQ(read.skipExisting, c.skipExisting) << c.what;
        EXPECT_EQ(read.downloadsAtOnce, c.downloadsAtOnce) << c.what;
        EXPECT_EQ(read.rememberSaved, c.rememberSaved) << c.what;
        EXPECT_EQ(read.folderTemplate, c.folderTemplate) << c.what;
        EXPECT_EQ(read.nameTemplate, c.nameTemplate) << c.what;
        EXPECT_EQ(read.watchMinutes, c.watchMinutes) << c.what;
    }
}

TEST(ChoicesFile, WhatIsWrittenReadsBackWithTheKeysOfANewerProgram) {
    TempFolder folder;
    const fs::path file = folder / "choices.conf";
    writeFile(file, "parallel = 8\nrules-file = old.toml\n");
    Choices choices = *readChoicesFile(file);
    choices.rulesFile = "/rules/new one.toml";
    choices.linkedImages = true;
    choices.skipExisting = true;
    choices.downloadsAtOnce = 16;
    choices.rememberSaved = true;
    choices.folderTemplate = "{host}/{title}";
    choices.watchMinutes = 60;
    ASSERT_TRUE(writeChoicesFile(file, choices));
    EXPECT_EQ(readFile(file),
              "# Velnoria Morvath: choices beside settings.dat, one \"key = value\" a line.\n"
              "rules-file = /rules/new one.toml\nlinked-images = true\n"
              "follow-next-pages = false\nskip-existing = true\ndownloads-at-once = 16\n"
              "remember-saved = true\nfolder-template = {host}/{title}\nname-template = \n"
              "watch-minutes = 60\nparallel = 8\n");
    EXPECT_EQ(*readChoicesFile(file), choices);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(ChoicesFile, AValueThatCouldNotBeReadBackIsNotWritten) {
    TempFolder folder;
    const fs::path file = folder / "choices.conf";
    writeFile(file, "rules-file = kept.toml\n");
    for (const std::string& bad :
         {std::string("two\nlines"), std::string("cr\rhere"), std::string("nul\0", 4)}) {
        Choices choices;
        choices.rulesFile = bad;
        EXPECT_FALSE(writeChoicesFile(file, choices));
        Choices other;
        other.otherKeys = {{"key", bad}};
        EXPECT_FALSE(writeChoicesFile(file, other));
    }
    Choices badKey;
    badKey.otherKeys = {{"a=b", "c"}};
    EXPECT_FALSE(writeChoicesFile(file, badKey));
    for (const int count : {0, -1, kMostDownloadsAtOnce + 1}) {
        Choices badCount;
        badCount.downloadsAtOnce = count;
        EXPECT_FALSE(writeChoicesFile(file, badCount)) << count;
    }
    for (const int minutes : {-1, kLongestWatchMinutes + 1}) {
        Choices badMinutes;
        badMinutes.watchMinutes = minutes;
        EXPECT_FALSE(writeChoicesFile(file, badMinutes)) << minutes;
    }
    Choices badTemplate;
    badTemplate.nameTemplate = "{index}\n{name}";
    EXPECT_FALSE(writeChoicesFile(file, badTemplate));
    EXPECT_EQ(readFile(file), "rules-file = kept.toml\n");
}

TEST(ChoicesFile, MissingOddAndLargeFiles) {
    TempFolder folder;
    EXPECT_FALSE(readChoicesFile(folder / "none.conf"));
    EXPECT_FALSE(readChoicesFile(folder.path()));
    const fs::path fifo = folder / "fifo.conf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readChoicesFile(fifo));  // and does not wait for a writer

    // Past the read limit only whole lines count: the line cut at the limit is left out.
    const fs::path large = folder / "large.conf";
    std::string text = "linked-images = true\n";
    while (text.size() < kChoicesReadLimit - 10) text += "# filler\n";
    text += "rules-file = " + std::string(100, 'x') + "\n";
    writeFile(large, text);
    const auto read = readChoicesFile(large);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->linkedImages);
    EXPECT_EQ(read->rulesFile, "");
}

TEST(ChoicesFile, ALinkTheUserMadeStaysALinkAndPermissionsStay) {
    TempFolder folder;
    const fs::path real = folder / "real.conf";
    const fs::path link = folder / "choices.conf";
    writeFile(real, "rules-file = a.toml\n");
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    fs::create_symlink(real, link);
    Choices choices;
    choices.linkedImages = true;
    ASSERT_TRUE(writeChoicesFile(link, choices));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(readChoicesFile(real)->linkedImages);
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(ChoicesFile, AFolderThatCannotBeWrittenLeavesNothing) {
    TempFolder folder;
    EXPECT_FALSE(writeChoicesFile(folder / "missing" / "choices.conf", Choices{}));
}

}  // namespace
}  // namespace velnoria
