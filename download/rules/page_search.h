#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/rules/file_rule.h"
#include "platform/url_download.h"

namespace velnoria {

// A service page larger than this is treated as one that could not be fetched.
inline constexpr std::uint64_t kMaxPageBytes = 128ull * 1024 * 1024;

// A capture of a page search is an address or a name: longer ones are cut (and marked).
inline constexpr std::size_t kMaxFoundBytes = 64 * 1024;

// A page is searched in slices, so that a search can be bounded and stopped between two of
// them. A hit of at most this length is found exactly as a search of the whole page finds it
// (the leftmost, with the same captures); a longer one may be missed, or found from a later
// start.
inline constexpr std::size_t kMaxHitBytes = 16 * 1024;

// With every hit asked for, a page gives at most this many.
inline constexpr std::size_t kMaxHitsPerPage = 1000;

// What one search of a page may take. An ordinary page of 128 MiB takes a tenth of a second;
// a pattern that the page drives to RE2's slowest matcher, a few microseconds for each byte.
inline constexpr std::chrono::milliseconds kSearchProcessorTime{10000};

// How a page is searched.
struct SearchOptions {
    bool everyHit = false;  // every hit in page order, not only the first
    // The processor time of the search, its slices together; past it the search ends.
    std::chrono::milliseconds processorTime = kSearchProcessorTime;
    // Asked between two slices, at most every 50 ms (a search that ends sooner never asks):
    // true ends the search as stopped. The caller may yield to its event loop here; the time
    // that takes is not the search's.
    std::function<bool()> stopRequested;
    // The largest slice; below it a slice is as large as the pattern's program allows. Tests
    // make it small, to put slice ends everywhere.
    std::size_t maxSliceBytes = 64 * 1024 * 1024;
};

// How a search ended.
enum class SearchEnd {
    Complete,  // searched to the end, or up to the hit asked for
    TooSlow,   // its processor time ran out
    Stopped,   // stopRequested said so
    Unread,    // the page could not be read back from its file
};

// What a search of a page found, and how it ended.
struct PageHits {
    std::vector<Captures> hits;  // in page order: the first hit, or every hit when asked for
    bool moreHits = false;       // every hit was asked for, and the page has more than the bound
    SearchEnd end = SearchEnd::Complete;
    std::string problem;  // why the search ended before its end ("" when Complete), in words
};

// Searches the page's bytes with the pattern, in slices, within the options' bounds. Character
// references in the captures (&amp; and the like) are decoded, as a browser decodes them in an
// attribute. RE2 takes linear time on any page; the slices bound what that costs. The pattern
// runs in a copy of its own, so the automata a hard page makes it build are freed at the end.
PageHits searchPageText(std::string_view page, const re2::RE2& find,
                        const SearchOptions& options = {});

// The same on a file's bytes, mapped, not copied: a page without line ends costs no more than any
// other.
PageHits searchPageFile(int fd, const re2::RE2& find, const SearchOptions& options = {});

// What the page search of a rule found on a service page.
struct PageSearch {
    // The page arrived whole, with a status below 400, and was searched to its end (or its first
    // hit).
    bool read = false;
    std::string error;              // why not, when !read
    bool stopped = false;           // the search was stopped on request (error says so too)
    std::string address;            // the address that answered last (after redirects)
    std::optional<Captures> found;  // the first hit of the pattern, when there is one
    std::vector<Captures> hits;     // with everyHit: every hit, in page order (`found` first)
    bool moreHits = false;          // with everyHit: the page had more than kMaxHitsPerPage
};

// Fetches the page, as long as service pages may be, into an unnamed temporary file and searches
// it as searchPageFile does.
PageSearch searchPage(UrlDownload& download, const std::string& pageUrl, const re2::RE2& find,
                      const SearchOptions& options = {});

}  // namespace velnoria
