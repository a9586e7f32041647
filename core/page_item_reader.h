#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"

namespace velnoria {

struct StopSet;

// Reads a text file as a sequence of comma-separated items:
// - items are separated by commas and by line ends (CR, LF or CR LF);
// - spaces and tabs at the start of an item are skipped; trailing ones are kept;
// - an item that starts with a double quote runs to the next double quote or to the end of the
//   line (so no item ever holds CR or LF), and whatever stands between the closing quote and the
//   next separator is dropped;
// - any other item runs to the next comma or line end, its double quotes being ordinary bytes.
// Reading is streamed through a fixed block buffer; only the item itself is held.
class PageItemReader {
  public:
    // Reads from the descriptor's current offset; the descriptor stays the caller's.
    explicit PageItemReader(int fd);
    // Opens the file for reading (a symbolic link at the name is not followed).
    explicit PageItemReader(const std::filesystem::path& file);

    bool isOpen() const { return fd_ >= 0; }

    // Reads the next item into item. Returns false, leaving item as it was, when the end of the
    // file had already been reached (or the file is not open or cannot be read).
    bool next(std::string& item);

    // True when nothing follows the last item read.
    bool atEnd();

    // Passes over the lines ahead that cannot hold text (ASCII letter case ignored) in an item:
    // items never run past a line end, so a line without text has none that holds it. Stops
    // before a line that may, and at a line that runs beyond the block in hand; next() then
    // reads on as usual. Call it only between items.
    void skipLinesWithout(std::string_view text);

  private:
    bool fill();
    // Advances over bytes until one in set; appends them to item when given.
    // Returns the stopping byte, or -1 at the end of the file.
    int scanUntil(const StopSet& set, std::string* item);
    void skipSeparator();

    UniqueFd owned_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t checkedUntil_ = 0;  // skipLinesWithout has nothing to pass over before here
    bool eof_ = false;
};

// The first item of a file, or nothing when the file cannot be read or holds no item.
std::optional<std::string> readFirstPageItem(const std::filesystem::path& file);

}  // namespace velnoria
