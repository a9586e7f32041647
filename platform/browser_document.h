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
    // The href of the first <link> or <a> whose rel names "next", made absolute; "" when none.
    virtual std::string nextPageAddress() { return {}; }
    // Where the document was found (after redirects); "" when unknown.
    virtual std::string documentAddress() { return {}; }
};

// Reads another page of a thread for the job, as the front end reads pages: the desktop shows it
// in its browser and waits as Go does, velnoria-get fetches and parses it.
class PageReader {
  public:
    virtual ~PageReader() = default;
    // The page's document, valid until the next read; nullptr with a one-line reason in error
    // when the page cannot be read. documentAddress becomes the address the page was found at.
    virtual BrowserDocument* read(const std::string& address, std::string& documentAddress,
                                  std::string& error) = 0;
};

}  // namespace velnoria
