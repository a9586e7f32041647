// The search of a service page: in slices that find what a search of the whole page finds,
// bounded in processor time, stopped on request, every hit in page order when asked for, and
// only on a page that arrived whole.
#include "download/rules/page_search.h"

#include <gtest/gtest.h>
#include <re2/re2.h>
#include <time.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "download/rules/rules_file.h"
#include "tests/support/job_fakes.h"

namespace velnoria {
namespace {

using namespace std::chrono_literals;

// `find` compiled exactly as a rules file compiles it.
std::shared_ptr<const RuleSet> findRule(const std::string& pattern) {
    const RulesFile file = parseRulesText(
        "[[rule]]\nmatch = 'x'\npage = 'http://p'\nfind = '''" + pattern + "'''\n", "find.toml");
    EXPECT_TRUE(file.problems.empty()) << pattern << ": " << file.problems.front().text();
    return file.rules;
}

const re2::RE2& findOf(const std::shared_ptr<const RuleSet>& rules) {
    return *rules->rules().front().find;
}

std::chrono::nanoseconds threadTime() {
    struct timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// What a search of the whole page at once finds: the first hit, or every hit, each search
// starting where the hit before ended (an empty hit just there passed over).
std::vector<Captures> wholePageHits(const re2::RE2& find, std::string_view page, bool every) {
    std::vector<Captures> hits;
    std::size_t from = 0;
    std::optional<std::size_t> lastEnd;
    while (from <= page.size()) {
        auto hit = searchCaptures(find, page, from, page.size(), kMaxFoundBytes);
        if (!hit) break;
        if (hit->start == hit->end && hit->start == lastEnd) {
            from = hit->start + 1;
            continue;
        }
        for (std::string& group : hit->groups) group = decodeCharacterReferences(group);
        from = lastEnd.emplace(hit->end);
        hits.push_back(std::move(*hit));
        if (!every || hits.size() == kMaxHitsPerPage) break;
    }
    return hits;
}

std::string describe(const std::vector<Captures>& hits) {
    std::string text;
    for (const Captures& hit : hits) {
        text += "[" + std::to_string(hit.start) + "," + std::to_string(hit.end) + ")";
        for (std::size_t i = 1; i < hit.groups.size(); ++i) text += " '" + hit.groups[i] + "'";
        text += "\n";
    }
    return text;
}

// Pages of tags, words and line ends, with hits of every length up to a few KiB.
std::string randomPage(std::mt19937& random, std::size_t size) {
    static const std::vector<std::string> pieces = {"a",       "b",   "ab",    " ", "\n", "x", "xx",
                                                    "<a x=\"", "\">", "&amp;", "=", "\"", ">", "<"};
    std::string page;
    while (page.size() < size) {
        if (random() % 200 == 0) {
            page += "<a x=\"" + std::string(random() % 3000, 'a') + "\">";
        } else {
            page += pieces[random() % pieces.size()];
        }
    }
    return page;
}

TEST(PageSearch, SlicesFindWhatASearchOfTheWholePageFinds) {
    const std::vector<std::string> patterns = {
        R"re(<a x="([^"]*)">)re",  // a tag, up to a few KiB long
        R"re((a+)b)re",
        R"re(\b(ab)\b)re",  // the bytes around a slice still count
        R"re((?m)^(x+)$)re",
        R"re(^(a|<))re",     // only at the page's start
        R"re((>|b|\n)$)re",  // only at its end
        R"re((x*))re",       // empty hits
        R"re((?s)b(.{0,300})b)re",
        R"re((ab|a)(b*))re",  // the first alternative that matches wins
        R"re((?U)<(.*)>)re",
    };
    std::mt19937 random(7);
    std::vector<std::string> pages;
    for (int i = 0; i < 3; ++i) pages.push_back(randomPage(random, 40 * 1024));
    for (const std::string& pattern : patterns) {
        const auto rules = findRule(pattern);
        const re2::RE2& find = findOf(rules);
        for (const std::string& page : pages) {
            for (const bool every : {false, true}) {
                const std::string expected = describe(wholePageHits(find, page, every));
                for (const std::size_t slice : {7, 64, 1000, 1 << 20}) {
                    SearchOptions options;
                    options.everyHit = every;
                    options.maxSliceBytes = slice;
                    const PageHits found = searchPageText(page, find, options);
                    ASSERT_EQ(found.end, SearchEnd::Complete);
                    EXPECT_EQ(describe(found.hits), expected)
                        << pattern << (every ? ", every hit" : "") << ", slices of " << slice;
                }
            }
        }
    }
}

TEST(PageSearch, AHitAsLongAsTheBoundIsFoundAcrossEverySliceEnd) {
    // The hit starts on the last byte of a slice; a search that looked one slice and a little
    // further would take the second alternative, a different hit.
    const auto rules = findRule(R"re(<(x*)>|<(x))re");
    const std::string hit = "<" + std::string(kMaxHitBytes - 2, 'x') + ">";
    for (const std::size_t before : {63u, 64u * 5 - 1, 64u * 300 + 63}) {
        const std::string page = std::string(before, '.') + hit + std::string(70000, '.');
        SearchOptions options;
        options.maxSliceBytes = 64;
        const PageHits found = searchPageText(page, findOf(rules), options);
        ASSERT_EQ(found.hits.size(), 1u) << before;
        EXPECT_EQ(found.hits[0].start, before);
        EXPECT_EQ(found.hits[0].end, before + kMaxHitBytes);
        EXPECT_EQ(found.hits[0].groups[1].size(), kMaxHitBytes - 2);
    }
}

TEST(PageSearch, EveryHitInPageOrderUpToTheBound) {
    const auto rules = findRule(R"re(<img src="([^"]*)">)re");
    std::string page = "<html><img src=\"/1.jpg\">text<img src=\"/2.jpg?a=1&amp;b=2\">\n";
    page += "<img src=\"\"><img src=\"/3.jpg\"></html>";
    SearchOptions every;
    every.everyHit = true;
    PageHits found = searchPageText(page, findOf(rules), every);
    ASSERT_EQ(found.hits.size(), 4u);
    EXPECT_EQ(found.hits[0].groups[1], "/1.jpg");
    EXPECT_EQ(found.hits[1].groups[1], "/2.jpg?a=1&b=2");
    EXPECT_EQ(found.hits[2].groups[1], "");
    EXPECT_EQ(found.hits[3].groups[1], "/3.jpg");
    EXPECT_FALSE(found.moreHits);
    // The names of the captures outlive the search: they are those of the rule's pattern.
    const auto named = findRule(R"re(<img src="(?P<src>[^"]*)">)re");
    found = searchPageText(page, findOf(named), every);
    EXPECT_EQ(found.hits[1].names, &findOf(named).NamedCapturingGroups());
    ASSERT_NE(found.hits[1].named("src"), nullptr);
    EXPECT_EQ(*found.hits[1].named("src"), "/2.jpg?a=1&b=2");
    // Only the first unless every hit is asked for.
    EXPECT_EQ(searchPageText(page, findOf(rules)).hits.size(), 1u);

    // Empty hits: one at the start, none where a hit has just ended.
    const auto empty = findRule("(x*)");
    found = searchPageText("axxb", findOf(empty), every);
    EXPECT_EQ(describe(found.hits), "[0,0) ''\n[1,3) 'xx'\n[4,4) ''\n");

    std::string many;
    for (std::size_t i = 0; i < kMaxHitsPerPage; ++i)
        many += "<img src=\"/" + std::to_string(i) + "\">";
    found = searchPageText(many, findOf(rules), every);
    EXPECT_EQ(found.hits.size(), kMaxHitsPerPage);
    EXPECT_FALSE(found.moreHits);
    found = searchPageText(many + "<img src=\"/last\">", findOf(rules), every);
    EXPECT_EQ(found.hits.size(), kMaxHitsPerPage);
    EXPECT_EQ(found.hits.back().groups[1], "/" + std::to_string(kMaxHitsPerPage - 1));
    EXPECT_TRUE(found.moreHits);
    EXPECT_EQ(found.end, SearchEnd::Complete);
}

TEST(PageSearch, AHardPageEndsWithinItsProcessorTimeOrOnAStop) {
    // Random a and b drive this pattern to RE2's slowest matcher: about 5 microseconds a byte,
    // so a search of the whole page would take seconds of processor time without a chance to
    // stop.
    const auto rules = findRule("a[ab]{1000}c(x)");
    std::mt19937 random(3);
    std::string page(2 << 20, 'a');
    for (char& c : page) c = random() % 2 ? 'a' : 'b';

    const struct {
        const char* what;
        std::chrono::milliseconds processorTime;
        int stopAtAsk;  // 0: never
        SearchEnd end;
        const char* problem;
    } cases[] = {
        {"processor time", 500ms, 0, SearchEnd::TooSlow,
         "the search took more than 0.5 s of processor time"},
        {"longer processor time", 1500ms, 0, SearchEnd::TooSlow,
         "the search took more than 1.5 s of processor time"},
        {"a stop", 60000ms, 3, SearchEnd::Stopped, "the search was stopped"},
    };
    for (const auto& c : cases) {
        SearchOptions options;
        options.processorTime = c.processorTime;
        int asks = 0;
        std::chrono::nanoseconds longestGap{0};
        std::chrono::nanoseconds lastAsk = threadTime();
        options.stopRequested = [&] {
            const auto now = threadTime();
            longestGap = std::max(longestGap, now - lastAsk);
            lastAsk = now;
            return ++asks == c.stopAtAsk;
        };
        const auto start = threadTime();
        const PageHits found = searchPageText(page, findOf(rules), options);
        const auto took = threadTime() - start;
        EXPECT_EQ(found.end, c.end) << c.what;
        EXPECT_EQ(found.problem, c.problem) << c.what;
        EXPECT_TRUE(found.hits.empty()) << c.what;
        if (c.stopAtAsk > 0) {
            EXPECT_EQ(asks, c.stopAtAsk) << c.what;
        }
        // The bound is kept to within one slice, and a slice of this pattern is a small part of
        // a second.
        EXPECT_LT(took, c.processorTime + 1500ms) << c.what;
        EXPECT_LT(longestGap, 1000ms) << c.what;
        EXPECT_GE(asks, 1) << c.what;
    }

    // A search that ends at once never asks.
    int asks = 0;
    SearchOptions options;
    options.stopRequested = [&] { return ++asks > 0; };
    EXPECT_EQ(searchPageText(page.substr(0, 100000), findOf(findRule("(c)")), options).end,
              SearchEnd::Complete);
    EXPECT_EQ(asks, 0);
}

TEST(PageSearch, APageWithoutLineEndsIsSearchedInLinearTime) {
    // 100 MB without a line end, made to hurt a backtracking matcher: a nested repetition that
    // fails at the very end, and many "<img" that open a match and fail late.
    std::string page;
    page.reserve(100'000'100);
    while (page.size() < 100'000'000) page += "<img alt=\"aaaaaaaaaaaaaaaaaaaaaaaaaaaa\"> ";
    page += "<img id=\"main\" src=\"/full/1.jpg?a=1&amp;b=2\">";
    const auto find = findRule(R"re((?i)<img[^>]+id="main"[^>]+src="([^"]+)")re");
    const auto nested = findRule(R"re((a+)+b="([^"]+)")re");
    const auto start = std::chrono::steady_clock::now();
    const PageHits found = searchPageText(page, findOf(find));
    const PageHits none = searchPageText(page, findOf(nested));
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(found.hits.size(), 1u);
    EXPECT_EQ(found.hits[0].groups[1], "/full/1.jpg?a=1&b=2");
    EXPECT_TRUE(none.hits.empty());
    EXPECT_EQ(none.end, SearchEnd::Complete);
    // A backtracking engine would not end in the lifetime of this test; RE2 reads the page
    // about once for each pattern.
    EXPECT_LT(took, 60s);

    // A hit that would span the page (no ">" ever closes the first "<img") is longer than the
    // bound: the slice it ends in finds one from a later "<img", with the same capture.
    std::string spanning;
    while (spanning.size() < 10'000'000) spanning += "<img alt=\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    spanning += "<img id=\"main\" src=\"/full/2.jpg\">";
    const PageHits wide = searchPageText(spanning, findOf(find));
    ASSERT_EQ(wide.hits.size(), 1u);
    EXPECT_EQ(wide.hits[0].groups[1], "/full/2.jpg");
    EXPECT_GT(wide.hits[0].start, 0u);
}

// Serves one page, whole or cut, with a status, as the whole download would give it.
class ServedPage : public UrlDownload {
  public:
    using UrlDownload::download;
    ServedPage(std::string body, long status, bool transferred)
        : body_(std::move(body)), status_(status), transferred_(transferred) {}
    DownloadOutcome download(const TransferRequest& request, const ByteSink& sink) override {
        DownloadOutcome outcome;
        outcome.httpStatus = status_;
        outcome.finalUrl = request.url;
        outcome.written = sink(body_.data(), body_.size());
        outcome.transferred = transferred_;
        if (!transferred_) outcome.error = "the transfer failed";
        return outcome;
    }

  private:
    std::string body_;
    long status_;
    bool transferred_;
};

TEST(PageSearch, OnlyAPageThatArrivedWholeBelowStatus400IsSearched) {
    const auto rules = findRule(R"re(src="([^"]+)")re");
    const std::string body = "<img src=\"/a.jpg\"><img src=\"/b.jpg\">";
    const struct {
        long status;
        bool transferred;
        const char* error;  // "" when read
    } cases[] = {
        {200, true, ""},         {399, true, ""},         {400, true, "HTTP 400"},
        {404, true, "HTTP 404"}, {503, true, "HTTP 503"}, {200, false, "the transfer failed"},
    };
    for (const auto& c : cases) {
        ServedPage download(body, c.status, c.transferred);
        SearchOptions every;
        every.everyHit = true;
        const PageSearch search = searchPage(download, "http://p.test/v", findOf(rules), every);
        EXPECT_EQ(search.read, std::string(c.error).empty()) << c.status;
        EXPECT_EQ(search.error, c.error) << c.status;
        EXPECT_FALSE(search.stopped);
        if (!search.read) continue;
        ASSERT_TRUE(search.found);
        EXPECT_EQ(search.found->groups[1], "/a.jpg");
        ASSERT_EQ(search.hits.size(), 2u);
        EXPECT_EQ(search.hits[1].groups[1], "/b.jpg");
    }

    // A stopped search is no page that was read.
    std::string hard(1 << 20, 'a');
    std::mt19937 random(5);
    for (char& c : hard) c = random() % 2 ? 'a' : 'b';
    ServedPage download(hard, 200, true);
    SearchOptions stop;
    stop.stopRequested = [] { return true; };
    const PageSearch stopped =
        searchPage(download, "http://p.test/hard", findOf(findRule("a[ab]{1000}c(x)")), stop);
    EXPECT_FALSE(stopped.read);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.error, "the search was stopped");
}

}  // namespace
}  // namespace velnoria
