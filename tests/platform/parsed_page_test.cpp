#include "platform/html/parsed_page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace velnoria {
namespace {

using List = std::vector<std::string>;

TEST(ParsedPage, ListsImagesAndLinksInDocumentOrder) {
    const std::string html = R"(<!DOCTYPE html><html><head><title>t</title></head><body>
<p><a href="http://www.imagebam.com/image/1"><img src="http://thumbs.imagebam.com/1.jpg"></a>
<img alt="no source">
<a name="anchor-only">x</a>
<map><area href="/area.html" shape="rect"><area nohref></map>
<table><tr><td><a href='rel/2.html'><img src='th/2.jpg'></a></td></tr></table>
<svg><a href="/svg-link"><image href="/svg.png"/></a></svg>
<template><img src="/in-template.jpg"><a href="/t">t</a></template>
<noscript><img src="/in-noscript.jpg"></noscript>
<img src="&#104;ttp://x.example/ent.jpg?a=1&amp;b=2">
<image src="/old-name.jpg">
</body></html>)";
    ParsedPage page(html, "http://forum.example/t/thread?id=1");
    EXPECT_EQ(page.imageSources(),
              (List{"http://thumbs.imagebam.com/1.jpg", "", "http://forum.example/t/th/2.jpg",
                    "http://x.example/ent.jpg?a=1&b=2", "http://forum.example/old-name.jpg"}));
    EXPECT_EQ(page.linkTargets(),
              (List{"http://www.imagebam.com/image/1", "http://forum.example/area.html",
                    "http://forum.example/t/rel/2.html"}));
}

TEST(ParsedPage, EachImageWithTheLinkAroundIt) {
    const std::string html = R"html(<body>
<a href="/full/1.jpg"><img src="t1.jpg"></a>
<a href="/full/2.jpg"><div><span><img src="t2.jpg"></span></div></a>
<img src="t3.jpg">
<a name="anchor"><img src="t4.jpg"></a>
<a href="/outer"><a href="/inner"><img src="t5.jpg"></a></a>
<a href=""><img src="t6.jpg"></a>
<a href="javascript:zoom()"><img></a>
</body>)html";
    ParsedPage page(html, "http://forum.example/t/thread");
    EXPECT_EQ(page.imagesWithLinks(),
              (std::vector<ImageInLink>{
                  {"http://forum.example/t/t1.jpg", "http://forum.example/full/1.jpg"},
                  {"http://forum.example/t/t2.jpg", "http://forum.example/full/2.jpg"},
                  {"http://forum.example/t/t3.jpg", ""},
                  {"http://forum.example/t/t4.jpg", ""},
                  // A link cannot hold another: the parser ends the first one.
                  {"http://forum.example/t/t5.jpg", "http://forum.example/inner"},
                  {"http://forum.example/t/t6.jpg", "http://forum.example/t/thread"},
                  {"", "javascript:zoom()"},
              }));
    // The same images, in the same order, as the plain list gives them.
    std::vector<std::string> sources;
    for (const auto& image : page.imagesWithLinks()) sources.push_back(image.source);
    EXPECT_EQ(sources, page.imageSources());
}

TEST(ParsedPage, FirstBaseHrefGovernsEveryAddressWhereverItStands) {
    const std::string html = R"(<html><body><img src="a.jpg"><a href="b.html">b</a>
<base target="_blank"><base href="http://mirror.example/pics/"><base href="http://ignored/">
</body></html>)";
    ParsedPage page(html, "http://forum.example/t/thread");
    EXPECT_EQ(page.baseUrl(), "http://mirror.example/pics/");
    EXPECT_EQ(page.imageSources(), List{"http://mirror.example/pics/a.jpg"});
    EXPECT_EQ(page.linkTargets(), List{"http://mirror.example/pics/b.html"});

    ParsedPage relativeBase(R"(<base href="../up/"><img src="c.jpg">)",
                            "http://forum.example/t/thread");
    EXPECT_EQ(relativeBase.imageSources(), List{"http://forum.example/up/c.jpg"});
}

TEST(ParsedPage, KeepsTheFirst3000Images) {
    std::string html = "<body>";
    for (int i = 1; i <= 3005; ++i) html += "<img src=\"/i" + std::to_string(i) + ".jpg\">";
    html += "<a href=\"/after\">after</a>";
    ParsedPage page(html, "http://h.example/");
    const auto images = page.imageSources();
    ASSERT_EQ(images.size(), 3000u);
    EXPECT_EQ(images.front(), "http://h.example/i1.jpg");
    EXPECT_EQ(images.back(), "http://h.example/i3000.jpg");
    EXPECT_EQ(page.linkTargets(), List{"http://h.example/after"});
}

TEST(ParsedPage, SurvivesBrokenAndHostileMarkup) {
    std::string deep;
    for (int i = 0; i < 1500; ++i) deep += "<div>";
    deep += "<img src=\"/deep.jpg\">";
    const struct {
        std::string html;
        List images;
    } cases[] = {
        {"", {}},
        {"<img src=\"/a.jpg\"", {}},
        {"<img src=/b.jpg><p><img src=\"/c.jpg\">",
         {"http://h.example/b.jpg", "http://h.example/c.jpg"}},
        {std::string("<img src=\"/n\0ul.jpg\">", 21), {"http://h.example/n%EF%BF%BDul.jpg"}},
        {"\xFF\xFE<img src=\"/bin.jpg\">\x80\x81", {"http://h.example/bin.jpg"}},
        {deep, {"http://h.example/deep.jpg"}},
    };
    for (const auto& c : cases) {
        ParsedPage page(c.html, "http://h.example/");
        EXPECT_EQ(page.imageSources(), c.images) << c.html.substr(0, 40);
    }
}

TEST(ParsedPage, NextPageIsTheFirstLinkOrAnchorWhoseRelNamesNext) {
    const struct {
        std::string html;
        std::string next;
    } cases[] = {
        {"<p>no next here <a href=\"/p2\">2</a>", ""},
        {"<head><link rel=\"next\" href=\"?page=2\"></head>", "http://f.example/t/x?page=2"},
        {"<a rel=\"nofollow NEXT\" href=\"/t/3\">next</a>", "http://f.example/t/3"},
        {"<a rel=\"next\">no address</a><a rel=next href=p4>4</a>", "http://f.example/t/p4"},
        {"<a rel=\"nextpage\" href=/x>x</a><link rel=\"prev next\" href=/y>", "http://f.example/y"},
        {"<area rel=next href=/area><a rel=\"\tnext\n\" href=/tab>", "http://f.example/tab"},
        {"<base href=\"http://m.example/b/\"><link rel=next href=\"n.html\">",
         "http://m.example/b/n.html"},
        {"<a rel=next href=\"javascript:more()\">more</a>", "javascript:more()"},
        {"<template><a rel=next href=/hidden></a></template><a rel=next href=/seen>",
         "http://f.example/seen"},
    };
    for (const auto& c : cases) {
        ParsedPage page(c.html, "http://f.example/t/x");
        EXPECT_EQ(page.nextPageAddress(), c.next) << c.html;
        EXPECT_EQ(page.documentAddress(), "http://f.example/t/x");
    }
}

TEST(ParsedPage, TitleIsTheTextOfTheFirstTitleWithItsBlanksMadeOne) {
    const struct {
        std::string html;
        std::string title;
    } cases[] = {
        {"<p>no title here", ""},
        {"<title>  Cats \n in\tthe   garden </title>", "Cats in the garden"},
        {"<title>First</title><title>Second</title>", "First"},
        {"<body><p><title>late &amp; <b>bold</b> in the body</title>",
         "late & <b>bold</b> in the body"},
        {"<svg><title>a drawing's</title></svg><title>the page's</title>", "the page's"},
        {"<title>caf\xe9</title>", "caf\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        ParsedPage page(c.html, "http://f.example/t/x");
        EXPECT_EQ(page.title(), c.title) << c.html;
    }
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Pages that once took gigabytes or minutes to parse, each refused within the parse's bounds.
TEST(ParsedPage, HostilePagesAreRefusedWithinTheLimits) {
    std::string rebuilt = "<div>";
    for (int i = 0; i < 1900; ++i) rebuilt += "<b x=" + std::to_string(i) + ">";
    rebuilt += "</div>" + repeat("<div>x</div>", 2000);
    std::string attributes = "<i";
    for (int i = 0; i < 100000; ++i) attributes += " a" + std::to_string(i);
    attributes += "><img src=/late.jpg>";
    ParseLimits small;
    small.memoryBytes = 64u * 1024 * 1024;
    small.processorTime = std::chrono::milliseconds(1000);
    const struct {
        const char* what;
        std::string html;
        std::string problem;
    } cases[] = {
        {"formatting elements rebuilt in every block", rebuilt,
         "the page needs more than 64 MiB to read"},
        {"attributes compared with each other", attributes,
         "the page takes more than 1 s of processor time to read"},
        {"stray end tags below a deep nesting", repeat("<div>", 1990) + repeat("</x>", 250000), ""},
    };
    for (const auto& c : cases) {
        ParsedPage page(c.html, "http://h.example/", small);
        EXPECT_EQ(page.problem(), c.problem) << c.what;
        EXPECT_LE(page.parseMemory(), small.memoryBytes) << c.what;
        if (!c.problem.empty()) {
            EXPECT_TRUE(page.imageSources().empty()) << c.what;
        }
    }
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
        // Counting stops just past the limit.
        {repeat("<p><b id=1>x", 3000), kMaxNestingDepth + 1},
        {repeat("<td><table>", 2500), kMaxNestingDepth + 1},
        // What the parser does not close does not close here either.
        {repeat("<object><title></title>", 2500), kMaxNestingDepth + 1},
        {repeat("<div></x>", 2500), kMaxNestingDepth + 1},
        {repeat("<div>", 3) + repeat("</span>", 10) + "<div>", 4},
        {repeat("<div><span></div>", 3), 2},
        {"<title>" + repeat("<div>", 10) + "</title><div>", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(estimateNestingDepth(c.html), c.depth) << c.html.substr(0, 60);
    }
}

}  // namespace
}  // namespace velnoria
