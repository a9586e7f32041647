#include "download/failed_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velnoria {
namespace {

using Lines = std::vector<std::string>;

TEST(FailedList, ReadsAddressesAndKeepsEverythingElse) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        Lines addresses;
        Lines other;
    } cases[] = {
        {"", {}, {}},
        {"\r\n\n  \t\r\n", {}, {}},
        {"http://a/1\r\nHTTPS://b/2\nhttp://a/1\r\n", {"http://a/1", "HTTPS://b/2"}, {}},
        {"  http://a/x y \t\r\n", {"http://a/x y"}, {}},
        {"http://a/\x01z\r\nftp://c/\r\njust words",
         {},
         {"http://a/\x01z", "ftp://c/", "just words"}},
        {"\0\x01\xff http://a/\r\n"s, {}, {"\0\x01\xff http://a/"s}},
        {"http://a/last-without-line-end", {"http://a/last-without-line-end"}, {}},
        {"http://a/cr\r\r\n", {}, {"http://a/cr\r"}},
    };
    for (const auto& c : cases) {
        const FailedList list = parseFailedList(c.text);
        EXPECT_EQ(list.addresses, c.addresses) << c.text;
        EXPECT_EQ(list.otherLines, c.other) << c.text;
        EXPECT_EQ(list.size, c.text.size());
    }
}

}  // namespace
}  // namespace velnoria
