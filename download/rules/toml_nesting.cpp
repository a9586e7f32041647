// How deeply a TOML text nests, measured in one pass before the TOML library reads it.
#include "download/rules/toml_nesting.h"

#include <cstddef>

namespace velnoria {

namespace {

bool isBareKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

class NestingScanner {
  public:
    NestingScanner(std::string_view text, int maxDepth) : text_(text), maxDepth_(maxDepth) {}

    std::vector<TomlPlace> run() {
        while (!atEnd()) {
            const char c = at();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                advance();
            } else if (c == '#') {
                skipComment();
            } else if (c == '[') {
                tableHeader();
            } else {
                keyAndValue();
            }
        }
        return places_;
    }

  private:
    char at(std::size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
    }
    bool atEnd() const { return pos_ >= text_.size(); }

    void advance(std::size_t count = 1) {
        for (; count > 0 && !atEnd(); --count) {
            const auto c = static_cast<unsigned char>(text_[pos_++]);
            if (c == '\n') {
                ++place_.line;
                place_.column = 1;
            } else if (atEnd() || (static_cast<unsigned char>(at()) & 0xC0) != 0x80) {
                ++place_.column;  // a character ends here: columns count characters, not bytes
            }
        }
    }

    void skipBlanks() {
        while (at() == ' ' || at() == '\t') advance();
    }

    void skipComment() {
        while (!atEnd() && at() != '\n') advance();
    }

    // A basic ("...") or literal ('...') string, on one line or, tripled, on several.
    void skipString() {
        const char quote = at();
        const bool escapes = quote == '"';
        if (at(1) == quote && at(2) == quote) {
            advance(3);
            while (!atEnd()) {
                if (escapes && at() == '\\') {
                    advance(2);
                } else if (at() == quote && at(1) == quote && at(2) == quote) {
                    // Up to two quotes more belong to the text before the closing three.
                    std::size_t run = 3;
                    while (run < 5 && at(run) == quote) ++run;
                    advance(run);
                    return;
                } else {
                    advance();
                }
            }
            return;
        }
        advance();
        while (!atEnd() && at() != '\n') {
            if (escapes && at() == '\\' && at(1) != '\n') {
                advance(2);
            } else if (at() == quote) {
                advance();
                return;
            } else {
                advance();
            }
        }
    }

    // A place where the nesting reaches `depth`; the first past the bound in a statement is kept.
    void reach(int depth, TomlPlace where) {
        if (depth > maxDepth_ && !reported_) {
            places_.push_back(where);
            reported_ = true;
        }
    }

    // A key of one or more parts joined by dots; gives the number of parts.
    int dottedKey(int depthBefore) {
        int parts = 0;
        for (;;) {
            skipBlanks();
            const TomlPlace start = place_;
            if (at() == '"' || at() == '\'') {
                skipString();
            } else if (isBareKeyCharacter(at())) {
                while (isBareKeyCharacter(at())) advance();
            } else {
                return parts;
            }
            reach(depthBefore + ++parts, start);
            skipBlanks();
            if (at() != '.') return parts;
            advance();
        }
    }

    void tableHeader() {
        reported_ = false;
        const bool arrayOfTables = at(1) == '[';
        advance(arrayOfTables ? 2 : 1);
        const int base = arrayOfTables ? 1 : 0;
        headerDepth_ = base + dottedKey(base);
        skipBlanks();
        while (at() == ']') advance();
    }

    void keyAndValue() {
        reported_ = false;
        const std::size_t before = pos_;
        const int depth = headerDepth_ + dottedKey(headerDepth_);
        skipBlanks();
        if (at() == '=') {
            advance();
            value(depth);
        } else if (pos_ == before) {
            advance();  // not TOML; the library will say so
        }
    }

    // A value up to the end of its statement: arrays may go on over several lines, and every
    // array or inline table, with the key parts inside an inline table, is a level more.
    void value(int depth) {
        struct Level {
            bool table = false;
            int keyParts = 0;
        };
        std::vector<Level> open;
        bool keyNext = false;  // just after "{" or a "," of an inline table
        while (!atEnd()) {
            skipBlanks();
            const char c = at();
            if (c == '\n' || (c == '\r' && at(1) == '\n')) {
                if (open.empty()) return;
                advance(c == '\r' ? 2 : 1);
            } else if (c == '#') {
                skipComment();
            } else if (keyNext && c != '}') {
                keyNext = false;
                open.back().keyParts = dottedKey(depth);
                depth += open.back().keyParts;
                if (open.back().keyParts == 0) advance();
            } else if (c == '"' || c == '\'') {
                skipString();
            } else if (c == '[' || c == '{') {
                reach(++depth, place_);
                open.push_back({c == '{', 0});
                keyNext = c == '{';
                advance();
            } else if (c == ']' || c == '}') {
                if (!open.empty()) {
                    depth -= 1 + open.back().keyParts;
                    open.pop_back();
                }
                keyNext = false;
                advance();
            } else if (c == ',' && !open.empty() && open.back().table) {
                depth -= open.back().keyParts;
                open.back().keyParts = 0;
                keyNext = true;
                advance();
            } else {
                advance();
            }
        }
    }

    std::string_view text_;
    int maxDepth_;
    std::size_t pos_ = 0;
    TomlPlace place_;
    int headerDepth_ = 0;
    bool reported_ = false;
    std::vector<TomlPlace> places_;
};

}  // namespace

std::vector<TomlPlace> findDeepNesting(std::string_view text, int maxDepth) {
    return NestingScanner(text, maxDepth).run();
}

}  // namespace velnoria
