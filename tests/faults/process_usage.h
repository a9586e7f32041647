#pragma once

// What this process holds right now, read from /proc/self.

#include <cstddef>

namespace velnoria::testing {

// Resident memory in bytes (VmRSS); 0 when it cannot be read.
std::size_t residentBytes();

// Open file descriptors.
std::size_t openFileCount();

}  // namespace velnoria::testing
