#include "update/update_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/update/update_fakes.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::Events;
using testing::TempFolder;

// Hands out a scripted body; "transferred" false after delivering it means the transfer broke.
class ScriptedDownload : public UrlDownload {
  public:
    std::string body;
    bool transferred = true;
    std::string askedFor;
    std::uint64_t askedLimit = 0;

    using UrlDownload::download;
    DownloadOutcome download(const TransferRequest& request, const ByteSink& sink) override {
        askedFor = request.url;
        askedLimit = request.maxBodyBytes;
        DownloadOutcome outcome;
        outcome.httpStatus = 200;
        if (!body.empty()) outcome.written = sink(body.data(), body.size());
        outcome.transferred = transferred;
        return outcome;
    }
};

struct Check {
    Events events;
    UpdateCheckOutcome outcome;
};

Check runCheck(ScriptedDownload& download, const fs::path& folder, bool startingUp) {
    Check check;
    testing::RecordingMessageBox box(check.events);
    testing::RecordingShell shell(check.events);
    const UpdateCheckServices services{
        [&](const std::string& text) { check.events.push_back("status " + text); }, box, shell,
        download, folder};
    check.outcome = checkForUpdate(services, startingUp);
    return check;
}

const std::string kContacting = "status Contacting server, please wait...";
const Events kNewer = {kContacting, kContacting + "OK",
                       "box New version: New version available ! Please visit our site to download",
                       "open http://www.velnoria.example/", "status "};
const Events kNotNewer = {kContacting, kContacting + "OK",
                          "box Update checked: There is no new version available at this time!",
                          "status "};
const Events kNotNewerSilent = {kContacting, kContacting + "OK", "status "};
const Events kFailed = {kContacting, kContacting + "failed.",
                        "box Error (stop): Our page cannot be contacted", "status "};
const Events kFailedSilent = {kContacting, kContacting + "failed.", "status "};

TEST(UpdateCheck, ComparesTheFirstItemWithTheOwnVersion) {
    const struct {
        std::string file;
        bool newer;
    } cases[] = {
        {"2.3", true},
        {"2.2", false},
        {"2.20", false},
        {"2.2.1", false},
        {"2.10", false},
        {"10", true},
        {"2.3 beta\r\nnotes, more notes\r\n", true},
        {"x2.3", false},
        {"2,5", false},
        {"\"2.3\"", true},
        {"  \"2, 5\"", false},
        {"<html><body>404 Not Found</body></html>", false},
        {"", false},
        {"2.21\n", true},
        {"2.2e1", true},
    };
    for (const auto& c : cases) {
        for (const bool startingUp : {false, true}) {
            TempFolder folder;
            ScriptedDownload download;
            download.body = c.file;
            const Check check = runCheck(download, folder.path(), startingUp);
            const Events& expected = c.newer ? kNewer : startingUp ? kNotNewerSilent : kNotNewer;
            EXPECT_EQ(check.events, expected) << '"' << c.file << "\" startingUp " << startingUp;
            EXPECT_EQ(check.outcome, c.newer ? UpdateCheckOutcome::NewerVersion
                                             : UpdateCheckOutcome::NoNewerVersion);
            EXPECT_TRUE(fs::is_empty(folder.path()));
            EXPECT_EQ(download.askedFor, "http://www.velnoria.example/velnoria/version.txt");
        }
    }
}

TEST(UpdateCheck, NoNetworkIsReportedOnlyWhenAskedFor) {
    for (const bool startingUp : {false, true}) {
        TempFolder folder;
        ScriptedDownload download;
        download.transferred = false;
        const Check check = runCheck(download, folder.path(), startingUp);
        EXPECT_EQ(check.events, startingUp ? kFailedSilent : kFailed);
        EXPECT_EQ(check.outcome, UpdateCheckOutcome::Unreachable);
    }
}

TEST(UpdateCheck, BrokenTransferLeavesNoPartialFile) {
    TempFolder folder;
    ScriptedDownload download;
    download.body = "9.9";  // delivered, then the connection broke
    download.transferred = false;
    const Check check = runCheck(download, folder.path(), false);
    EXPECT_EQ(check.events, kFailed);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(UpdateCheck, AVersionTxtOfTheUsersIsNeitherReadNorTouched) {
    struct Case {
        const char* what;
        bool transferred;
        std::string body;
        bool folderInstead;  // a folder named "version.txt" instead of a file
        Events events;
    };
    const Case cases[] = {
        {"the fetch fails", false, "", false, kFailed},
        {"an older version is fetched", true, "1.0", false, kNotNewer},
        {"a folder of that name", true, "2.3", true, kNewer},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const fs::path mine = folder / "version.txt";
        if (c.folderInstead) {
            fs::create_directory(mine);
        } else {
            testing::writeFile(mine, "3.0\r\n");
        }
        ScriptedDownload download;
        download.transferred = c.transferred;
        download.body = c.body;
        EXPECT_EQ(runCheck(download, folder.path(), false).events, c.events) << c.what;
        EXPECT_LE(download.askedLimit, 1024u * 1024u) << c.what;
        if (c.folderInstead) {
            EXPECT_TRUE(fs::is_directory(mine)) << c.what;
        } else {
            EXPECT_EQ(testing::readFile(mine), "3.0\r\n") << c.what;
        }
        // Nothing else is left in the folder.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
            << c.what;
    }
}

// The local copy is read and removed before any box shows.
class FolderWatchingBox : public MessageBox {
  public:
    explicit FolderWatchingBox(fs::path folder) : folder_(std::move(folder)) {}
    void show(const std::string&, const std::string&, MessageIcon) override {
        emptyWhileShown = fs::is_empty(folder_);
        ++shown;
    }
    bool emptyWhileShown = false;
    int shown = 0;

  private:
    fs::path folder_;
};

TEST(UpdateCheck, VersionFileIsGoneWhileTheBoxIsOpen) {
    for (const std::string body : {"2.3", "2.2"}) {
        TempFolder folder;
        ScriptedDownload download;
        download.body = body;
        FolderWatchingBox box(folder.path());
        Events events;
        testing::RecordingShell shell(events);
        checkForUpdate({[](const std::string&) {}, box, shell, download, folder.path()}, false);
        EXPECT_EQ(box.shown, 1);
        EXPECT_TRUE(box.emptyWhileShown) << body;
    }
}

}  // namespace
}  // namespace velnoria
