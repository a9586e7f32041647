#include "download/page_in_hand.h"

#include <algorithm>
#include <exception>

#include "download/job_context.h"

namespace velnoria {

namespace {

// A document read that fails leaves its part of the page empty; the walk goes on without it.
template <typename Read>
auto readOrEmpty(Read read) -> decltype(read()) {
    try {
        return read();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

PageInHand readPageInHand(BrowserDocument& document, bool withLinks) {
    PageInHand page;
    page.thumbList.resize(kThumbListSize);
    std::vector<std::string> sources;
    if (withLinks) {
        std::vector<ImageInLink> images = readOrEmpty([&] { return document.imagesWithLinks(); });
        page.imageLinks.resize(kThumbListSize);
        for (std::size_t i = 0; i < images.size() && i < kThumbListSize; ++i) {
            sources.push_back(std::move(images[i].source));
            page.imageLinks[i] = std::move(images[i].link);
        }
    } else {
        sources = readOrEmpty([&] { return document.imageSources(); });
    }
    const auto count = std::min<std::size_t>(sources.size(), kThumbListSize);
    std::move(sources.begin(), sources.begin() + static_cast<std::ptrdiff_t>(count),
              page.thumbList.begin());
    page.links = readOrEmpty([&] { return document.linkTargets(); });
    page.nextPage = readOrEmpty([&] { return document.nextPageAddress(); });
    page.foundAt = readOrEmpty([&] { return document.documentAddress(); });
    page.title = readOrEmpty([&] { return document.title(); });
    return page;
}

}  // namespace velnoria
