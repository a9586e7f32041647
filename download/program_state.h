#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/choices.h"
#include "core/settings.h"
#include "core/temporary_file.h"
#include "download/run_state.h"
#include "platform/session.h"

namespace velnoria {

// What lives for the whole program run, across jobs.
struct ProgramState {
    Settings settings;
    // Beyond settings.dat: the rules file, the linked images, the thread's next pages, skipping
    // files saved already, downloads at once.
    Choices choices;
    // The most pages of a thread one job reads (velnoria-get --max-pages).
    int maxPages = kDefaultMaxPages;
    // The archive, when the choices keep one (velnoria-get --archive FILE); "" archive.sqlite in
    // the work folder. A relative name counts from the work folder.
    std::filesystem::path archiveFile;
    // The cookies, User-Agent and Referer choice every request of the next job carries; the
    // front end sets it before the job (the desktop from its browser, velnoria-get from its
    // options).
    Session session;
    RunState runState = RunState::Running;
    bool jobRunning = false;
    // Where "failed.txt" lives: the process's current folder.
    std::filesystem::path workFolder = std::filesystem::current_path();
    // Where the page scans make their private scratch files.
    std::filesystem::path scratchFolder = temporaryFolder();
};

}  // namespace velnoria
