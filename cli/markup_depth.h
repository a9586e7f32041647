#pragma once

#include <cstddef>
#include <string_view>

namespace velnoria {

// The HTML5 parser slows down steeply with the nesting depth of elements (2000 levels of
// formatting elements take a second, 20000 take minutes), so a page is measured before it is
// parsed. Real pages nest a few dozen levels.
inline constexpr std::size_t kMaxNestingDepth = 2000;

// How deeply the page's elements nest, estimated in one pass over the tags: void, self-closed
// and implicitly closed elements do not count, comments and the text of script and style are
// passed over. Never below the depth the parser builds for the ordinary nesting of a page.
std::size_t estimateNestingDepth(std::string_view html);

}  // namespace velnoria
