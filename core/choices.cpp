#include "core/choices.h"

#include "core/replace_file.h"
#include "core/small_file.h"
#include "core/text.h"

namespace velnoria {

namespace {

std::optional<bool> readYesNo(std::string_view value) {
    if (sameNoCase(value, "true") || sameNoCase(value, "yes") || value == "1") return true;
    if (sameNoCase(value, "false") || sameNoCase(value, "no") || value == "0") return false;
    return std::nullopt;
}

// A plain whole number from low to high, with no more digits than high has.
std::optional<int> readWholeNumber(std::string_view value, int low, int high) {
    if (value.empty() || value.size() > std::to_string(high).size() ||
        value.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : value) number = number * 10 + (c - '0');
    if (number < low || number > high) return std::nullopt;
    return number;
}

bool storable(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

void addLine(std::string& text, std::string_view key, std::string_view value) {
    text += key;
    text += " = ";
    text += value;
    text += '\n';
}

}  // namespace

std::string choicesFileText(const Choices& choices) {
    std::string text =
        "# Velnoria Morvath: choices beside settings.dat, one \"key = value\" a line.\n";
    addLine(text, kRulesFileKey, choices.rulesFile);
    addLine(text, kLinkedImagesKey, choices.linkedImages ? "true" : "false");
    addLine(text, kFollowNextPagesKey, choices.followNextPages ? "true" : "false");
    addLine(text, kSkipExistingKey, choices.skipExisting ? "true" : "false");
    addLine(text, kDownloadsAtOnceKey, std::to_string(choices.downloadsAtOnce));
    addLine(text, kRememberSavedKey, choices.rememberSaved ? "true" : "false");
    addLine(text, kFolderTemplateKey, choices.folderTemplate);
    addLine(text, kNameTemplateKey, choices.nameTemplate);
    addLine(text, kWatchMinutesKey, std::to_string(choices.watchMinutes));
    for (const auto& [key, value] : choices.otherKeys) addLine(text, key, value);
    return text;
}

Choices parseChoicesText(std::string_view text) {
    Choices choices;
    // The byte order mark some editors put first is no part of the first key.
    if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        if (line.empty() || line.front() == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (key.empty() || !storable(key) || !storable(value)) continue;

        if (key == kRulesFileKey) {
            choices.rulesFile = std::string(value);
        } else if (key == kLinkedImagesKey) {
            if (const auto yes = readYesNo(value)) choices.linkedImages = *yes;
        } else if (key == kFollowNextPagesKey) {
            if (const auto yes = readYesNo(value)) choices.followNextPages = *yes;
        } else if (key == kSkipExistingKey) {
            if (const auto yes = readYesNo(value)) choices.skipExisting = *yes;
        } else if (key == kDownloadsAtOnceKey) {
            if (const auto count = readWholeNumber(value, 1, kMostDownloadsAtOnce)) {
                choices.downloadsAtOnce = *count;
            }
        } else if (key == kRememberSavedKey) {
            if (const auto yes = readYesNo(value)) choices.rememberSaved = *yes;
        } else if (key == kFolderTemplateKey) {
            choices.folderTemplate = std::string(value);
        } else if (key == kNameTemplateKey) {
            choices.nameTemplate = std::string(value);
        } else if (key == kWatchMinutesKey) {
            if (const auto minutes = readWholeNumber(value, 0, kLongestWatchMinutes)) {
                choices.watchMinutes = *minutes;
            }
        } else {
            bool replaced = false;
            for (auto& [known, old] : choices.otherKeys) {
                if (known == key) {
                    old = std::string(value);
                    replaced = true;
                }
            }
            if (!replaced) choices.otherKeys.emplace_back(std::string(key), std::string(value));
        }
    }
    return choices;
}

std::optional<Choices> readChoicesFile(const std::filesystem::path& file) {
    SmallFile read = readSmallFile(file, kChoicesReadLimit, true);
    if (!read.problem.empty()) return std::nullopt;
    std::string& text = read.text;
    if (read.tooLong) {
        // Only whole lines count: a line cut at the limit could be a value cut short.
        const std::size_t lastEnd = text.find_last_of("\r\n", kChoicesReadLimit - 1);
        text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    }
    return parseChoicesText(text);
}

bool writeChoicesFile(const std::filesystem::path& file, const Choices& choices) {
    if (!storable(choices.rulesFile) || !storable(choices.folderTemplate) ||
        !storable(choices.nameTemplate) ||
        !readWholeNumber(std::to_string(choices.downloadsAtOnce), 1, kMostDownloadsAtOnce) ||
        !readWholeNumber(std::to_string(choices.watchMinutes), 0, kLongestWatchMinutes)) {
        return false;
    }
    for (const auto& [key, value] : choices.otherKeys) {
        if (!storable(key) || !storable(value) || key.find('=') != std::string::npos) return false;
    }

    // A first file is readable by all, as "settings.dat" is.
    return replaceFile(file, choicesFileText(choices), 0644) == 0;
}

}  // namespace velnoria
