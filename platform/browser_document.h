#pragma once

#include <string>
#include <vector>

namespace velnoria {

// The document the embedded browser (or the command line's parsed page) shows right now.
// Addresses are absolute, as a browser's document object model reports them; a missing or
// unreadable document gives empty lists.
class BrowserDocument {
  public:
    virtual ~BrowserDocument() = default;
    virtual std::vector<std::string> imageSources() = 0;  // document.images[*].src, in order
    virtual std::vector<std::string> linkTargets() = 0;   // document.links[*].href, in order
};

}  // namespace velnoria
