#pragma once

// What this process holds right now, read from /proc/self.

#include <cstddef>

namespace velnoria::testing {

// AddressSanitizer holds freed memory back, so resident memory says nothing about leaks there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentMemoryTellsLeaks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kResidentMemoryTellsLeaks = false;
#else
inline constexpr bool kResidentMemoryTellsLeaks = true;
#endif
#else
inline constexpr bool kResidentMemoryTellsLeaks = true;
#endif

// Resident memory in bytes (VmRSS); 0 when it cannot be read.
std::size_t residentBytes();

// Open file descriptors.
std::size_t openFileCount();

}  // namespace velnoria::testing
