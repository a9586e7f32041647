#include "platform/curl/response_header_block.h"

#include "core/text.h"

namespace velnoria {

// Whether the request goes on after this response: interim answers, and redirects libcurl
// follows.
bool ResponseHeaderBlock::leadsFurther() const {
    const int status = statusCode(block_);
    if (status >= 100 && status < 200) return true;
    if (redirects_ == Redirects::FollowedByCaller) return false;
    const bool redirect = status >= 300 && status < 400 && status != 304;
    return redirect && !headerValue(block_, "Location").empty();
}

ResponseHeaderBlock::Step ResponseHeaderBlock::add(std::string_view line) {
    if (line.starts_with("HTTP/")) block_.clear();  // a new response starts
    if (block_.size() + line.size() > kMaxBytes) return Step::TooLarge;
    block_.append(line);
    if (trim(line, " \t\r\n").empty() && !leadsFurther()) return Step::Final;
    return Step::More;
}

}  // namespace velnoria
