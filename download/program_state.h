#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/choices.h"
#include "core/settings.h"
#include "core/temporary_file.h"
#include "download/run_state.h"

namespace velnoria {

// What lives for the whole program run, across jobs.
struct ProgramState {
    Settings settings;
    // Beyond settings.dat: the rules file, the linked images, the thread's next pages, skipping
    // files saved already, downloads at once.
    Choices choices;
    // The most pages of a thread one job reads (velnoria-get --max-pages).
    int maxPages = kDefaultMaxPages;
    RunState runState = RunState::Running;
    bool jobRunning = false;
    // Where "failed.txt" lives: the process's current folder.
    std::filesystem::path workFolder = std::filesystem::current_path();
    // Where the page scans make their private scratch files.
    std::filesystem::path scratchFolder = temporaryFolder();
};

}  // namespace velnoria
