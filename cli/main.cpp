// velnoria-get: the download job of "Start Download" on a page fetched over HTTP or read from a
// file, for scripts and machines without a display.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/program.h"
#include "cli/options.h"
#include "cli/rules_commands.h"
#include "cli/terminal_event_loop.h"
#include "cli/terminal_status_view.h"
#include "core/choices.h"
#include "core/printable.h"
#include "core/program_identity.h"
#include "core/settings.h"
#include "download/failed_list.h"
#include "download/watch.h"
#include "platform/cookies_file.h"
#include "platform/html/page_loading.h"
#include "platform/html/parsed_page.h"

namespace velnoria {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailuresLogged = 1;
constexpr int kExitUsageOrPage = 2;

int fail(const std::string& reason) {
    std::fprintf(stderr, "velnoria-get: %s\n", printableText(reason).c_str());
    return kExitUsageOrPage;
}

// There is no desktop to open a folder or an address on.
class NoShell : public Shell {
  public:
    void openFolder(const std::string&) override {}
    void openUrl(const std::string&) override {}
};

// Sets up the current folder for a run that goes ahead, as the desktop program's start-up does,
// but only for the folder this run saves into: "settings.dat" when it is missing, the save
// folder when it is the default one or was given.
void prepareFolders(const Options& options, const std::filesystem::path& currentFolder,
                    Settings& settings) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path settingsFile = currentFolder / kSettingsFileName;
    if (!fs::exists(settingsFile, ec)) writeSettingsFile(settingsFile, Settings{});
    if (options.saveFolder) {
        // Failing here is left to the job's check of the folder, which says why.
        fs::create_directories(*options.saveFolder, ec);
        settings.savePath = *options.saveFolder;
    } else if (!fs::exists(settings.savePath, ec)) {
        std::fprintf(stderr, "%s\n", kSavePathMissingMessage);
        if (settings.savePath == defaultSaveFolder(currentFolder)) {
            fs::create_directory(settings.savePath, ec);
        }
    }
}

// The thread's next pages, fetched and parsed as the first one.
class FetchedPages : public PageReader {
  public:
    FetchedPages(UrlDownload& download, const EventLoop& eventLoop)
        : download_(download), eventLoop_(eventLoop) {}

    BrowserDocument* read(const std::string& address, std::string& documentAddress,
                          std::string& error) override {
        document_.reset();
        const LoadedPage page = loadPage(address, download_);
        if (!page.loaded) {
            error = page.error;
            return nullptr;
        }
        documentAddress = page.documentUrl;
        // Ctrl+C ends the reading of a large page too.
        ParseLimits limits;
        limits.interrupted = [this] { return eventLoop_.stopPending(); };
        document_ = std::make_unique<ParsedPage>(page.html, page.documentUrl, limits);
        if (!document_->problem().empty()) {
            error = document_->problem();
            document_.reset();
            return nullptr;
        }
        return document_.get();
    }

  private:
    UrlDownload& download_;
    const EventLoop& eventLoop_;
    std::unique_ptr<ParsedPage> document_;
};

// What a stopped job ends with: the status of what stopped it.
int stoppedStatus(const TerminalEventLoop& eventLoop) {
    return eventLoop.stopStatus() != 0 ? eventLoop.stopStatus() : kExitCtrlC;
}

// The addresses of failed.txt once more; failed.txt then holds, in its old order, those that
// failed again and those a stop left unsettled.
int retryFailed(Program& program, TerminalEventLoop& eventLoop, const std::filesystem::path& folder,
                const FailedList& failed) {
    if (!failed.otherLines.empty()) {
        std::fprintf(stderr,
                     "velnoria-get: %zu line(s) of failed.txt are no http(s) address; they stay "
                     "in the file as they are\n",
                     failed.otherLines.size());
    }
    eventLoop.beginJob(program.statusWindow());
    const JobResult result = program.runRetryJob(failed.addresses);
    eventLoop.endJob();
    // No job ran (said on standard error): failed.txt stays as it is.
    if (!result.started) return kExitUsageOrPage;

    std::string error;
    if (!replaceFailedList(folder, failed, result.retryList, result.loggedFailures, error)) {
        std::fprintf(stderr, "velnoria-get: %s; failed.txt keeps its old lines\n", error.c_str());
        return kExitFailuresLogged;
    }
    if (result.stopped) return stoppedStatus(eventLoop);
    return result.retryList.empty() ? kExitDone : kExitFailuresLogged;
}

// --watch: the job, a wait, the job again on the page read anew, until Ctrl+C (which ends the
// wait at once: no job runs then). A page that cannot be read in a later round is said and
// tried again at the next check.
int watchThread(Program& program, TerminalEventLoop& eventLoop, const Options& options,
                std::unique_ptr<ParsedPage> document, FetchedPages& nextPages) {
    const auto interval = std::chrono::minutes(*options.watchMinutes);
    for (;;) {
        if (document) {
            eventLoop.beginJob(program.statusWindow());
            const JobResult result = program.runDownloadJob(*document, options.page, &nextPages);
            eventLoop.endJob();
            if (!result.saveFolderProblem.empty() || !result.setupProblem.empty()) {
                return kExitUsageOrPage;
            }
            if (result.stopped) return stoppedStatus(eventLoop);
            const std::string line = withLfLineEnds(watchRoundText(
                result.finishedCount,
                std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + interval)));
            std::fputs(line.c_str(), stdout);
            // Ctrl+C in the wait ends the program at once: nothing may wait in a buffer.
            if (std::fflush(stdout) != 0 && errno == EPIPE) eventLoop.outputClosed();
        }
        if (!waitForNextRound(program.state().runState, eventLoop,
                              std::chrono::steady_clock::now() + interval)) {
            return stoppedStatus(eventLoop);
        }
        document.reset();
        const LoadedPage page = loadPage(options.page, program.urlDownload());
        std::string problem = page.loaded ? std::string() : page.error;
        if (page.loaded) {
            document = std::make_unique<ParsedPage>(page.html, page.documentUrl);
            problem = document->problem();
        }
        if (!problem.empty()) {
            document.reset();
            std::fprintf(stderr,
                         "velnoria-get: cannot load %s: %s; tried again at the next check\n",
                         printableText(options.page).c_str(), printableText(problem).c_str());
        }
    }
}

int run(const Options& options) {
    const bool errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    TerminalEventLoop eventLoop(errIsTerminal);

    std::error_code ec;
    const std::filesystem::path currentFolder = std::filesystem::current_path(ec);
    if (ec) return fail("the current folder cannot be read: " + ec.message());

    ProgramState state;
    state.workFolder = currentFolder;
    // Only read: nothing is made in the folder before the page has loaded, and a dry run makes
    // nothing at all.
    state.settings = readStartupSettings(currentFolder);
    if (options.timeoutSeconds) state.settings.timeoutSeconds = *options.timeoutSeconds;
    if (options.pieceSize) state.settings.pieceSize = *options.pieceSize;
    state.choices = readChoicesFile(currentFolder / kChoicesFileName).value_or(Choices{});
    if (options.rulesFile) state.choices.rulesFile = *options.rulesFile;
    if (options.linkedImages) state.choices.linkedImages = true;
    if (options.allPages) state.choices.followNextPages = true;
    if (options.maxPages) state.maxPages = *options.maxPages;
    if (options.skipExisting) state.choices.skipExisting = true;
    if (options.parallel) state.choices.downloadsAtOnce = *options.parallel;
    if (options.archive) {
        state.choices.rememberSaved = true;
        state.archiveFile = options.archiveFile;
    }
    if (options.folderTemplate) state.choices.folderTemplate = *options.folderTemplate;
    if (options.nameTemplate) state.choices.nameTemplate = *options.nameTemplate;
    // Only --watch watches: the desktop's choice never makes a run endless.
    state.choices.watchMinutes = options.watchMinutes.value_or(0);
    // Read before any request: a bad file stops the run without one.
    if (options.cookiesFile) {
        CookiesFile cookies = readCookiesFile(*options.cookiesFile, *options.cookiesFile);
        if (!cookies.problems.empty()) {
            for (const std::string& problem : cookies.problems) {
                std::fprintf(stderr, "%s\n", printableText(problem).c_str());
            }
            return kExitUsageOrPage;
        }
        state.session.cookies = std::move(cookies.cookies);
    }
    if (options.userAgent) state.session.userAgent = *options.userAgent;
    state.session.sendReferer = !options.noReferer;

    // A dry run's standard output is its target lines alone; what the rules log goes aside.
    TerminalStatusView view(options.printTargets ? stderr : stdout, stderr,
                            errIsTerminal && !options.printTargets);
    view.onOutputClosed([&] { eventLoop.outputClosed(); });
    TerminalMessageBox messageBox(view);
    NoShell shell;
    Program program(state, {eventLoop, view, messageBox, shell});
    // The thread's own page carries the session too.
    program.takeSession();

    std::optional<FailedList> failed;
    std::unique_ptr<ParsedPage> document;
    if (options.retryFailed) {
        std::string error;
        failed = readFailedList(currentFolder, error);
        if (!failed) return fail(error);
    } else {
        const LoadedPage page = loadPage(options.page, program.urlDownload());
        if (!page.loaded) return fail("cannot load " + options.page + ": " + page.error);
        document = std::make_unique<ParsedPage>(page.html, page.documentUrl);
        if (!document->problem().empty()) {
            return fail("cannot load " + options.page + ": " + document->problem());
        }
    }
    FetchedPages nextPages(program.urlDownload(), eventLoop);
    if (options.printTargets) {
        // The next pages' targets too, when the choices follow them.
        program.runDownloadJob(*document, options.page, &nextPages,
                               [&](const TargetReport& report) {
                                   std::printf("%s\n", targetLine(report).c_str());
                                   if (std::fflush(stdout) != 0 && errno == EPIPE)
                                       eventLoop.outputClosed();
                               });
        return kExitDone;
    }
    prepareFolders(options, currentFolder, state.settings);

    if (failed) return retryFailed(program, eventLoop, currentFolder, *failed);
    if (options.watchMinutes) {
        return watchThread(program, eventLoop, options, std::move(document), nextPages);
    }

    eventLoop.beginJob(program.statusWindow());
    const JobResult result = program.runDownloadJob(*document, options.page, &nextPages);
    eventLoop.endJob();

    // Said on standard error.
    if (!result.saveFolderProblem.empty() || !result.setupProblem.empty()) return kExitUsageOrPage;
    if (result.stopped) return stoppedStatus(eventLoop);
    // A next page that could not be read leaves the rest of the thread undone.
    if (!result.nextPageProblem.empty()) {
        std::fprintf(stderr, "velnoria-get: a next page of the thread cannot be read: %s\n",
                     printableText(result.nextPageProblem).c_str());
        return kExitFailuresLogged;
    }
    return result.failuresLogged > 0 ? kExitFailuresLogged : kExitDone;
}

}  // namespace
}  // namespace velnoria

int main(int argc, char** argv) {
    using namespace velnoria;
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (options.action) {
        case CliAction::Help:
            std::fputs(usageText().c_str(), stdout);
            return kExitDone;
        case CliAction::Version:
            std::printf("velnoria-get %s\n", kVersionText);
            return kExitDone;
        case CliAction::UsageError:
            return fail(options.error + " (see velnoria-get --help)");
        case CliAction::CheckRules:
            return checkRulesCommand(options.checkRulesFile, stdout);
        case CliAction::Run:
            break;
    }
    return run(options);
}
