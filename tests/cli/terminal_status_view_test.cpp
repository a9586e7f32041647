#include "cli/terminal_status_view.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/terminal_event_loop.h"
#include "core/temporary_file.h"
#include "download/status_window.h"
#include "platform/event_loop.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

// A stream whose whole content can be read back.
class CapturedStream {
  public:
    CapturedStream() : file_(std::tmpfile()) {}
    ~CapturedStream() { std::fclose(file_); }
    std::FILE* get() const { return file_; }
    std::string text() const {
        std::fflush(file_);
        std::string out;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;) out.push_back(static_cast<char>(c));
        return out;
    }

  private:
    std::FILE* file_;
};

class NoEvents : public EventLoop {
  public:
    void yieldOnce(std::chrono::milliseconds) override {}
};

struct Terminal {
    explicit Terminal(bool live)
        : view(out.get(), err.get(), live, 200), status(runState, view, loop) {}
    CapturedStream out;
    CapturedStream err;
    TerminalStatusView view;
    RunState runState = RunState::Running;
    NoEvents loop;
    StatusWindow status;
};

void runTwoFiles(Terminal& t) {
    t.status.open();
    t.status.showFinishedCount(0);
    t.status.appendLog("Downloading file a.jpg...");
    t.status.setProgressMinimum(0);
    t.status.setProgressValue(0);
    t.status.setProgressMaximum(1000);
    t.status.setProgressValue(500);
    t.status.setProgressValue(1000);
    t.status.appendLog("OK\r\n");
    t.status.showFinishedCount(1);
    t.status.appendLog("Downloading file b.jpg...");
    t.status.appendLog("\r\nWarning! Unknown file size, trying alternative method for download...");
    t.status.appendLog("FAILED\r");
    t.status.appendLog("\nRESTART DOWNLOAD.\r\n");
}

TEST(TerminalStatusView, WritesTheLogLineByLineWithLfEnds) {
    for (const bool live : {false, true}) {
        Terminal t(live);
        runTwoFiles(t);
        TerminalMessageBox box(t.view);
        box.show("Finish", "Task finished !\r\n 1 file(s) downloaded.", MessageIcon::None);
        t.status.close();
        EXPECT_EQ(t.out.text(),
                  "Starting download process...\n"
                  "Downloading file a.jpg...OK\n"
                  "Downloading file b.jpg...\n"
                  "Warning! Unknown file size, trying alternative method for download...FAILED\n"
                  "RESTART DOWNLOAD.\n"
                  "Task finished !\n 1 file(s) downloaded.\n");
        if (!live) {
            EXPECT_EQ(t.err.text(), "");
        }
    }
}

TEST(TerminalStatusView, LiveLineShowsCounterCurrentFileAndProgressOnTheErrorStream) {
    Terminal t(true);
    runTwoFiles(t);
    const std::string err = t.err.text();
    EXPECT_NE(err.find("Download in progress... 1 files finished."), std::string::npos) << err;
    EXPECT_NE(err.find("Downloading file a.jpg..."), std::string::npos);
    EXPECT_NE(err.find("[##########----------] 50%"), std::string::npos);
    EXPECT_NE(err.find("100%"), std::string::npos);
    EXPECT_EQ(err.find('\n'), std::string::npos);
    t.status.close();
    EXPECT_EQ(t.err.text().substr(t.err.text().size() - 4), "\r\033[K");
}

TEST(TerminalStatusView, LiveLineShowsTheTransfersInHand) {
    Terminal t(true);
    t.status.open();
    t.status.showFinishedCount(2);
    t.status.showTransfers(
        {{"a.jpg", 12000, 40000}, {"b\x1b[2J.jpg", 500, -1}, {"c.jpg", 999949, 999950}});
    const std::string err = t.err.text();
    const std::size_t last = err.rfind("\r\033[K");
    ASSERT_NE(last, std::string::npos) << err;
    // The line drawn last: the counter, then each transfer; no byte of a name steers the
    // terminal.
    EXPECT_EQ(err.substr(last + 4),
              " [--------------------] 0%  Download in progress... 2 files finished."
              "  a.jpg: 12.0 kB of 40.0 kB  b\\x1B[2J.jpg: 500 bytes  c.jpg: 999.9 kB of 1.0 MB");

    // Transfers that end leave the line at once; none goes to the log.
    t.status.showTransfers({});
    const std::string after = t.err.text();
    EXPECT_EQ(after.substr(after.rfind("\r\033[K") + 4),
              " [--------------------] 0%  Download in progress... 2 files finished.");
    t.status.close();
    EXPECT_EQ(t.out.text(), "Starting download process...\n");

    Terminal quiet(false);
    quiet.status.open();
    quiet.status.showTransfers({{"a.jpg", 1, 2}});
    EXPECT_EQ(quiet.err.text(), "");
}

TEST(TerminalStatusView, AStoppedFileEndsItsLineBeforeTheFinalMessage) {
    Terminal t(false);
    t.status.open();
    t.status.appendLog("Downloading file big.jpg...");
    TerminalMessageBox box(t.view);
    box.show("Finish", "Task finished !\r\nNo file downloaded.", MessageIcon::None);
    t.status.close();
    EXPECT_EQ(t.out.text(),
              "Starting download process...\n"
              "Downloading file big.jpg...\n"
              "Task finished !\nNo file downloaded.\n");
}

TEST(TerminalStatusView, NoByteFromTheNetworkSteersTheTerminal) {
    for (const bool live : {false, true}) {
        Terminal t(live);
        t.status.open();
        t.status.appendLog(
            "Downloading file \x1b[2Jx\xc2\x9b"
            "1;1H\xff.jpg...");
        t.status.appendLog("FAILED (\x07)\r\nFAILURE LOGGED.\r\n");
        TerminalMessageBox box(t.view);
        box.show("Error", "Cannot save files in /a\x1b]0;b: Not a directory",
                 MessageIcon::Critical);
        EXPECT_EQ(t.out.text(),
                  "Starting download process...\n"
                  "Downloading file \\x1B[2Jx\\xC2\\x9B1;1H\\xFF.jpg...FAILED (\\x07)\n"
                  "FAILURE LOGGED.\n");
        const std::string err = t.err.text();
        EXPECT_NE(err.find("velnoria-get: Cannot save files in /a\\x1B]0;b: Not a directory\n"),
                  std::string::npos);
        // Only the live line's own sequence, carriage return and erase, reaches the terminal.
        std::string rest = err;
        for (std::size_t at; (at = rest.find("\r\033[K")) != std::string::npos;) rest.erase(at, 4);
        EXPECT_EQ(rest.find_first_of("\x1b\x07\xc2\xff"), std::string::npos) << rest;
    }
}

// A second Ctrl+C, or SIGTERM or SIGHUP outside a job, ends the program at once with the
// temporary files in hand removed, however many there are.
TEST(TerminalEventLoop, AnEndingSignalEndsTheProgramAtOnce) {
    const struct {
        const char* what;
        bool inJob;
        std::vector<int> signals;
        int exitCode;
    } cases[] = {
        {"a second Ctrl+C", true, {SIGINT, SIGINT}, 130},
        {"Ctrl+C outside a job", false, {SIGINT}, 130},
        {"SIGTERM outside a job", false, {SIGTERM}, 143},
        {"SIGHUP outside a job", false, {SIGHUP}, 129},
        {"SIGTERM after Ctrl+C", true, {SIGINT, SIGTERM}, 143},
        {"Ctrl+C after SIGHUP", true, {SIGHUP, SIGINT}, 130},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempFolder folder;
        EXPECT_EXIT(
            {
                Terminal t(false);
                TerminalEventLoop loop(false);
                if (c.inJob) loop.beginJob(t.status);
                // Sixteen downloads at once, a page being scanned, and more.
                std::vector<std::unique_ptr<TemporaryFile>> inHand;
                for (int i = 0; i < 40; ++i) {
                    inHand.push_back(
                        std::make_unique<TemporaryFile>(folder.path(), "velnoria-", ".part", 0600));
                }
                for (const int number : c.signals) std::raise(number);  // no yield hands one over
                std::exit(0);
            },
            ::testing::ExitedWithCode(c.exitCode), "");
        EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
    }
}

}  // namespace
}  // namespace velnoria
