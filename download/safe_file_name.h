#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velnoria {

// The file name under which a download may be saved: only what follows the last "/" or "\" of
// the given name. "", ".", "..", and names holding a control character (C0, DEL or C1, a NUL
// included) or bytes that are not UTF-8 give "", which no file is ever written under. A name
// that begins with "." gets "_" in its place, so no hidden file is planted; the names of the
// program's own files ("settings.dat", "failed.txt", "choices.conf", "archive.sqlite" and the
// files SQLite keeps beside it, letter case ignored) get "_" before them.
std::string safeFileName(std::string_view name);

// name itself when it is not taken, else name with " (2)", " (3)" ... before its extension (the
// part from its last ".", unless that is its first character), the first such name not taken.
std::string unusedName(const std::string& name,
                       const std::function<bool(const std::string&)>& taken);

}  // namespace velnoria
