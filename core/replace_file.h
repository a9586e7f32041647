#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace velnoria {

// Replaces the file with text so that it is whole at every moment, even after a crash or a full
// disk: the text goes into a new file beside it (the same folder, a fresh name made with O_EXCL,
// among the temporary files an abrupt end of the program removes), which gets the old file's
// permissions, is synced, renamed over the old file, and the folder synced. A first file gets
// newFileMode less the umask. A symbolic link at file stays a link: the file it names is
// replaced. On any failure the new file is removed and the old one stays as it was. Returns 0,
// or the errno of the step that failed (EISDIR or EINVAL for something there that is no regular
// file).
int replaceFile(const std::filesystem::path& file, std::string_view text,
                mode_t newFileMode = 0666);

}  // namespace velnoria
