#pragma once

#include <string>
#include <vector>

namespace velnoria {

// An image of a document, and the address of the link around it ("" when it stands in none).
struct ImageInLink {
    std::string source;
    std::string link;

    bool operator==(const ImageInLink&) const = default;
};

// The document the embedded browser (or the command line's parsed page) shows right now.
// Addresses are absolute, as a browser's document object model reports them; a missing or
// unreadable document gives empty lists.
class BrowserDocument {
  public:
    virtual ~BrowserDocument() = default;
    virtual std::vector<std::string> imageSources() = 0;  // document.images[*].src, in order
    virtual std::vector<std::string> linkTargets() = 0;   // document.links[*].href, in order
    // document.images in order, each with the href of the nearest a element around it that has
    // one (read in one go, so the two stay paired).
    virtual std::vector<ImageInLink> imagesWithLinks() = 0;
    // The href of the first <link> or <a> whose rel names "next", made absolute; "" when none.
    virtual std::string nextPageAddress() { return {}; }
    // Where the document was found (after redirects); "" when unknown.
    virtual std::string documentAddress() { return {}; }
    // The document's title; "" when it has none.
    virtual std::string title() { return {}; }
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
