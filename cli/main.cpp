// velnoria-get: the download job of "Start Download" on a page fetched over HTTP or read from a
// file, for scripts and machines without a display.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/interrupt_handling.h"
#include "cli/page_loading.h"
#include "cli/parsed_page.h"
#include "cli/terminal_desktop.h"
#include "cli/terminal_status_view.h"
#include "download/download_job.h"
#include "platform/curl/curl_transfer_control.h"
#include "platform/curl/curl_url_cache.h"
#include "platform/curl/curl_url_download.h"
#include "platform/program_identity.h"
#include "shell/settings/startup_settings.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailuresLogged = 1;
constexpr int kExitUsageOrPage = 2;
constexpr int kExitStopped = 130;

int fail(const std::string& reason) {
    std::fprintf(stderr, "velnoria-get: %s\n", reason.c_str());
    return kExitUsageOrPage;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velnoria;
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
        case CliAction::Help:
            std::fputs(usageText().c_str(), stdout);
            return kExitDone;
        case CliAction::Version:
            std::printf("velnoria-get %s\n", kVersionText);
            return kExitDone;
        case CliAction::UsageError:
            return fail(line.error + " (see velnoria-get --help)");
        case CliAction::Run:
            break;
    }

    const bool errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    TerminalEventLoop eventLoop(errIsTerminal);

    std::error_code ec;
    const std::filesystem::path currentFolder = std::filesystem::current_path(ec);
    if (ec) return fail("the current folder cannot be read: " + ec.message());

    ProgramState program;
    program.workFolder = currentFolder;
    program.settings = loadStartupSettings(
        currentFolder, [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    if (line.timeoutSeconds) program.settings.timeoutSeconds = *line.timeoutSeconds;
    if (line.pieceSize) program.settings.pieceSize = *line.pieceSize;
    CurlUrlCache urlCache;
    CurlUrlDownload urlDownload(program.settings.timeoutSeconds, urlCache);
    const LoadedPage page = loadPage(line.page, urlDownload);
    if (!page.loaded) return fail("cannot load " + line.page + ": " + page.error);
    ParsedPage document(page.html, page.documentUrl);
    if (line.saveFolder) {
        std::filesystem::create_directories(*line.saveFolder, ec);
        if (ec)
            return fail("cannot create the save folder " + *line.saveFolder + ": " + ec.message());
        program.settings.savePath = *line.saveFolder;
    }

    CurlTransferControl inet(eventLoop, urlCache);
    inet.setTimeoutSeconds(program.settings.timeoutSeconds);
    TerminalStatusView view(stdout, stderr, errIsTerminal);
    StatusWindow status(program.runState, view, eventLoop);
    TerminalMessageBox messageBox(view);
    NoShell shell;
    JobServices services{inet,   urlDownload, urlCache,   eventLoop,
                         status, document,    messageBox, shell};

    eventLoop.beginJob(status);
    const JobResult result = runDownloadJob(program, services, line.page);
    eventLoop.endJob();

    if (result.stopped) return kExitStopped;
    return result.failuresLogged > 0 ? kExitFailuresLogged : kExitDone;
}
