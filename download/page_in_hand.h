#pragma once

#include <string>
#include <vector>

#include "platform/browser_document.h"

namespace velnoria {

// The page a job walks, read from its document once when the walk of the page begins: the rules
// work on these values, never on a document that may meanwhile show another page.
struct PageInHand {
    int number = 1;       // 1 for the first page of a thread
    std::string address;  // as the address box gave it, or the next page's address
    std::string foundAt;  // where its document was found, after redirects ("" unknown)
    std::vector<std::string> thumbList;   // entries 1..3000 at indexes 0..2999, "" past the last
    std::vector<std::string> imageLinks;  // the link around each image ("" none), when read
    std::vector<std::string> links;       // every link of the page, in order
    std::string nextPage;                 // the page it names as the next one; "" none
    std::string title;

    // The link around thumb list entry i (from 0); "" when outside any or not read.
    const std::string& linkAround(std::size_t index) const {
        static const std::string kNone;
        return index < imageLinks.size() ? imageLinks[index] : kNone;
    }
};

// Reads the page in hand from a document: its images (at most kMaxImages, with the links around
// them when withLinks), its links and its next page. A document that cannot be read gives empty
// lists.
PageInHand readPageInHand(BrowserDocument& document, bool withLinks);

}  // namespace velnoria
