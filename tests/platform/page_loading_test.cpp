#include "platform/html/page_loading.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

using testing::TempFolder;

class ScriptedDownload : public UrlDownload {
  public:
    std::string body;
    DownloadOutcome outcome;
    std::string askedFor;
    std::uint64_t limit = 0;

    using UrlDownload::download;
    DownloadOutcome download(const TransferRequest& request, const ByteSink& sink) override {
        askedFor = request.url;
        limit = request.maxBodyBytes;
        if (!body.empty()) sink(body.data(), body.size());
        return outcome;
    }
};

TEST(LoadPage, FetchesWebAddresses) {
    ScriptedDownload download;
    download.body = "<img src=a.jpg>";
    download.outcome.transferred = true;
    download.outcome.httpStatus = 200;
    const LoadedPage page = loadPage(" http://forum.example/t?id=1 ", download);
    ASSERT_TRUE(page.loaded) << page.error;
    EXPECT_EQ(download.askedFor, "http://forum.example/t?id=1");
    EXPECT_EQ(page.documentUrl, "http://forum.example/t?id=1");
    EXPECT_EQ(page.html, "<img src=a.jpg>");
    EXPECT_EQ(download.limit, kPageSizeLimit);
}

TEST(LoadPage, RefusesFailedTransfersAndErrorPages) {
    const struct {
        bool transferred;
        long status;
        std::string error;
        std::string expected;
    } cases[] = {
        {false, 0, "Could not resolve host", "Could not resolve host"},
        {false, 200, "", "the transfer failed"},
        {true, 404, "", "HTTP status 404"},
        {true, 500, "", "HTTP status 500"},
    };
    for (const auto& c : cases) {
        ScriptedDownload download;
        download.body = "<html>Not Found</html>";
        download.outcome.transferred = c.transferred;
        download.outcome.httpStatus = c.status;
        download.outcome.error = c.error;
        const LoadedPage page = loadPage("HTTPS://forum.example/", download);
        EXPECT_FALSE(page.loaded);
        EXPECT_NE(page.error.find(c.expected), std::string::npos) << page.error;
        EXPECT_TRUE(page.html.empty());
    }
}

TEST(LoadPage, ReadsLocalFilesByNameOrFileAddress) {
    TempFolder folder;
    const auto file = folder / "saved page.html";
    testing::writeFile(file, "<p>saved</p>");
    testing::writeFile(folder / "lastA", "<p>saved</p>");
    const std::string base = "file://" + folder.path().string();
    ScriptedDownload download;
    const std::pair<std::string, std::string> cases[] = {
        {file.string(), base + "/saved%20page.html"},
        {base + "/saved%20page.html", base + "/saved%20page.html"},
        {base + "/last%41", base + "/lastA"},  // an escape at the very end
    };
    for (const auto& [page, documentUrl] : cases) {
        const LoadedPage loaded = loadPage(page, download);
        ASSERT_TRUE(loaded.loaded) << page << ": " << loaded.error;
        EXPECT_EQ(loaded.html, "<p>saved</p>");
        EXPECT_EQ(loaded.documentUrl, documentUrl);
        // A small page keeps only about its own size for the whole run, not the size limit.
        EXPECT_LT(loaded.html.capacity(), 1u << 20);
    }
    EXPECT_TRUE(download.askedFor.empty());

    std::string longer;
    for (int k = 0; longer.size() < 300 * 1024; ++k) longer += "<p>" + std::to_string(k) + "</p>";
    testing::writeFile(folder / "long.html", longer);
    EXPECT_EQ(loadPage((folder / "long.html").string(), download).html, longer);
}

TEST(LoadPage, MissingFoldersAndOversizedLocalFilesAreNotPages) {
    TempFolder folder;
    ScriptedDownload download;
    EXPECT_NE(loadPage((folder / "nothing.html").string(), download).error.find("no such file"),
              std::string::npos);
    EXPECT_NE(loadPage(folder.path().string(), download).error.find("not a file"),
              std::string::npos);
    testing::writeFile(folder / "huge.html", std::string(kPageSizeLimit + 1, ' '));
    const LoadedPage huge = loadPage((folder / "huge.html").string(), download);
    EXPECT_FALSE(huge.loaded);
    EXPECT_NE(huge.error.find("larger"), std::string::npos);
}

TEST(LoadPage, RefusesPagesNestedTooDeeplyToParseInReasonableTime) {
    TempFolder folder;
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<p><b id=" + std::to_string(i) + ">x";
    testing::writeFile(folder / "deep.html", deep);
    ScriptedDownload download;
    const LoadedPage page = loadPage((folder / "deep.html").string(), download);
    EXPECT_FALSE(page.loaded);
    EXPECT_NE(page.error.find("nests its elements"), std::string::npos) << page.error;
}

}  // namespace
}  // namespace velnoria
