// The page item reader and the marker search: the reader's items against a byte-by-byte model
// (also with the text placed astride the reader's block boundary), the case-blind search against
// a plain one, and the marker search on a page written into its file in pieces.

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/page_item_reader.h"
#include "core/temporary_file.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "download/page_scan.h"
#include "download/rules/rule_text.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace velnoria;

// The reader fills a buffer of this size; a different size only makes the padding less useful.
constexpr std::size_t kReaderBlock = 256 * 1024;

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// The items of a page as the reader's rules describe them, one byte at a time.
std::vector<std::string> modelItems(std::string_view page) {
    std::vector<std::string> items;
    std::size_t i = 0;
    const std::size_t n = page.size();
    while (i < n) {
        std::string item;
        while (i < n && (page[i] == ' ' || page[i] == '\t')) ++i;
        if (i < n && page[i] == '"') {
            ++i;
            while (i < n && page[i] != '"' && !isLineEnd(page[i])) item += page[i++];
            if (i < n && page[i] == '"') {
                ++i;
                while (i < n && page[i] != ',' && !isLineEnd(page[i])) ++i;
            }
        } else {
            while (i < n && page[i] != ',' && !isLineEnd(page[i])) item += page[i++];
        }
        if (i < n) {
            const char separator = page[i++];
            if (separator == '\r' && i < n && page[i] == '\n') ++i;
        }
        items.push_back(std::move(item));
    }
    return items;
}

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// 1-based position of marker in text ignoring ASCII letter case; 0 when absent or text is empty.
std::size_t modelPosition(std::string_view text, std::string_view marker) {
    if (text.empty()) return 0;
    if (marker.empty()) return 1;
    for (std::size_t at = 0; at + marker.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < marker.size() && folded(text[at + k]) == folded(marker[k])) ++k;
        if (k == marker.size()) return at + 1;
    }
    return 0;
}

std::vector<std::string> readerItems(const std::string& content) {
    UniqueFd fd(::memfd_create("page", MFD_CLOEXEC));
    FUZZ_CHECK(fd.valid());
    FUZZ_CHECK(writeAll(fd.get(), content));
    FUZZ_CHECK(::lseek(fd.get(), 0, SEEK_SET) == 0);
    PageItemReader reader(fd.get());
    std::vector<std::string> items;
    std::string item;
    while (reader.next(item)) {
        FUZZ_CHECK(item.find_first_of("\r\n") == std::string::npos);
        items.push_back(item);
    }
    FUZZ_CHECK(reader.atEnd());
    item = "unchanged";
    FUZZ_CHECK(!reader.next(item));
    FUZZ_CHECK(item == "unchanged");
    return items;
}

// The page as a service page arrives: written into an unnamed file in pieces of a chosen size,
// then read from its start.
UniqueFd pageFile(const std::string& page, std::size_t piece) {
    std::string error;
    UniqueFd file = unnamedTemporaryFile(error);
    FUZZ_CHECK(file.valid());
    piece = std::max({piece, page.size() / 64, std::size_t{1}});
    for (std::size_t at = 0; at < page.size(); at += piece) {
        FUZZ_CHECK(writeAll(file.get(), std::string_view(page).substr(at, piece)));
    }
    FUZZ_CHECK(::lseek(file.get(), 0, SEEK_SET) == 0);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    // Now and then the text starts shortly before the end of the reader's first block.
    const int pad = data.ConsumeIntegralInRange(-184, 15);
    const std::size_t piece = data.ConsumeIntegralInRange<std::size_t>(1, 64);
    const std::string marker = data.ConsumeRandomLengthString(24);
    std::string page = data.ConsumeRemainingBytesAsString();
    if (pad >= 0) page.insert(0, std::string(kReaderBlock - static_cast<std::size_t>(pad), 'p'));

    const std::vector<std::string> expected = modelItems(page);
    FUZZ_CHECK(readerItems(page) == expected);

    // The scan's answer: the first item holding the marker, or position 0.
    PageScanResult model;
    for (const auto& item : expected) {
        const std::size_t at = positionIgnoringCase(item, marker);
        FUZZ_CHECK(at == modelPosition(item, marker));
        FUZZ_CHECK(positionOf(item, marker) ==
                   (item.find(marker) == std::string::npos ? 0 : item.find(marker) + 1));
        if (at > 0) {
            model = {item, at, {}};
            break;
        }
    }

    const UniqueFd file = pageFile(page, piece);
    std::size_t foundCalls = 0;
    const PageScanResult result =
        findMarkerItem(file.get(), marker, [&](const std::string& item, std::size_t position) {
            ++foundCalls;
            FUZZ_CHECK(position == modelPosition(item, marker));
        });
    FUZZ_CHECK(result.position == model.position);
    FUZZ_CHECK(foundCalls == (model.position > 0 ? 1u : 0u));
    if (model.position > 0) FUZZ_CHECK(result.item == model.item);

    // The update check reads only the first item of its file.
    if (pad < 0) {
        const auto file = fuzz::workFolder() / "version.txt";
        {
            UniqueFd out = openForWriting(file);
            FUZZ_CHECK(out.valid() && writeAll(out.get(), page));
        }
        const auto first = readFirstPageItem(file);
        FUZZ_CHECK(first.has_value() == !expected.empty());
        if (first) FUZZ_CHECK(*first == expected.front());
    }
    return 0;
}
