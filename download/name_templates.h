#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnoria {

// What a job knows of a file when it names the file and its folder.
struct NameFields {
    std::string title;     // the page's title
    std::string host;      // the forum's host name
    int page = 1;          // the page of the thread the image is on, from 1
    int index = 1;         // the image's position on its page, from 1
    std::string ruleName;  // the name the rule gave: {name} before its last ".", {ext} after it
    std::string date;      // YYYY-MM-DD of the job (jobDate)
};

// The most bytes of one folder or file name a template makes; longer ones are cut.
inline constexpr std::size_t kLongestTemplateName = 200;

// A folder or file name made of text and fields in braces: {title}, {host}, {page}, {index},
// {name}, {ext}, {date}; {page} and {index} take a width, "{index:03}" (zeros) or "{index:3}"
// (blanks). "{{" and "}}" stand for a brace. A folder template may name folders below each
// other with "/"; every one stays inside the save folder.
class NameTemplate {
  public:
    enum class Kind { Folder, FileName };

    // nullopt with problem set (one line, naming what is wrong) for an empty template, an
    // unknown field, a brace without its partner, a bad width, a control character or bytes
    // that are not UTF-8, "\", and a "/" in a file name or a folder template that starts with
    // "/" or names "." or "..".
    static std::optional<NameTemplate> parse(std::string_view text, Kind kind,
                                             std::string& problem);

    // The folder below the save folder, its parts joined by "/" ("" for the save folder
    // itself), or the file name ("" when nothing usable is left). Each part is made safe as a
    // downloaded file's name is (never ".", "..", a hidden name or one of the program's own),
    // its fields free of "/", "\", control characters and bytes that are not UTF-8, and cut to
    // kLongestTemplateName bytes on a character boundary (a file name keeps its extension).
    std::string expand(const NameFields& fields) const;

    const std::string& text() const { return text_; }

  private:
    enum class Field { Text, Separator, Title, Host, Page, Index, Name, Ext, Date };
    struct Piece {
        Field field = Field::Text;
        std::string text;  // of a Text piece
        int width = 0;     // of a number; 0: as it comes
        bool zeros = false;
    };

    NameTemplate(std::string text, Kind kind) : text_(std::move(text)), kind_(kind) {}
    std::string valueOf(const Piece& piece, const NameFields& fields) const;
    std::string finishPart(std::string part) const;

    std::string text_;
    Kind kind_;
    std::vector<Piece> pieces_;
};

// The day of `when` in the local time zone, "YYYY-MM-DD".
std::string jobDate(std::time_t when);

}  // namespace velnoria
