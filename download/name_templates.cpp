#include "download/name_templates.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "core/printable.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

constexpr int kWidestNumber = 20;

constexpr std::string_view kFieldList = "{title} {host} {page} {index} {name} {ext} {date}";

std::string inQuotes(std::string_view text) {
    return "\"" + printableText(text) + "\"";
}

// A field's value as a piece of a name: "/" and "\" become "_", so a value never makes a
// folder; line ends and tabs become blanks, other control characters and bytes that are not
// UTF-8 "_"; runs of blanks become one, and none stands at either end.
std::string cleanValue(std::string_view value) {
    std::string clean;
    clean.reserve(value.size());
    const auto add = [&](std::string_view character) {
        if (character == " " && (clean.empty() || clean.back() == ' ')) return;
        clean += character;
    };
    while (!value.empty()) {
        const std::size_t length = printableCharacterLength(value);
        const char first = value.front();
        if (length == 0) {
            const bool blank = std::string_view("\t\n\v\f\r").find(first) != std::string_view::npos;
            add(blank ? " " : "_");
            value.remove_prefix(1);
        } else {
            add(first == '/' || first == '\\' ? "_" : value.substr(0, length));
            value.remove_prefix(length);
        }
    }
    while (!clean.empty() && clean.back() == ' ') clean.pop_back();
    return clean;
}

// text cut to at most limit bytes, at the start of a UTF-8 character.
std::string cutAtCharacter(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string withWidth(int number, int width, bool zeros) {
    std::string digits = std::to_string(std::max(number, 0));
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), zeros ? '0' : ' ');
    }
    return digits;
}

}  // namespace

std::optional<NameTemplate> NameTemplate::parse(std::string_view text, Kind kind,
                                                std::string& problem) {
    const auto refuse = [&](std::string reason) {
        problem = std::move(reason);
        return std::nullopt;
    };
    if (text.empty()) return refuse("the template is empty");
    if (!isControlFreeUtf8(text)) {
        return refuse("the template " + inQuotes(text) +
                      " holds a control character or bytes that are not UTF-8");
    }
    if (kind == Kind::Folder && text.front() == '/') {
        return refuse("the folder " + inQuotes(text) +
                      " must stay inside the save folder: no \"/\" at its start");
    }

    NameTemplate made(std::string(text), kind);
    auto& pieces = made.pieces_;
    const auto addText = [&](char c) {
        if (pieces.empty() || pieces.back().field != Field::Text) pieces.push_back({});
        pieces.back().text += c;
    };
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const bool doubled = at + 1 < text.size() && text[at + 1] == c;
        if ((c == '{' || c == '}') && doubled) {
            addText(c);
            ++at;
        } else if (c == '}') {
            return refuse("\"}\" at position " + std::to_string(at + 1) + " of " + inQuotes(text) +
                          " has no \"{\" (\"}}\" stands for a brace)");
        } else if (c == '{') {
            const std::size_t close = text.find('}', at);
            if (close == std::string_view::npos) {
                return refuse("\"{\" at position " + std::to_string(at + 1) + " of " +
                              inQuotes(text) + " has no \"}\" (\"{{\" stands for a brace)");
            }
            const std::string_view spec = text.substr(at + 1, close - at - 1);
            at = close;
            const std::size_t colon = spec.find(':');
            const std::string_view name = spec.substr(0, colon);
            static constexpr std::pair<std::string_view, Field> kFields[] = {
                {"title", Field::Title}, {"host", Field::Host}, {"page", Field::Page},
                {"index", Field::Index}, {"name", Field::Name}, {"ext", Field::Ext},
                {"date", Field::Date}};
            const auto* known =
                std::find_if(std::begin(kFields), std::end(kFields),
                             [&](const auto& field) { return field.first == name; });
            const std::string field = "{" + std::string(spec) + "}";
            if (known == std::end(kFields)) {
                return refuse("unknown field " + inQuotes(field) + " (the fields are " +
                              std::string(kFieldList) + ")");
            }
            Piece piece;
            piece.field = known->second;
            if (colon != std::string_view::npos) {
                if (piece.field != Field::Page && piece.field != Field::Index) {
                    return refuse(inQuotes(field) + ": only {page} and {index} take a width");
                }
                const std::string_view width = spec.substr(colon + 1);
                int value = 0;
                for (const char digit : width) {
                    if (digit < '0' || digit > '9' || value > kWidestNumber) {
                        value = -1;
                        break;
                    }
                    value = value * 10 + (digit - '0');
                }
                if (width.empty() || value < 1 || value > kWidestNumber) {
                    return refuse(inQuotes(field) + ": the width must be a number from 1 to " +
                                  std::to_string(kWidestNumber) + ", as in {index:03}");
                }
                piece.width = value;
                piece.zeros = width.front() == '0';
            }
            pieces.push_back(std::move(piece));
        } else if (c == '\\') {
            return refuse("the template " + inQuotes(text) + " cannot hold \"\\\"");
        } else if (c == '/' && kind == Kind::FileName) {
            return refuse("the file name " + inQuotes(text) +
                          " cannot hold \"/\" (folders come from the folder template)");
        } else if (c == '/') {
            Piece separator;
            separator.field = Field::Separator;
            pieces.push_back(separator);
        } else {
            addText(c);
        }
    }

    // A part made of text alone is known now: "." and ".." would leave the folder it names.
    std::string partText;
    bool onlyText = true;
    for (std::size_t i = 0; i <= pieces.size(); ++i) {
        if (i == pieces.size() || pieces[i].field == Field::Separator) {
            if (onlyText && (partText == "." || partText == "..")) {
                return refuse("the folder " + inQuotes(text) +
                              " must stay inside the save folder: no " + inQuotes(partText) +
                              " in it");
            }
            partText.clear();
            onlyText = true;
        } else if (pieces[i].field == Field::Text) {
            partText += pieces[i].text;
        } else {
            onlyText = false;
        }
    }
    return made;
}

std::string NameTemplate::valueOf(const Piece& piece, const NameFields& fields) const {
    std::string_view ruleName = fields.ruleName;
    if (const auto slash = ruleName.find_last_of("/\\"); slash != std::string_view::npos) {
        ruleName.remove_prefix(slash + 1);
    }
    const std::size_t dot = ruleName.rfind('.');
    const bool split = dot != std::string_view::npos && dot > 0;

    switch (piece.field) {
        case Field::Text:
            return piece.text;
        case Field::Title:
            return cleanValue(fields.title);
        case Field::Host:
            return cleanValue(fields.host);
        case Field::Page:
            return withWidth(fields.page, piece.width, piece.zeros);
        case Field::Index:
            return withWidth(fields.index, piece.width, piece.zeros);
        case Field::Name:
            return cleanValue(split ? ruleName.substr(0, dot) : ruleName);
        case Field::Ext:
            return cleanValue(split ? ruleName.substr(dot + 1) : std::string_view());
        case Field::Date:
            return cleanValue(fields.date);
        case Field::Separator:
            break;
    }
    return {};
}

std::string NameTemplate::finishPart(std::string part) const {
    std::string safe = safeFileName(part);
    if (safe.size() <= kLongestTemplateName) return safe;
    if (kind_ == Kind::FileName) {
        const std::size_t dot = safe.rfind('.');
        if (dot != std::string::npos && dot > 0 && safe.size() - dot <= kLongestKeptExtension) {
            const std::string extension = safe.substr(dot);
            safe.resize(dot);
            return cutAtCharacter(std::move(safe), kLongestTemplateName - extension.size()) +
                   extension;
        }
    }
    return cutAtCharacter(std::move(safe), kLongestTemplateName);
}

std::string NameTemplate::expand(const NameFields& fields) const {
    std::string path;
    std::string part;
    const auto endPart = [&] {
        std::string finished = finishPart(std::move(part));
        part.clear();
        if (finished.empty()) return;
        if (!path.empty()) path += '/';
        path += finished;
    };
    for (const Piece& piece : pieces_) {
        if (piece.field == Field::Separator) {
            endPart();
        } else {
            part += valueOf(piece, fields);
        }
    }
    endPart();
    return path;
}

std::string jobDate(std::time_t when) {
    std::tm local{};
    char text[16] = "";
    if (::localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d", &local) == 0) {
        return {};
    }
    return text;
}

}  // namespace velnoria
