// Making a file name from the network safe: never a separator, a control character, bytes that
// are not UTF-8, "", "." or ".."; never a hidden name or one of the program's own files; never
// longer than the file system takes; joined to the save folder it names a file directly inside
// that folder. And the number a name gets when the job already saved another file under it.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"
#include "fuzz/fuzz_support.h"

namespace {

using velnoria::safeFileName;

// Decodes one UTF-8 sequence at the start of text the long way: its code point, or -1 when the
// bytes do not form one in its shortest form.
long decode(std::string_view text, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    long point = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        point = lead & 0x07;
    } else {
        length = 1;
        return -1;
    }
    if (text.size() < length) {
        length = 1;
        return -1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) {
            length = 1;
            return -1;
        }
        point = point << 6 | (byte(k) & 0x3F);
    }
    static constexpr long kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kShortest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        length = 1;
        return -1;
    }
    return point;
}

bool printable(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 1;
        const long point = decode(text.substr(at), length);
        if (point < 0x20 || point == 0x7F || (point >= 0x80 && point <= 0x9F)) return false;
        at += length;
    }
    return true;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The part from the last "." unless that is the first character: the extension a shortened name
// keeps when it is short.
std::string_view extensionOf(std::string_view name, std::size_t most) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    const std::string_view extension = name.substr(dot);
    return extension.size() > velnoria::kLongestKeptExtension || extension.size() >= most / 2
               ? std::string_view()
               : extension;
}

void checkSafe(std::string_view given, std::size_t longest) {
    const velnoria::SafeName got = velnoria::safeName(given, longest);
    const std::string& safe = got.name;
    FUZZ_CHECK(safeFileName(given, longest) == safe);

    // What follows the last separator is the name; a hidden name is made visible, one of the
    // program's own files gets "_" before it.
    const auto slash = given.find_last_of("/\\");
    const std::string_view tail = slash == std::string_view::npos ? given : given.substr(slash + 1);
    const bool usable = !tail.empty() && tail != "." && tail != ".." && printable(tail);
    std::string expected = usable ? std::string(tail) : std::string();
    if (!expected.empty() && expected.front() == '.') expected.front() = '_';
    const std::size_t most = longest - std::min(velnoria::kNumberRoom, longest / 2);
    FUZZ_CHECK(got.shortened == (usable && tail.size() > most));
    if (got.shortened) {
        // A start of the name, short of the bound by less than a character, and its extension.
        const std::string_view extension = extensionOf(tail, most);
        FUZZ_CHECK(safe.size() <= most);
        FUZZ_CHECK(safe.ends_with(extension));
        const std::string_view stem =
            std::string_view(safe).substr(0, safe.size() - extension.size());
        FUZZ_CHECK(stem.size() + 4 > most - extension.size());
        FUZZ_CHECK(std::string_view(expected).starts_with(stem));
    } else {
        for (const char* own :
             {"settings.dat", "failed.txt", "choices.conf", "archive.sqlite", "archive.sqlite-wal",
              "archive.sqlite-shm", "archive.sqlite-journal"}) {
            if (sameNoCase(expected, own)) expected.insert(0, "_");
        }
        FUZZ_CHECK(safe == expected);
    }

    if (safe.empty()) return;
    FUZZ_CHECK(safe.size() <= longest);
    FUZZ_CHECK(safe.find_first_of("/\\") == std::string::npos);
    FUZZ_CHECK(printable(safe));
    FUZZ_CHECK(safe.front() != '.');
    FUZZ_CHECK(!sameNoCase(safe, "settings.dat") && !sameNoCase(safe, "failed.txt"));

    const std::filesystem::path folder = "/save/folder";
    const std::filesystem::path target = folder / safe;
    FUZZ_CHECK(target.parent_path() == folder);
    FUZZ_CHECK(target.filename() == safe);
    FUZZ_CHECK(target.lexically_normal() == target);
}

// The name given back is not taken and never longer than the bound allows; it is the name itself
// when that is free, else the name with " (k)", k from 2, just before its extension, the part
// before the number cut when the whole would pass the bound.
void checkUnused(const std::string& name, const std::set<std::string>& taken, std::size_t longest) {
    const std::string chosen = velnoria::unusedName(
        name, [&](const std::string& n) { return taken.count(n) > 0; }, longest);
    FUZZ_CHECK(taken.count(chosen) == 0);
    if (taken.count(name) == 0) {
        FUZZ_CHECK(chosen == name);
        return;
    }
    const std::size_t dot = name.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
    const std::string extension = name.substr(cut);
    FUZZ_CHECK(chosen.ends_with(")" + extension));
    const std::size_t open = chosen.rfind(" (", chosen.size() - extension.size());
    FUZZ_CHECK(open != std::string::npos);
    const std::string number =
        chosen.substr(open + 2, chosen.size() - open - 2 - extension.size() - 1);
    FUZZ_CHECK(!number.empty() && number.find_first_not_of("0123456789") == std::string::npos);
    FUZZ_CHECK(number.front() != '0' && (number.size() > 1 || number >= "2"));
    const std::string numbered = " (" + number + ")" + extension;
    if (name.size() - extension.size() + numbered.size() <= longest) {
        FUZZ_CHECK(chosen == name.substr(0, cut) + numbered);
        // No smaller number was free.
        for (unsigned long k = 2; k < std::stoul(number); ++k) {
            FUZZ_CHECK(
                taken.count(name.substr(0, cut) + " (" + std::to_string(k) + ")" + extension) > 0);
        }
    } else {
        FUZZ_CHECK(name.starts_with(chosen.substr(0, open)));
        FUZZ_CHECK(numbered.size() >= longest || chosen.size() <= longest);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view given(reinterpret_cast<const char*>(bytes), size);
    FuzzedDataProvider data(bytes, size);
    // The file system's longest name, from the last bytes.
    const auto longest = data.ConsumeIntegralInRange<std::size_t>(32, 300);
    checkSafe(given, longest);
    // The rules name a file by the last "/" field of an address; that too must come out safe.
    try {
        checkSafe(velnoria::lastField(given, "/"), longest);
    } catch (const velnoria::TextPositionOverflow&) {
    }

    // Names saved before, and the name to save now, cut from the same bytes; a bound that cuts
    // some of them.
    const std::string name = data.ConsumeRandomLengthString(24);
    std::set<std::string> taken;
    while (data.remaining_bytes() > 0 && taken.size() < 64) {
        taken.insert(data.ConsumeRandomLengthString(24));
        if (data.ConsumeBool()) taken.insert(name);
    }
    checkUnused(name, taken, 12 + longest % 24);
    return 0;
}
