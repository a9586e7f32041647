// Reading a response's header block: the "Content-Length" value, the error markers, the status
// line, header lookup, repeated headers that differ, and the gathering of header lines into the
// final response's block; whether an answer is an HTML page, by its type and by its first bytes
// fed in pieces; and text made safe to print.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/printable.h"
#include "core/text.h"
#include "download/answer_judgement.h"
#include "fuzz/fuzz_support.h"
#include "platform/curl/response_header_block.h"

namespace {

using namespace velnoria;
using velnoria::fuzz::isInside;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folded(a[i]) != folded(b[i])) return false;
    }
    return true;
}

// A length is a run of digits with spaces or tabs around it, at most 2147483647.
std::optional<std::int32_t> modelContentLength(std::string_view value) {
    const auto first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    const auto digits = value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const auto significant = digits.find_first_not_of('0');
    if (significant == std::string_view::npos) return 0;
    const auto number = digits.substr(significant);
    if (number.size() > 10 || (number.size() == 10 && number > "2147483647")) return std::nullopt;
    return static_cast<std::int32_t>(std::stoll(std::string(number)));
}

void checkContentLength(std::string_view value) {
    const auto length = readContentLength(value);
    FUZZ_CHECK(length == modelContentLength(value));
    if (length) FUZZ_CHECK(*length >= 0);
}

void checkWholeBlock(std::string_view block, std::string_view name) {
    checkContentLength(block);
    const int code = statusCode(block);
    // What an image's headers say against it: its error status first, then the markers.
    const bool marked = isInside(block, "500 Internal Server Error") ||
                        isInside(block, "Unable to complete request");
    const std::string problem = answerProblem(block);
    if (code >= 400) {
        FUZZ_CHECK(problem == "HTTP " + std::to_string(code));
    } else if (marked) {
        FUZZ_CHECK(problem.starts_with("server error: "));
    } else {
        FUZZ_CHECK(problem.empty() || problem == kHtmlAnswer);
    }

    FUZZ_CHECK(code >= 0 && code <= 999);
    if (code > 0) {
        const auto firstLine = block.substr(0, block.find_first_of("\r\n"));
        FUZZ_CHECK(firstLine.starts_with("HTTP/"));
        FUZZ_CHECK(isInside(firstLine, std::to_string(code)));
    }

    for (const std::string_view asked : {name, std::string_view("Content-Length"),
                                         std::string_view("Location"), std::string_view()}) {
        const std::string value = headerValue(block, asked);
        if (asked.empty()) FUZZ_CHECK(value.empty());
        FUZZ_CHECK(isInside(block, value));
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        FUZZ_CHECK(value.empty() || (!isBlank(value.front()) && !isBlank(value.back())));
        checkContentLength(value);
    }
}

// The values of every header of that name, trimmed, in order (the status line passed over).
std::vector<std::string> modelValues(std::string_view block, std::string_view name) {
    std::vector<std::string> values;
    bool first = true;
    while (!block.empty()) {
        const auto end = block.find('\n');
        const auto line = block.substr(0, end);
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
        if (std::exchange(first, false)) continue;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        auto trimmed = [](std::string_view text) {
            while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
            while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
            return text;
        };
        if (name.empty() || !sameNoCase(trimmed(line.substr(0, colon)), name)) continue;
        values.emplace_back(trimmed(line.substr(colon + 1)));
    }
    return values;
}

void checkDifferingValues(std::string_view block, std::string_view name) {
    const std::vector<std::string> values = modelValues(block, name);
    std::string expected;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (values[i] != values.front()) {
            expected = values.front() + " and " + values[i];
            break;
        }
    }
    FUZZ_CHECK(differingHeaderValues(block, name) == expected);
}

// An HTML start: after spaces, tabs, CR, LF and FF, and a byte order mark if one stands there,
// "<!doctype html" or "<html", letter case ignored.
bool modelHtmlStart(std::string_view body) {
    const auto first = body.find_first_not_of(" \t\r\n\f");
    if (first == std::string_view::npos) return false;
    body.remove_prefix(first);
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    return sameNoCase(body.substr(0, 14), "<!doctype html") ||
           sameNoCase(body.substr(0, 5), "<html");
}

void checkHtmlAnswer(std::string_view body, std::size_t piece) {
    HtmlStartSniffer sniffer;
    for (std::size_t at = 0; at < body.size(); at += piece) sniffer.feed(body.substr(at, piece));
    FUZZ_CHECK(sniffer.isHtml() == modelHtmlStart(body));
    // As a type, only "text/html" counts, with parameters after ";" and blanks around.
    const auto type = body.substr(0, body.find(';'));
    const auto begin = type.find_first_not_of(" \t");
    const bool html =
        begin != std::string_view::npos &&
        sameNoCase(type.substr(begin, type.find_last_not_of(" \t") - begin + 1), "text/html");
    FUZZ_CHECK(isHtmlMediaType(body) == html);
}

// Printable text is well-formed UTF-8 without a control character, holds each byte of the text
// in order, either as it stands or as \xHH, or a character that turns the direction as \uHHHH,
// and is the text itself when that held none of these. A cut text is the printable text of a
// start of it, with "..." after it.
void checkPrintable(std::string_view text, std::size_t longest) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // The UTF-8 forms of U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069.
    const auto directionAt = [](std::string_view rest) -> std::string {
        if (rest.starts_with("\xD8\x9C")) return "\\u061C";
        if (rest.size() < 3 || (!rest.starts_with("\xE2\x80") && !rest.starts_with("\xE2\x81"))) {
            return {};
        }
        const unsigned code = 0x2000 + ((static_cast<unsigned char>(rest[1]) & 0x3F) << 6) +
                              (static_cast<unsigned char>(rest[2]) & 0x3F);
        const bool turns = code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
                           (code >= 0x2066 && code <= 0x2069);
        if (!turns || (static_cast<unsigned char>(rest[2]) & 0xC0) != 0x80) return {};
        return {'\\',
                'u',
                kHex[code >> 12],
                kHex[(code >> 8) & 0xF],
                kHex[(code >> 4) & 0xF],
                kHex[code & 0xF]};
    };
    const std::string printable = printableText(text);
    FUZZ_CHECK(isControlFreeUtf8(printable));
    bool turnsDirection = false;
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view rest = text.substr(i);
        if (const std::string shown = directionAt(rest);
            !shown.empty() && printable.compare(at, shown.size(), shown) == 0) {
            turnsDirection = true;
            at += shown.size();
            i += (shown == "\\u061C" ? 2 : 3) - 1;
            continue;
        }
        // A kept byte is never a backslash's stand-in: a backslash in the text is kept.
        if (at < printable.size() && printable[at] == text[i]) {
            ++at;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::string escaped = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        FUZZ_CHECK(printable.compare(at, 4, escaped) == 0);
        at += 4;
    }
    FUZZ_CHECK(at == printable.size());
    if (isControlFreeUtf8(text) && !turnsDirection) FUZZ_CHECK(printable == text);

    const std::string cut = printableText(text, longest);
    if (longest >= text.size()) {
        FUZZ_CHECK(cut == printable);
    } else {
        FUZZ_CHECK(cut.ends_with("..."));
        const std::string shown = cut.substr(0, cut.size() - 3);
        // A start of the text within the bound, short of it by less than a character.
        bool found = false;
        for (std::size_t length = longest; length + 4 > longest && !found; --length) {
            found = printableText(text.substr(0, length)) == shown;
            if (length == 0) break;
        }
        FUZZ_CHECK(found);
        FUZZ_CHECK(printable.starts_with(shown));
    }
}

// Feeds the block line by line, as libcurl hands header lines over, starting afresh after each
// final block the way one transfer after another would.
void checkGathering(std::string_view block) {
    ResponseHeaderBlock gathered;
    while (!block.empty()) {
        const auto end = block.find('\n');
        const auto line = block.substr(0, end == std::string_view::npos ? block.size() : end + 1);
        block.remove_prefix(line.size());

        const std::string before = gathered.text();
        const auto step = gathered.add(line);
        const std::string& now = gathered.text();
        FUZZ_CHECK(now.size() <= ResponseHeaderBlock::kMaxBytes);
        const bool blankLine = line.find_first_not_of(" \t\r\n") == std::string_view::npos;
        switch (step) {
            case ResponseHeaderBlock::Step::TooLarge:
                FUZZ_CHECK((line.starts_with("HTTP/") ? 0 : before.size()) + line.size() >
                           ResponseHeaderBlock::kMaxBytes);
                gathered.clear();
                break;
            case ResponseHeaderBlock::Step::Final: {
                FUZZ_CHECK(blankLine && now.ends_with(line));
                const int status = statusCode(now);
                FUZZ_CHECK(status < 100 || status >= 200);
                if (status >= 300 && status < 400 && status != 304) {
                    FUZZ_CHECK(headerValue(now, "Location").empty());
                }
                gathered.clear();
                break;
            }
            case ResponseHeaderBlock::Step::More:
                FUZZ_CHECK(now.ends_with(line));
                FUZZ_CHECK(line.starts_with("HTTP/") ? now == line
                                                     : now == before + std::string(line));
                break;
        }
    }
}

// A well-formed block made of the input: a status line and header lines with known values.
void checkWellFormed(FuzzedDataProvider& data) {
    const int code = data.ConsumeIntegralInRange(100, 999);
    std::string reason = data.ConsumeRandomLengthString(16);
    for (char& c : reason) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    std::string block = "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n";

    static constexpr std::string_view kNames[] = {"Content-Length", "content-length",
                                                  "Location",       "X-Other",
                                                  "CONTENT-LENGTH", "Content-Type"};
    struct Header {
        std::string_view name;
        std::string value;
    };
    std::vector<Header> headers;
    const int count = data.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        Header h{kNames[data.ConsumeIntegralInRange<std::size_t>(0, 5)],
                 data.ConsumeRandomLengthString(24)};
        std::string clean;
        for (const char c : h.value) {
            if (c != '\r' && c != '\n') clean += c;
        }
        const auto first = clean.find_first_not_of(" \t");
        h.value = first == std::string::npos
                      ? std::string()
                      : clean.substr(first, clean.find_last_not_of(" \t") - first + 1);
        block += std::string(h.name) + ":" + (i % 2 ? " " : "") + h.value + "\r\n";
        headers.push_back(std::move(h));
    }
    block += "\r\n";

    FUZZ_CHECK(statusCode(block) == code);
    for (const std::string_view asked : {"Content-Length", "LOCATION", "x-other"}) {
        std::string expected;
        for (const auto& h : headers) {
            if (sameNoCase(h.name, asked)) {
                expected = h.value;
                break;
            }
        }
        FUZZ_CHECK(headerValue(block, asked) == expected);
    }
    ResponseHeaderBlock gathered;
    std::string_view rest = block;
    ResponseHeaderBlock::Step step = ResponseHeaderBlock::Step::More;
    while (!rest.empty()) {
        const auto line = rest.substr(0, rest.find('\n') + 1);
        rest.remove_prefix(line.size());
        step = gathered.add(line);
        if (!rest.empty()) FUZZ_CHECK(step == ResponseHeaderBlock::Step::More);
    }
    const bool leadsOn = (code < 200) || (code >= 300 && code < 400 && code != 304 &&
                                          !headerValue(block, "Location").empty());
    FUZZ_CHECK(step ==
               (leadsOn ? ResponseHeaderBlock::Step::More : ResponseHeaderBlock::Step::Final));
    FUZZ_CHECK(gathered.text() == block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    if (data.ConsumeIntegralInRange(0, 3) == 0) {
        checkWellFormed(data);
        return 0;
    }
    const std::size_t piece = data.ConsumeIntegralInRange<std::size_t>(1, 16);
    const std::string name = data.ConsumeRandomLengthString(32);
    const std::string block = data.ConsumeRemainingBytesAsString();
    checkWholeBlock(block, name);
    checkDifferingValues(block, name);
    checkDifferingValues(block, "Content-Length");
    checkGathering(block);
    checkHtmlAnswer(block, piece);
    // The piece size stands in for the bound of a cut text, now and then a short one.
    checkPrintable(block, piece * piece);
    return 0;
}
