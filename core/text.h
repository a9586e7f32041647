#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnoria {

// Text as the program reads it from people and from servers: blanks, ASCII letter case, and the
// values an HTTP answer carries. Positions are 1-based where a function says so; 0 is "none".

inline constexpr std::string_view kBlanks = " \t";
// What some editors put before the first line of a UTF-8 text file.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// text without the given characters at either end.
std::string_view trim(std::string_view text, std::string_view blanks = kBlanks);

// Whether text begins with prefix, ASCII letter case ignored.
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// Whether the two texts are equal, ASCII letter case ignored.
bool sameNoCase(std::string_view a, std::string_view b);

// Position of the first occurrence of marker in text, ASCII letter case ignored; 0 if none.
// Bytes outside ASCII compare exactly.
std::size_t positionIgnoringCase(std::string_view text, std::string_view marker);

// A "Content-Length" value the program trusts: a plain decimal number from 0 to 2147483647,
// blanks around it allowed. Anything else (empty, signs, other characters, too large) is none.
std::optional<std::int32_t> readContentLength(std::string_view value);

// The status code of a header block's status line ("HTTP/1.1 404 Not Found" gives 404), or 0
// when the block does not start with a readable status line.
int statusCode(std::string_view headerBlock);

// The trimmed value of the first header of that name in a header block (letter case of the name
// ignored, the status line passed over), "" when there is none.
std::string headerValue(std::string_view headerBlock, std::string_view name);

// When a header stands more than once in a header block with values that differ (trimmed), the
// first two of them joined by " and " ("10 and 40"); else "". The status line is passed over.
std::string differingHeaderValues(std::string_view headerBlock, std::string_view name);

// Whether a Content-Type value names an HTML document ("text/html", parameters and letter case
// aside).
bool isHtmlMediaType(std::string_view contentType);

// Watches the start of a body, fed in pieces of any size, for an HTML document: after any blanks
// (spaces, tabs, line ends, form feeds) "<!DOCTYPE html" or "<html", letter case ignored, a byte
// order mark allowed first. Holds no more than a few bytes whatever it is fed.
class HtmlStartSniffer {
  public:
    void feed(std::string_view bytes);
    bool isHtml() const { return state_ == State::Html; }

  private:
    enum class State { Blanks, Matching, Html, Other };
    State state_ = State::Blanks;
    std::string matched_;  // the bytes after the blanks, while they may still become a start
};

}  // namespace velnoria
