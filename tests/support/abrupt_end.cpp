#include "tests/support/abrupt_end.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "core/temporary_file.h"

namespace velnoria::testing {

namespace {

void onFileTooLarge(int) {
    removeTemporaryFilesNow();
    ::_exit(kEndedAbruptly);
}

}  // namespace

void endAbruptlyWhenAFilePasses(std::size_t bytes) {
    struct sigaction action {};
    action.sa_handler = onFileTooLarge;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace velnoria::testing
