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

    // One line as received, line end included.
    Step add(std::string_view line);
    void clear() { block_.clear(); }
    const std::string& text() const { return block_; }

  private:
    std::string block_;
};

}  // namespace velnoria
