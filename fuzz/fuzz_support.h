#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

// assert() is compiled out in release builds; a fuzz check must always fire.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace velnoria::fuzz {

// A folder of this process's own under the system's temporary folder, removed at exit.
const std::filesystem::path& workFolder();

inline bool isInside(std::string_view whole, std::string_view part) {
    return whole.find(part) != std::string_view::npos;
}

// Text as one would print it in a failure message: control bytes and quotes escaped.
std::string printable(std::string_view text);

}  // namespace velnoria::fuzz
