// Making a file name from the network safe: never a separator, a control character, "", "." or
// ".."; joined to the save folder it names a file directly inside that folder.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "download/rule_text.h"
#include "download/safe_file_name.h"
#include "fuzz/fuzz_support.h"

namespace {

using velnoria::safeFileName;

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

void checkSafe(std::string_view given) {
    const std::string safe = safeFileName(given);

    // What follows the last separator is the name; a name that is fine as it stands is kept.
    const auto slash = given.find_last_of("/\\");
    const std::string_view tail = slash == std::string_view::npos ? given : given.substr(slash + 1);
    bool usable = !tail.empty() && tail != "." && tail != "..";
    for (const char c : tail) usable = usable && !isControl(c);
    FUZZ_CHECK(safe == (usable ? tail : std::string_view()));

    if (safe.empty()) return;
    FUZZ_CHECK(safe.find_first_of("/\\") == std::string::npos);
    for (const char c : safe) FUZZ_CHECK(!isControl(c));
    FUZZ_CHECK(safe != "." && safe != "..");
    FUZZ_CHECK(given.ends_with(safe));

    const std::filesystem::path folder = "/save/folder";
    const std::filesystem::path target = folder / safe;
    FUZZ_CHECK(target.parent_path() == folder);
    FUZZ_CHECK(target.filename() == safe);
    FUZZ_CHECK(target.lexically_normal() == target);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view given(reinterpret_cast<const char*>(bytes), size);
    checkSafe(given);
    // The rules name a file by the last "/" field of an address; that too must come out safe.
    try {
        checkSafe(velnoria::lastField(given, "/"));
    } catch (const velnoria::TextPositionOverflow&) {
    }
    return 0;
}
