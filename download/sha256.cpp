#include "download/sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

#include "core/unique_fd.h"

namespace velnoria {

struct Sha256::Context {
    Context() : evp(EVP_MD_CTX_new()) {
        if (evp == nullptr) throw std::bad_alloc();
    }
    ~Context() { EVP_MD_CTX_free(evp); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    EVP_MD_CTX* evp;
};

namespace {

void startOver(EVP_MD_CTX* evp) {
    if (EVP_DigestInit_ex(evp, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

}  // namespace

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    startOver(context_->evp);
}

Sha256::~Sha256() = default;

void Sha256::add(std::string_view bytes) {
    // Only a broken context fails here, and startOver has checked it.
    EVP_DigestUpdate(context_->evp, bytes.data(), bytes.size());
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->evp, digest.data(), &length);
    startOver(context_->evp);
    return digest;
}

Sha256Digest sha256Of(std::string_view bytes) {
    Sha256 hash;
    hash.add(bytes);
    return hash.finish();
}

std::optional<FileDigest> sha256OfFile(const std::filesystem::path& file) {
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    const UniqueFd in(fd);
    if (!in.valid()) return std::nullopt;

    Sha256 hash;
    FileDigest result;
    std::vector<char> piece(256 * 1024);
    for (;;) {
        const auto got = ::read(in.get(), piece.data(), piece.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        hash.add({piece.data(), static_cast<std::size_t>(got)});
        result.size += static_cast<std::uint64_t>(got);
    }
    result.sha256 = hash.finish();
    return result;
}

std::string hexText(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

}  // namespace velnoria
