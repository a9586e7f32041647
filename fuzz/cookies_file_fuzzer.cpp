// The cookies.txt reader on any bytes: every cookie it keeps can go into a Cookie header as it
// stands, every problem is one line of the reader's own words that never quotes the file, and
// the cookies written back as a cookies.txt read back unchanged, from the text and from a file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/unique_fd.h"
#include "fuzz/fuzz_support.h"
#include "platform/cookies_file.h"

namespace {

using namespace velnoria;

bool headerSafe(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ';') return false;
    }
    return true;
}

std::string netscapeLine(const Cookie& cookie) {
    return std::string(cookie.httpOnly ? "#HttpOnly_" : "") + cookie.domain + '\t' +
           (cookie.includeSubdomains ? "TRUE" : "FALSE") + '\t' + cookie.path + '\t' +
           (cookie.secure ? "TRUE" : "FALSE") + '\t' + std::to_string(cookie.expires) + '\t' +
           cookie.name + '\t' + cookie.value + '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const CookiesFile read = parseCookiesText(text, "c.txt");

    FUZZ_CHECK(read.problems.size() <= kCookiesProblemsShown + 1);
    for (const std::string& problem : read.problems) {
        FUZZ_CHECK(problem.starts_with("c.txt:"));
        // The reader's words are plain ASCII: nothing of the file is in them.
        for (const char c : problem) {
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 &&
                       static_cast<unsigned char>(c) < 0x7F);
        }
    }
    std::string written;
    for (const Cookie& cookie : read.cookies) {
        FUZZ_CHECK(!cookie.domain.empty() && !cookie.domain.starts_with('.'));
        FUZZ_CHECK(headerSafe(cookie.domain) && headerSafe(cookie.name) &&
                   headerSafe(cookie.value));
        FUZZ_CHECK(cookie.path.starts_with('/') && headerSafe(cookie.path));
        FUZZ_CHECK(cookie.name.find('=') == std::string::npos);
        FUZZ_CHECK(!cookie.name.empty() || !cookie.value.empty());
        FUZZ_CHECK(cookie.expires >= 0);
        written += netscapeLine(cookie);
    }

    const CookiesFile again = parseCookiesText(written, "c.txt");
    FUZZ_CHECK(again.problems.empty());
    FUZZ_CHECK(again.cookies == read.cookies);

    const auto file = fuzz::workFolder() / "cookies.txt";
    {
        UniqueFd out = openForWriting(file);
        FUZZ_CHECK(out.valid() && writeAll(out.get(), text));
    }
    const CookiesFile fromFile = readCookiesFile(file.string(), "c.txt");
    FUZZ_CHECK(fromFile.cookies == read.cookies && fromFile.problems == read.problems);
    return 0;
}
