#include "download/scratch_file.h"

#include <unistd.h>

#include <utility>

namespace velnoria {

ScratchFile::ScratchFile(std::filesystem::path path) : path_(std::move(path)) {
    // Removing the old entry first replaces a symbolic link instead of writing through it.
    ::unlink(path_.c_str());
    fd_ = openForWriting(path_, /*readBack=*/true);
}

ScratchFile::~ScratchFile() {
    fd_.reset();
    ::unlink(path_.c_str());  // a failure to delete is of no consequence to the job
}

}  // namespace velnoria
