#include "core/page_item_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/text.h"

namespace velnoria {

// A set of bytes a scan stops at: a table for the byte-by-byte part and, for sets of exactly
// three bytes, the bytes themselves so that long runs can be passed over a word at a time.
struct StopSet {
    std::array<bool, 256> has{};
    std::array<unsigned char, 3> three{};
    bool wordwise = false;
};

namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

constexpr StopSet threeBytes(unsigned char a, unsigned char b, unsigned char c) {
    StopSet set;
    set.has[a] = set.has[b] = set.has[c] = true;
    set.three = {a, b, c};
    set.wordwise = true;
    return set;
}

constexpr StopSet kNotBlank = [] {
    StopSet set;
    for (int b = 0; b < 256; ++b) set.has[b] = b != ' ' && b != '\t';
    return set;
}();
constexpr StopSet kPlainEnd = threeBytes(',', '\r', '\n');
constexpr StopSet kQuotedEnd = threeBytes('"', '\r', '\n');

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Non-zero when one of the eight bytes of word equals byte (exact: no false positives).
inline std::uint64_t holdsByte(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (kOnes * byte);
    return (x - kOnes) & ~x & kHighBits;
}

// The first byte in [p, end) that is in set, or end.
const char* findStop(const char* p, const char* const end, const StopSet& set) {
    if (set.wordwise) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if (holdsByte(word, set.three[0]) | holdsByte(word, set.three[1]) |
                holdsByte(word, set.three[2])) {
                break;
            }
            p += 8;
        }
    }
    while (p != end && !set.has[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

// Position (from 1) of the last byte in text, or 0.
std::size_t lastOf(std::string_view text, char byte) {
    const void* at = ::memrchr(text.data(), byte, text.size());
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data()) + 1 : 0;
}

}  // namespace

PageItemReader::PageItemReader(int fd) : fd_(fd), buffer_(kBlockSize) {}

PageItemReader::PageItemReader(const std::filesystem::path& file) : buffer_(kBlockSize) {
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    owned_ = UniqueFd(fd);
    fd_ = fd;
}

bool PageItemReader::fill() {
    if (pos_ < end_) return true;
    if (eof_ || fd_ < 0) return false;
    for (;;) {
        const auto got = ::read(fd_, buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            eof_ = true;  // a read error ends the file like its end
            return false;
        }
        pos_ = 0;
        end_ = static_cast<std::size_t>(got);
        checkedUntil_ = 0;
        return true;
    }
}

bool PageItemReader::atEnd() {
    return !fill();
}

int PageItemReader::scanUntil(const StopSet& set, std::string* item) {
    while (fill()) {
        const char* const begin = buffer_.data() + pos_;
        const char* const end = buffer_.data() + end_;
        const char* const p = findStop(begin, end, set);
        if (item) item->append(begin, p);
        pos_ += static_cast<std::size_t>(p - begin);
        if (p != end) return static_cast<unsigned char>(*p);
    }
    return -1;
}

void PageItemReader::skipSeparator() {
    if (!fill()) return;
    const char separator = buffer_[pos_++];
    if (separator == '\r' && fill() && buffer_[pos_] == '\n') ++pos_;
}

void PageItemReader::skipLinesWithout(std::string_view text) {
    const auto lastLineEnd = [](std::string_view stretch) {
        return std::max(lastOf(stretch, '\n'), lastOf(stretch, '\r'));
    };
    while (fill() && pos_ >= checkedUntil_) {
        // One search over the lines that end in the block in hand, as grep does, instead of one
        // per item: every line that ends before the first place the text occurs is passed over.
        const std::string_view rest(buffer_.data() + pos_, end_ - pos_);
        std::size_t lineEnd = lastLineEnd(rest);
        const std::size_t hit = positionIgnoringCase(rest.substr(0, lineEnd), text);
        if (hit > 0) lineEnd = lastLineEnd(rest.substr(0, hit - 1));
        if (lineEnd == 0) {
            // From here the items are read one by one, up to the place found or the block's end.
            checkedUntil_ = hit > 0 ? pos_ + hit : end_;
            return;
        }
        pos_ += lineEnd - 1;
        skipSeparator();
    }
}

bool PageItemReader::next(std::string& item) {
    if (!fill()) return false;
    item.clear();
    const int first = scanUntil(kNotBlank, nullptr);
    if (first == '"') {
        ++pos_;
        const int stop = scanUntil(kQuotedEnd, &item);
        if (stop == '"') {
            ++pos_;
            scanUntil(kPlainEnd, nullptr);  // text after the closing quote
        }
    } else if (first >= 0) {
        scanUntil(kPlainEnd, &item);
    }
    skipSeparator();
    return true;
}

std::optional<std::string> readFirstPageItem(const std::filesystem::path& file) {
    PageItemReader reader(file);
    std::string item;
    if (!reader.next(item)) return std::nullopt;
    return item;
}

}  // namespace velnoria
