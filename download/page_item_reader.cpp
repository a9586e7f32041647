#include "download/page_item_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace velnoria {

namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

struct ByteSet {
    std::array<bool, 256> has{};
    constexpr ByteSet(std::initializer_list<unsigned char> bytes) {
        for (auto b : bytes) has[b] = true;
    }
};

constexpr ByteSet kNotBlank = [] {
    ByteSet set{};
    for (int b = 0; b < 256; ++b) set.has[b] = b != ' ' && b != '\t';
    return set;
}();
constexpr ByteSet kPlainEnd{',', '\r', '\n'};
constexpr ByteSet kQuotedEnd{'"', '\r', '\n'};

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
        return true;
    }
}

bool PageItemReader::atEnd() {
    return !fill();
}

int PageItemReader::scanUntil(const bool* stopAt, std::string* item) {
    while (fill()) {
        const char* const begin = buffer_.data() + pos_;
        const char* const end = buffer_.data() + end_;
        const char* p = begin;
        while (p != end && !stopAt[static_cast<unsigned char>(*p)]) ++p;
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

bool PageItemReader::next(std::string& item) {
    if (!fill()) return false;
    item.clear();
    const int first = scanUntil(kNotBlank.has.data(), nullptr);
    if (first == '"') {
        ++pos_;
        const int stop = scanUntil(kQuotedEnd.has.data(), &item);
        if (stop == '"') {
            ++pos_;
            scanUntil(kPlainEnd.has.data(), nullptr);  // text after the closing quote
        }
    } else if (first >= 0) {
        scanUntil(kPlainEnd.has.data(), &item);
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
