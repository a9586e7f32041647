#pragma once

// Stand-ins for the platform, for tests of the job's logic without a network.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/download_job.h"
#include "download/host_rules.h"
#include "download/job_context.h"
#include "download/program_state.h"
#include "download/status_window.h"
#include "tests/support/fake_transfer_engine.h"
#include "tests/support/temp_folder.h"

namespace velnoria::testing {

class FakeUrlCache : public UrlCache {
  public:
    void deleteEntry(const std::string& url) override { deleted.push_back(url); }
    std::vector<std::string> deleted;
};

// Nothing to handle but the test's own hook; a yield that may block sleeps that long, as an
// idle window system would.
class FakeEventLoop : public EventLoop {
  public:
    void yieldOnce(std::chrono::milliseconds maxBlock) override;
    int yields = 0;
    std::function<void(int)> onYield;
};

class RecordingStatusView : public StatusView {
  public:
    void open() override {
        ++opens;
        shownWith = log + "|" + counter;
    }
    void close() override { ++closes; }
    void setLog(const std::string& text) override { log = text; }
    void appendLog(const std::string& text) override { log += text; }
    void setCounter(const std::string& text) override { counter = text; }
    void setProgress(double minimum, double maximum, double value) override;
    void setPauseCaption(const std::string&) override {}
    void setStopEnabled(bool enabled) override { stopEnabled = enabled; }
    void showTransfers(const std::vector<TransferRow>& rows) override { transfers.push_back(rows); }

    int opens = 0;
    std::string shownWith;  // "log|counter" as they stood when the window was shown
    bool stopEnabled = true;
    int closes = 0;
    std::string log;
    std::string counter;
    double maximum = 100;
    std::vector<double> values;                       // every progress value shown, in order
    std::vector<std::vector<TransferRow>> transfers;  // every list of transfers shown, in order
};

class FakeDocument : public BrowserDocument {
  public:
    std::vector<std::string> imageSources() override { return images; }
    std::vector<std::string> linkTargets() override { return links; }
    // The images, each in the link of the same index in imageLinks ("" or none: in no link).
    std::vector<ImageInLink> imagesWithLinks() override;
    std::vector<std::string> images;
    std::vector<std::string> links;
    std::vector<std::string> imageLinks;
    int imagesWithLinksReads = 0;
};

class FakeMessageBox : public MessageBox {
  public:
    void show(const std::string& title, const std::string& text, MessageIcon) override {
        shown.push_back(title + "|" + text);
        if (onShow) onShow();
    }
    std::vector<std::string> shown;
    std::function<void()> onShow;
};

class FakeShell : public Shell {
  public:
    void openFolder(const std::string& folder) override { folders.push_back(folder); }
    void openUrl(const std::string&) override {}
    std::vector<std::string> folders;
};

// A whole job's surroundings: program state with a save folder and a work folder in a temporary
// folder, and platform pieces that are either fakes or supplied by the test.
struct JobBench {
    explicit JobBench(TransferEngine* engine = nullptr, EventLoop* eventLoop = nullptr,
                      UrlCache* urlCache = nullptr);

    JobResult run(const std::string& addressBoxText = "http://forum.test/thread");
    // A job set up as Start Download sets it up (the status window opened), for calling its
    // parts directly; the page in hand is the document's, found at addressBoxText.
    std::unique_ptr<JobSurroundings> beginJob(
        const std::string& addressBoxText = "http://forum.test/thread");
    // One file handed to a job of its own, as a rule hands it over; the job's counts after it.
    JobCounts fetch(const DownloadTarget& target);
    // A dry run of the same: the lines it reports, "THUMBNAIL -> URL NAME" or
    // "THUMBNAIL -> (declined: REASON)".
    std::vector<std::string> dryRun(const std::string& addressBoxText = "http://forum.test/thread");
    // A retry of these addresses, as velnoria-get --retry-failed runs it.
    JobResult retry(const std::vector<std::string>& addresses);
    std::filesystem::path saved(const std::string& name) const { return saveFolder / name; }
    std::string failedTxt() const;
    // Names of the files in the work folder, and in the folder of the scratch files (to see
    // files left behind).
    std::vector<std::string> workFolderFiles() const;
    std::vector<std::string> scratchFiles() const;

    TempFolder temp;
    TempFolder scratch;
    std::filesystem::path saveFolder;
    ProgramState program;
    HostRuleMemory memory;
    FakeTransferEngine fakeEngine;
    FakeUrlCache cache;
    FakeEventLoop fakeEventLoop;
    RecordingStatusView view;
    std::unique_ptr<StatusWindow> status;
    FakeDocument document;
    FakeMessageBox messageBox;
    FakeShell shell;
    std::unique_ptr<JobServices> services;
    JobOptions options;  // resolves addresses with the program's own address parser
};

}  // namespace velnoria::testing
