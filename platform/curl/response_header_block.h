#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velnoria {

// Gathers the header lines of the responses to one request (interim answers and redirects
// included) and keeps the block of the final response, bounded in size.
class ResponseHeaderBlock {
  public:
    static constexpr std::size_t kMaxBytes = 256 * 1024;

    enum class Step { More, Final, TooLarge };
    // Who follows a redirect: libcurl, which goes on to the next answer in the same request, or
    // the caller, for whom a redirect's block is the final one of the request.
    enum class Redirects { FollowedByLibrary, FollowedByCaller };

    explicit ResponseHeaderBlock(Redirects redirects = Redirects::FollowedByLibrary)
        : redirects_(redirects) {}

    // One line as received, line end included.
    Step add(std::string_view line);
    void clear() { block_.clear(); }
    const std::string& text() const { return block_; }

  private:
    bool leadsFurther() const;

    Redirects redirects_;
    std::string block_;
};

}  // namespace velnoria
