#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/browser_document.h"

namespace velnoria {

// What one parse of a page may take. The parser builds a node for every element, and can be led
// to build many more than the page writes (formatting elements it re-opens, attributes it
// compares with each other), so a hostile page is stopped by these rather than by the page's
// size. An ordinary forum page of 20 MiB takes about 490 MiB and 3 seconds.
struct ParseLimits {
    std::size_t memoryBytes = 512u * 1024 * 1024;
    std::chrono::milliseconds processorTime{20000};
    // Asked now and then while the page is read; true ends the reading (a stop request).
    std::function<bool()> interrupted;
};

// A page parsed as HTML5, read as a browser's document object model reports it: the src of every
// img element (document.images), with the href of the nearest a element around it, and the href
// of every a and area element that has one (document.links), in document order, made absolute
// against the document's base address (its first <base href>, else its own address); and the
// first <link> or <a> with rel "next". A page whose parse passes its limits has none of these,
// and problem() says why.
class ParsedPage : public BrowserDocument {
  public:
    static constexpr std::size_t kMaxImages = 3000;

    ParsedPage(std::string_view html, const std::string& documentUrl, ParseLimits limits = {});

    std::vector<std::string> imageSources() override { return images_; }
    std::vector<std::string> linkTargets() override { return links_; }
    std::vector<ImageInLink> imagesWithLinks() override;
    std::string nextPageAddress() override { return nextPage_; }
    std::string documentAddress() override { return documentAddress_; }
    std::string title() override { return title_; }
    const std::string& baseUrl() const { return baseUrl_; }
    // Why the page could not be read ("" when it was).
    const std::string& problem() const { return problem_; }
    // The memory the parse took, in bytes.
    std::size_t parseMemory() const { return parseMemory_; }

  private:
    std::string baseUrl_;
    std::vector<std::string> images_;
    std::vector<std::string> imageLinks_;  // beside images_: "" for an image in no link
    std::vector<std::string> links_;
    std::string nextPage_;
    std::string documentAddress_;
    std::string title_;
    std::string problem_;
    std::size_t parseMemory_ = 0;
};

// The HTML5 parser slows down steeply with the nesting depth of elements (2000 levels of
// formatting elements take a second, 20000 take minutes), so a page is measured before it is
// parsed. Real pages nest a few dozen levels.
inline constexpr std::size_t kMaxNestingDepth = 2000;

// How deeply the page's elements nest, estimated in one pass over the tags: void, self-closed
// and implicitly closed elements do not count, comments and the text of script and style are
// passed over, an end tag closes only an element of its name that is open. Never below the depth
// the parser builds for the ordinary nesting of a page. Counting stops once the depth passes
// kMaxNestingDepth.
std::size_t estimateNestingDepth(std::string_view html);

}  // namespace velnoria
