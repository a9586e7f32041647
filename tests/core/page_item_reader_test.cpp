#include "core/page_item_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/job_fakes.h"

namespace velnoria {
namespace {

using testing::TempFolder;
using testing::writeFile;

std::vector<std::string> itemsOf(const std::string& content) {
    TempFolder temp;
    const auto file = temp.path() / "page.txt";
    writeFile(file, content);
    PageItemReader reader(file);
    EXPECT_TRUE(reader.isOpen());
    std::vector<std::string> items;
    std::string item;
    while (reader.next(item)) items.push_back(item);
    EXPECT_TRUE(reader.atEnd());
    return items;
}

struct ReaderCase {
    std::string content;
    std::vector<std::string> items;
};

TEST(PageItemReader, SplitsLinesIntoItems) {
    using namespace std::string_literals;
    const ReaderCase cases[] = {
        {"a, b", {"a", "b"}},
        {"one line without commas", {"one line without commas"}},
        {"\"x,y\",z", {"x,y", "z"}},
        {"  \t lead", {"lead"}},
        {"trail  ,x", {"trail  ", "x"}},
        {"in\tside", {"in\tside"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"\"q\"dropped text,next", {"q", "next"}},
        {"\"open, no close\nnext", {"open, no close", "next"}},
        {"\"open\r\nnext", {"open", "next"}},
        {"\"never closes", {"never closes"}},
        {"say \"hi\" there", {"say \"hi\" there"}},
        {"<img src=\"a.jpg\" alt=\"b\">", {"<img src=\"a.jpg\" alt=\"b\">"}},
        {"", {}},
        {"a,", {"a"}},
        {",a", {"", "a"}},
        {"a\r\n", {"a"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"   ", {""}},
        {"  \"quoted after blanks\" , x", {"quoted after blanks", "x"}},
        {"\"\"", {""}},
        {"a\0b,c"s, {"a\0b"s, "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(itemsOf(c.content), c.items) << "content: " << c.content;
    }
}

TEST(PageItemReader, ItemsAndLineEndsAcrossBlockBoundaries) {
    // The reader works in blocks of 256 KiB: put a CR LF pair, a quote and items astride them.
    const std::size_t block = 256 * 1024;
    const std::string longItem(block - 1, 'x');
    EXPECT_EQ(itemsOf(longItem + "\r\nz"), (std::vector<std::string>{longItem, "z"}));

    const std::string quoted(block + 10, 'q');
    EXPECT_EQ(itemsOf("\"" + quoted + "\",tail"), (std::vector<std::string>{quoted, "tail"}));

    const std::string huge(3 * block + 7, 'h');
    const auto items = itemsOf("a," + huge + ",b\n");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].size(), huge.size());
    EXPECT_EQ(items[2], "b");
}

TEST(PageItemReader, ReadsFromTheDescriptorsOffsetAndLeavesItOpen) {
    TempFolder temp;
    const auto file = temp.path() / "page.txt";
    writeFile(file, "skip,first,second");
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 5, SEEK_SET), 5);
    {
        PageItemReader reader(fd);
        std::string item = "previous";
        ASSERT_TRUE(reader.next(item));
        EXPECT_EQ(item, "first");
        ASSERT_TRUE(reader.next(item));
        EXPECT_EQ(item, "second");
        EXPECT_FALSE(reader.next(item));
        EXPECT_EQ(item, "second");  // left as it was at the end
    }
    EXPECT_EQ(::lseek(fd, 0, SEEK_SET), 0);  // still open
    ::close(fd);
}

TEST(PageItemReader, FirstItemOfAFile) {
    TempFolder temp;
    writeFile(temp.path() / "version.txt", "2.3\r\nmore");
    writeFile(temp.path() / "empty.txt", "");
    EXPECT_EQ(readFirstPageItem(temp.path() / "version.txt"), "2.3");
    EXPECT_EQ(readFirstPageItem(temp.path() / "empty.txt"), std::nullopt);
    EXPECT_EQ(readFirstPageItem(temp.path() / "missing.txt"), std::nullopt);
    std::filesystem::create_symlink(temp.path() / "version.txt", temp.path() / "link.txt");
    EXPECT_EQ(readFirstPageItem(temp.path() / "link.txt"), std::nullopt);
}

}  // namespace
}  // namespace velnoria
