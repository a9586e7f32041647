#include "platform/curl/response_header_block.h"

#include "core/text.h"

namespace velnoria {

namespace {

// Whether libcurl goes on after this response: interim answers, and redirects it follows.
bool leadsFurther(std::string_view block) {
    const int status = statusCode(block);
    if (status >= 100 && status < 200) return true;
    const bool redirect = status >= 300 && status < 400 && status != 304;
    return redirect && !headerValue(block, "Location").empty();
}

}  // namespace

ResponseHeaderBlock::Step ResponseHeaderBlock::add(std::string_view line) {
    if (line.starts_with("HTTP/")) block_.clear();  // a new response starts
    if (block_.size() + line.size() > kMaxBytes) return Step::TooLarge;
    block_.append(line);
    if (trim(line, " \t\r\n").empty() && !leadsFurther(block_)) return Step::Final;
    return Step::More;
}

}  // namespace velnoria
