// field() and lastField() against a plain model of fields, on short texts and on texts around the
// 16-bit position limit.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/rules/rule_text.h"
#include "fuzz/fuzz_support.h"

namespace {

using velnoria::lastField;
using velnoria::TextPositionOverflow;

constexpr std::int64_t kLastPosition = 32767;

// A text cut at a delimiter: the fields, and where the walk for field n stops (1-based): at the
// n-th delimiter, or one past the end.
struct Fields {
    std::string_view text;
    std::vector<std::string_view> fields;
    std::vector<std::int64_t> delimiterAt;

    std::int64_t stop(std::int64_t n) const {
        return n <= static_cast<std::int64_t>(delimiterAt.size())
                   ? delimiterAt[n - 1]
                   : static_cast<std::int64_t>(text.size()) + 1;
    }
    std::string_view field(std::int64_t n) const {
        return n >= 1 && n <= static_cast<std::int64_t>(fields.size()) ? fields[n - 1] : "";
    }
};

Fields cut(std::string_view text, std::string_view delimiter) {
    Fields f{text, {}, {}};
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (delimiter.size() == 1 && text[i] == delimiter[0]) {
            f.fields.push_back(text.substr(start, i - start));
            f.delimiterAt.push_back(static_cast<std::int64_t>(i) + 1);
            start = i + 1;
        }
    }
    f.fields.push_back(text.substr(start));
    return f;
}

// What field() must give: a field, or nothing when the walk passes position 32767.
std::optional<std::string_view> expectedField(const Fields& f, std::int64_t n) {
    if (f.text.empty()) return std::string_view();
    if (n >= 1) {
        if (f.stop(n) > kLastPosition) return std::nullopt;
        return f.field(n);
    }
    // Field 0 stops at once unless the text starts with a delimiter; below 0 the walk runs on.
    const bool stopsAtOnce = n == 0 && (f.delimiterAt.empty() || f.delimiterAt.front() != 1);
    if (!stopsAtOnce && static_cast<std::int64_t>(f.text.size()) + 1 > kLastPosition) {
        return std::nullopt;
    }
    return std::string_view();
}

std::optional<std::string> tryRetparm(std::string_view text, int n, std::string_view delimiter) {
    try {
        return velnoria::field(text, n, delimiter);
    } catch (const TextPositionOverflow&) {
        return std::nullopt;
    }
}

std::optional<std::string> tryRetlast(std::string_view text, std::string_view delimiter) {
    try {
        return lastField(text, delimiter);
    } catch (const TextPositionOverflow&) {
        return std::nullopt;
    }
}

// lastField() written out as its definition: ask field() for fields k + 1 and k + 2 until both
// are empty. An overflow in any call ends it the same way.
std::optional<std::string> literalRetlast(std::string_view text, std::string_view delimiter) {
    for (int k = 1;; ++k) {
        const auto next = tryRetparm(text, k + 1, delimiter);
        if (!next) return std::nullopt;
        const auto after = tryRetparm(text, k + 2, delimiter);
        if (!after) return std::nullopt;
        if (next->empty() && after->empty()) return tryRetparm(text, k, delimiter);
    }
}

std::string delimiterFrom(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange(0, 9)) {
        case 0:
            return "";
        case 1:
            return "//";
        case 2:
            return ".";
        case 3:
            return "\"";
        case 4:
            return "\\";
        default:
            return std::string(1, data.ConsumeIntegral<char>());
    }
}

// Repeats text to a length just around the last walkable position.
std::string stretched(std::string_view text, int choice) {
    static constexpr std::size_t kLengths[] = {32765, 32766, 32767, 32768, 40000};
    const std::size_t length = kLengths[choice % 5];
    std::string out;
    out.reserve(length);
    while (out.size() < length) out.append(text.substr(0, length - out.size()));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string delimiter = delimiterFrom(data);
    const int n =
        data.ConsumeBool() ? data.ConsumeIntegral<int>() : data.ConsumeIntegralInRange<int>(-2, 70);
    // Now and then a text long enough to reach the position limit.
    const int stretch = data.ConsumeIntegralInRange(0, 79);
    std::string text = data.ConsumeRemainingBytesAsString();
    if (stretch >= 75 && !text.empty()) text = stretched(text, stretch);
    const Fields f = cut(text, delimiter);

    const auto field = tryRetparm(text, n, delimiter);
    const auto expected = expectedField(f, n);
    FUZZ_CHECK(field.has_value() == expected.has_value());
    if (field) FUZZ_CHECK(*field == *expected);

    const bool short_ = text.size() < static_cast<std::size_t>(kLastPosition);
    const std::size_t delimiters = f.delimiterAt.size();
    if (text.size() <= 4096 && delimiters <= 64) {
        // Every field joined by the delimiter gives the text back.
        std::string joined;
        for (std::size_t k = 1; k <= delimiters + 1; ++k) {
            const auto piece = tryRetparm(text, static_cast<int>(k), delimiter);
            FUZZ_CHECK(piece.has_value());
            if (k > 1) joined += delimiter;
            joined += *piece;
        }
        FUZZ_CHECK(joined == text);
        FUZZ_CHECK(tryRetparm(text, static_cast<int>(delimiters + 2), delimiter) == "");
    }

    const auto last = tryRetlast(text, delimiter);
    if (short_) FUZZ_CHECK(last.has_value());
    if (last) {
        FUZZ_CHECK(velnoria::fuzz::isInside(text, *last));
        if (delimiter.size() == 1) FUZZ_CHECK(last->find(delimiter[0]) == std::string::npos);
    }
    // The definition is quadratic: compare with it where that stays cheap.
    if (text.size() <= 200 || delimiters <= 3) FUZZ_CHECK(last == literalRetlast(text, delimiter));
    return 0;
}
