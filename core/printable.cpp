#include "core/printable.h"

#include <algorithm>

namespace velnoria {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

struct Character {
    std::size_t length = 0;  // of a well-formed UTF-8 sequence; 0 for a byte that starts none
    unsigned long code = 0;
};

// The UTF-8 sequence at the start of text when it is a well-formed one.
Character characterAt(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return {1, lead};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length) return {};
    unsigned long code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return {};
        code = (code << 6) | (next & 0x3F);
    }
    const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {length, code};
}

bool isControl(unsigned long code) {
    return code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F);
}

// The characters that reorder the text shown around them.
bool turnsDirection(unsigned long code) {
    return code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void appendEscaped(std::string& out, char prefix, unsigned long value, int digits) {
    out += '\\';
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::size_t printableCharacterLength(std::string_view text) {
    if (text.empty()) return 0;
    const Character c = characterAt(text);
    return isControl(c.code) ? 0 : c.length;
}

bool isControlFreeUtf8(std::string_view text) {
    while (!text.empty()) {
        const Character c = characterAt(text);
        if (c.length == 0 || isControl(c.code)) return false;
        text.remove_prefix(c.length);
    }
    return true;
}

std::string printableText(std::string_view text, std::size_t longest) {
    std::string out;
    out.reserve(std::min(text.size(), longest));
    std::size_t taken = 0;
    while (taken < text.size()) {
        const std::string_view rest = text.substr(taken);
        const Character c = characterAt(rest);
        // A byte shown as \xHH is shown on its own; a C1 control is two such bytes.
        const bool escaped = c.length == 0 || isControl(c.code);
        const std::size_t length = escaped ? 1 : c.length;
        if (taken + length > longest) break;
        if (escaped) {
            appendEscaped(out, 'x', static_cast<unsigned char>(rest[0]), 2);
        } else if (turnsDirection(c.code)) {
            appendEscaped(out, 'u', c.code, 4);
        } else {
            out += rest.substr(0, length);
        }
        taken += length;
    }
    if (taken < text.size()) out += "...";
    return out;
}

std::string printableLines(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            // A text written in pieces may end between the CR and the LF of a line end.
            const bool lineEndFollows = text.back() == '\r';
            out += printableText(text.substr(0, text.size() - (lineEndFollows ? 1 : 0)));
            if (lineEndFollows) out += '\r';
            break;
        }
        const std::size_t lineEnd = end > 0 && text[end - 1] == '\r' ? end - 1 : end;
        out += printableText(text.substr(0, lineEnd));
        out += text.substr(lineEnd, end + 1 - lineEnd);
        text.remove_prefix(end + 1);
    }
    return out;
}

}  // namespace velnoria
