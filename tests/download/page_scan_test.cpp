#include "download/page_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/page_item_reader.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "download/job_context.h"
#include "download/rules/page_search.h"
#include "download/rules/rule_text.h"
#include "tests/support/job_fakes.h"
#include "tests/support/scoped_env.h"

namespace velnoria {
namespace {

using testing::FakePage;
using testing::FakeReply;
using testing::JobBench;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

constexpr const char* kPage = "http://pages.test/p";

// Scans a page as a rule of a job does; the job's temporary files go into bench.scratch.
struct ScanBench {
    ScanBench() : tmpdir("TMPDIR", bench.scratch.path().string()) {}

    void serve(const std::string& url, const FakePage& page) {
        bench.fakeEngine.answer(url, {FakeReply::page(page)});
    }
    PageScanResult scan(const std::string& url, const std::string& marker,
                        std::chrono::milliseconds wait = {}, const FoundItemAction& onFound = {}) {
        if (!job) job = bench.beginJob();
        return scanServicePage(job->job(), url, marker, wait, onFound);
    }

    JobBench bench;
    testing::ScopedEnv tmpdir;
    std::unique_ptr<JobSurroundings> job;
};

struct ScanCase {
    const char* what;
    std::string page;
    std::string marker;
    std::string item;  // the found item; "" when not found
    std::size_t position;
};

TEST(PageScan, FindsTheFirstItemHoldingTheMarker) {
    const ScanCase cases[] = {
        {"last item", "a,b\nc,x_o.jpg", "_o.jpg", "x_o.jpg", 2},
        {"upper case", "<A HREF=\"http://x/1_O.JPG\">", "_o.jpg", "<A HREF=\"http://x/1_O.JPG\">",
         20},
        {"two items: the first wins", "1_o.jpg,2_o.jpg", "_o.jpg", "1_o.jpg", 2},
        {"quoted item keeps its commas", "\"http://x/a,b_o.jpg\",z", "_o.jpg", "http://x/a,b_o.jpg",
         13},
        {"unquoted item is cut at a comma", "http://x/a,b_o.jpg", "_o.jpg", "b_o.jpg", 2},
        {"marker after leading blanks", "   <img src='x'>", "<img src='", "<img src='x'>", 1},
        {"not there", "<html><body>nothing</body></html>", "_o.jpg", "", 0},
        {"empty page", "", "_o.jpg", "", 0},
        {"NUL bytes around", std::string("a\0b,\0 alt=\"x\"\0", 14),
         " alt=", std::string("\0 alt=\"x\"\0", 10), 2},
    };
    for (const auto& c : cases) {
        ScanBench scan;
        scan.serve(kPage, {c.page, 200, true});
        const PageScanResult result = scan.scan(kPage, c.marker);
        EXPECT_EQ(result.position, c.position) << c.what;
        if (c.position > 0) {
            EXPECT_EQ(result.item, c.item) << c.what;
        }
        EXPECT_EQ(scan.bench.fakeEngine.started,
                  std::vector<std::string>{"GET " + std::string(kPage)})
            << c.what;
        EXPECT_TRUE(scan.bench.scratchFiles().empty()) << c.what;
    }
}

// The first item holding the marker, found by reading every item: what passing over lines
// must never change.
PageScanResult firstItemHolding(const std::filesystem::path& file, const std::string& marker) {
    PageItemReader reader(file);
    std::string item;
    while (reader.next(item)) {
        if (const auto at = positionIgnoringCase(item, marker); at > 0) return {item, at, {}};
    }
    return {};
}

PageScanResult markerItemOfFile(const std::filesystem::path& file, const std::string& marker) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(fd.valid());
    return findMarkerItem(fd.get(), marker, {});
}

TEST(PageScan, PassingOverLinesFindsWhatReadingEveryItemFinds) {
    const std::size_t block = 256 * 1024;  // the reader's block
    const std::string longLine(block + 100, 'x');
    struct Case {
        const char* what;
        std::string page;
        std::string marker;
    };
    const Case cases[] = {
        {"last line", "a,b\nc,d\ne,mark", "mark"},
        {"letter case", "a\r\nb\r\nxMaRkx", "mark"},
        {"only CR between lines", "a\rb\rc,mark\rd", "mark"},
        {"in a line across commas, then whole", "xa,by\n\"qa,bq\"", "a,b"},
        {"after a closing quote, then whole", "\"q\"mark,c\nz mark", "mark"},
        {"across a line end only", "xa\nbx\na\r\nb", "a\nb"},
        {"twice in one line", "mar,k mar,kmark,mark", "mark"},
        {"nowhere", "a,b\nc", "mark"},
        {"empty marker", "\n\n,  ,x", ""},
        {"line across the block end", longLine + "\nmark", "mark"},
        {"marker across the block end", std::string(block - 2, 'y') + "mark\n", "mark"},
        {"CR LF across the block end", std::string(block - 1, 'y') + "\r\nmark", "mark"},
        {"in the long line", longLine + "mark,z\nmark", "mark"},
        {"hit before the block end, line after", std::string(block - 10, 'y') + "ma,rk\nmark",
         "ma,rk"},
    };
    for (const auto& c : cases) {
        TempFolder temp;
        const auto file = temp.path() / "page.htm";
        writeFile(file, c.page);
        const PageScanResult expected = firstItemHolding(file, c.marker);
        const PageScanResult found = markerItemOfFile(file, c.marker);
        EXPECT_EQ(found.position, expected.position) << c.what;
        EXPECT_EQ(found.item, expected.item) << c.what;
    }

    // Pages of many lines in which the marker stands now whole in an item, now split by a
    // separator or outside any item.
    std::minstd_rand random(7);
    const std::string filler = "xyz ,\"\r\n";
    const std::string split[] = {"ma,rk", "ma\nrk", "\"ma\"rk", "m\"ark\"", "ma\r\nrk", "mar\rk"};
    for (int page = 0; page < 12; ++page) {
        std::string text;
        while (text.size() < 3 * block) {
            if (random() % 2000 != 0) {
                text += filler[random() % filler.size()];
            } else if (random() % 300 == 0) {
                text += "MaRk";  // whole, about once in a page
            } else {
                text += split[random() % std::size(split)];
            }
        }
        TempFolder temp;
        const auto file = temp.path() / "page.htm";
        writeFile(file, text);
        const PageScanResult expected = firstItemHolding(file, "mark");
        const PageScanResult found = markerItemOfFile(file, "mark");
        EXPECT_EQ(found.position, expected.position) << "page " << page;
        EXPECT_EQ(found.item, expected.item) << "page " << page;
    }
}

TEST(PageScan, PagesThatCannotBeHadGiveNothingAndSayWhy) {
    struct Case {
        const char* what;
        bool serve;
        FakePage page;
        std::size_t position;
        std::string problem;
    };
    const Case cases[] = {
        {"unreachable", false, {}, 0, "failure code 7"},
        {"broken transfer", true, {"x_o.jpg", 200, false}, 0, "connection reset"},
        {"error page is scanned like any page", true, {"x_o.jpg", 404, true}, 2, "HTTP 404"},
        {"error page without the marker", true, {"busy", 500, true}, 0, "HTTP 500"},
        {"too large",
         true,
         {std::string(kMaxPageBytes + 1, 'a'), 200, true},
         0,
         "longer than 134217728 bytes"},
        {"read without the marker", true, {"nothing here", 200, true}, 0, ""},
    };
    for (const auto& c : cases) {
        ScanBench scan;
        if (c.serve) scan.serve(kPage, c.page);
        const PageScanResult result = scan.scan(kPage, "_o.jpg");
        EXPECT_EQ(result.position, c.position) << c.what;
        EXPECT_EQ(result.problem, c.problem) << c.what;
        EXPECT_TRUE(scan.bench.scratchFiles().empty()) << c.what;
    }
}

TEST(PageScan, TheFoundItemIsHandledBeforeTheScanEnds) {
    ScanBench scan;
    scan.serve(kPage, {"a_o.jpg,b_o.jpg", 200, true});
    std::vector<std::string> calls;
    const PageScanResult result =
        scan.scan(kPage, "_o.jpg", {}, [&](const std::string& item, std::size_t at) {
            calls.push_back(item + "@" + std::to_string(at));
        });
    EXPECT_EQ(result.position, 2u);
    EXPECT_EQ(calls, std::vector<std::string>{"a_o.jpg@2"});
    EXPECT_TRUE(scan.bench.scratchFiles().empty());
}

TEST(PageScan, AStopDuringTheFoundItemLeavesNoFileBehind) {
    ScanBench scan;
    scan.serve(kPage, {"a_o.jpg", 200, true});
    EXPECT_THROW(scan.scan(kPage, "_o.jpg", {}, [](auto&, auto) { throw JobStopped{}; }),
                 JobStopped);
    EXPECT_TRUE(scan.bench.scratchFiles().empty());
}

TEST(PageScan, TheUsersOwnFilesAreNeverTouched) {
    ScanBench scan;
    const std::filesystem::path temp = scan.bench.scratch.path();
    const auto elsewhere = temp / "elsewhere.txt";
    writeFile(elsewhere, "keep");
    // What stood at the scratch files' old names, and a link that would lead out of the folder.
    writeFile(temp / "index.htm", "my page with x alt=\"stale\"");
    writeFile(temp / "temp.txt", "my notes");
    std::filesystem::create_symlink(elsewhere, temp / "velnoria-page-link.htm");
    scan.serve(kPage, {"x alt=\"y\"", 200, true});
    for (const std::string url : {kPage, "http://gone.test/"}) {
        const PageScanResult result = scan.scan(url, " alt=");
        EXPECT_EQ(result.position, url == kPage ? 2u : 0u) << url;
    }
    EXPECT_EQ(readFile(temp / "index.htm"), "my page with x alt=\"stale\"");
    EXPECT_EQ(readFile(temp / "temp.txt"), "my notes");
    EXPECT_EQ(readFile(elsewhere), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp),
                            std::filesystem::directory_iterator()),
              4);
}

TEST(PageScan, WaitsBetweenDownloadAndReading) {
    ScanBench scan;
    scan.serve(kPage, {"x alt=\"y\"", 200, true});
    const auto start = std::chrono::steady_clock::now();
    scan.scan(kPage, " alt=", std::chrono::milliseconds(300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace velnoria
