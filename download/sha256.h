#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velnoria {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 of bytes fed in pieces of any size, as a download writes them (OpenSSL's
// libcrypto, which libcurl already brings into the process).
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(std::string_view bytes);
    // The digest of everything added; the object then starts over empty.
    Sha256Digest finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

Sha256Digest sha256Of(std::string_view bytes);

// The SHA-256 of a file's bytes and its length, read in pieces; nullopt when it cannot be read.
struct FileDigest {
    Sha256Digest sha256{};
    std::uint64_t size = 0;
};
std::optional<FileDigest> sha256OfFile(const std::filesystem::path& file);

// 64 lower-case hex digits.
std::string hexText(const Sha256Digest& digest);

}  // namespace velnoria
