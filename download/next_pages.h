#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace velnoria {

// Which next page of a thread the job may read, and which it must leave alone.
class NextPages {
  public:
    enum class Verdict { Follow, NotWeb, OtherHost, ReadBefore, LimitReached };

    // firstPage: as the address box gave it; foundAt: where its document was found.
    NextPages(std::string_view firstPage, std::string_view foundAt, int maxPages);

    // Whether the page after the current one may be read.
    Verdict judge(std::string_view next) const;
    // Records a page read: the address asked for and the one it was found at.
    void read(std::string_view asked, std::string_view foundAt);

    int pagesRead() const { return pagesRead_; }
    int maxPages() const { return maxPages_; }

  private:
    std::unordered_set<std::string> seen_;
    std::unordered_set<std::string> hosts_;  // of the pages read: a redirect may change the host
    int pagesRead_ = 0;
    int maxPages_;
};

// An address or a reason as a log line shows it: printableText, cut after 2000 bytes.
std::string oneLine(std::string_view text);

}  // namespace velnoria
