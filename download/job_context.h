#pragma once

#include <string>
#include <vector>

#include "download/host_table.h"
#include "download/job_services.h"
#include "download/program_state.h"

namespace velnoria {

// Thrown by the per-file download when it honours Stop/Abort: the rule and the walk are left
// and the job goes straight to its end. Deliberately not a std::exception, so that the handlers
// that skip a failing step never swallow it.
struct JobStopped {};

inline constexpr int kThumbListSize = 3000;

// Everything one download job shares between its steps; made fresh for every job.
struct JobContext {
    JobContext(ProgramState& programState, JobServices& jobServices)
        : program(programState), services(jobServices) {}

    ProgramState& program;
    JobServices& services;

    HostTable hostTable{};
    std::string pageAddress;
    std::vector<std::string> thumbList;  // entries 1..3000 at indexes 0..2999
    std::string targetUrl;
    std::string targetName;
    int finishedCount = 0;
    int failuresLogged = 0;
    std::string flickrUser;
    bool walkEnded = false;  // set by a rule that ends the walk after the current entry
};

}  // namespace velnoria
