#include "platform/curl/response_header_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velnoria {
namespace {

using Step = ResponseHeaderBlock::Step;
using namespace std::string_literals;

struct Exchange {
    std::string name;
    std::vector<std::string> lines;
    std::vector<Step> steps;
    std::string finalBlock;
    ResponseHeaderBlock::Redirects redirects = ResponseHeaderBlock::Redirects::FollowedByLibrary;
};

TEST(ResponseHeaderBlock, KeepsTheBlockOfTheFinalResponse) {
    const std::vector<Exchange> cases = {
        {"plain",
         {"HTTP/1.1 200 OK\r\n", "A: 1\r\n", "\r\n"},
         {Step::More, Step::More, Step::Final},
         "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n"},
        {"interim answer first",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 404 Not Found\r\n", "\r\n"},
         {Step::More, Step::More, Step::More, Step::Final},
         "HTTP/1.1 404 Not Found\r\n\r\n"},
        {"redirect followed",
         {"HTTP/1.1 302 Found\r\n", "location: /b\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "\r\n"},
         {Step::More, Step::More, Step::More, Step::More, Step::Final},
         "HTTP/1.1 200 OK\r\n\r\n"},
        {"redirect without a location is final",
         {"HTTP/1.1 301 Moved\r\n", "Location:  \r\n", "\r\n"},
         {Step::More, Step::More, Step::Final},
         "HTTP/1.1 301 Moved\r\nLocation:  \r\n\r\n"},
        {"not modified is final",
         {"HTTP/1.1 304 Not Modified\r\n", "Location: /x\r\n", "\n"},
         {Step::More, Step::More, Step::Final},
         "HTTP/1.1 304 Not Modified\r\nLocation: /x\r\n\n"},
        {"redirect followed by the caller is final",
         {"HTTP/1.1 302 Found\r\n", "location: /b\r\n", "\r\n"},
         {Step::More, Step::More, Step::Final},
         "HTTP/1.1 302 Found\r\nlocation: /b\r\n\r\n",
         ResponseHeaderBlock::Redirects::FollowedByCaller},
        {"interim answer before a redirect the caller follows",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 307 Temporary\r\n", "Location: /c\r\n",
          "\r\n"},
         {Step::More, Step::More, Step::More, Step::More, Step::Final},
         "HTTP/1.1 307 Temporary\r\nLocation: /c\r\n\r\n",
         ResponseHeaderBlock::Redirects::FollowedByCaller},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResponseHeaderBlock block(c.redirects);
        std::vector<Step> steps;
        for (const auto& line : c.lines) steps.push_back(block.add(line));
        EXPECT_EQ(steps, c.steps);
        EXPECT_EQ(block.text(), c.finalBlock);
    }
}

TEST(ResponseHeaderBlock, RefusesABlockBeyondItsBound) {
    ResponseHeaderBlock block;
    ASSERT_EQ(block.add("HTTP/1.1 200 OK\r\n"), Step::More);
    const std::string line = "X: " + std::string(1000, 'v') + "\r\n";
    Step step = Step::More;
    std::size_t added = 0;
    while (step == Step::More && added < 1000) {
        step = block.add(line);
        ++added;
    }
    EXPECT_EQ(step, Step::TooLarge);
    EXPECT_LE(block.text().size(), ResponseHeaderBlock::kMaxBytes);
}

}  // namespace
}  // namespace velnoria
