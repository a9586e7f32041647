#include "cli/markup_depth.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(MarkupDepth, CountsWhatReallyNestsAndNothingElse) {
    const struct {
        std::string html;
        std::size_t depth;
    } cases[] = {
        {"", 0},
        {"<html><head><title>x</title></head><body><div><a href=x><img src=y></a></div></body>", 2},
        {repeat("<div>", 300), 300},
        {repeat("<div/>", 300), 300},
        {repeat("<DIV class='a'>", 10) + repeat("</div>", 10), 10},
        {repeat("<b>x</b>", 5000), 1},
        {repeat("<p>x", 5000), 0},
        {repeat("<li>x", 5000) + repeat("<tr><td>x", 5000), 0},
        {repeat("<img src=a.jpg><br><hr>", 5000), 0},
        {"<svg>" + repeat("<path d='M0'/>", 5000) + "</svg>" + repeat("<div>", 3), 3},
        {"<!-- " + repeat("<div>", 100) + " -->", 0},
        {"<script>" + repeat("<div>", 100) + "</script><div>", 1},
        {"<style>" + repeat("<i>", 100) + "</STYLE>", 0},
        {"a < b and 3<4", 0},
        {"<div", 0},
        {repeat("<p><b id=1>x", 3000), 3000},
        {repeat("<td><table>", 2500), 2500},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(estimateNestingDepth(c.html), c.depth) << c.html.substr(0, 60);
    }
}

}  // namespace
}  // namespace velnoria
