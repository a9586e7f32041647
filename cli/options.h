#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velnoria {

enum class CliAction { Run, Help, Version, CheckRules, UsageError };

// What velnoria-get was asked to do. The options override the settings for this run only.
struct Options {
    CliAction action = CliAction::Run;
    std::optional<std::string> saveFolder;
    std::optional<int> timeoutSeconds;
    std::optional<std::int32_t> pieceSize;
    std::optional<std::string> rulesFile;  // --rules, in the place of the choices' rules file
    bool linkedImages = false;             // --linked-images
    bool printTargets = false;             // --print-targets: a dry run
    std::string checkRulesFile;            // --check-rules (action CheckRules)
    bool allPages = false;                 // --all-pages, also set by --max-pages
    std::optional<int> maxPages;
    bool retryFailed = false;  // no PAGE: the addresses of failed.txt
    bool skipExisting = false;
    std::optional<int> parallel;
    bool archive = false;     // --archive, also set by --watch
    std::string archiveFile;  // --archive FILE; "": archive.sqlite beside settings.dat
    std::optional<std::string> folderTemplate;  // --folder, checked
    std::optional<std::string> nameTemplate;    // --name, checked
    std::optional<int> watchMinutes;            // --watch
    std::optional<std::string> cookiesFile;     // --cookies: a Netscape cookies.txt
    std::optional<std::string> userAgent;       // --user-agent, in the place of the program's own
    bool noReferer = false;                     // --no-referer

    std::string page;   // as given
    std::string error;  // the reason of a usage error, one line
};

// args: the arguments after the program's name. Options take their value as the next argument
// or after "="; "--" ends the options. --archive takes a FILE only after "=", or as the next
// argument when another one is left for PAGE (or the run needs none).
Options parseOptions(const std::vector<std::string>& args);

std::string usageText();

}  // namespace velnoria
