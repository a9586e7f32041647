#include "cli/options.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "core/choices.h"
#include "core/text.h"
#include "download/name_templates.h"

namespace velnoria {

namespace {

// A plain decimal number within [low, high]; anything else is refused.
std::optional<long long> wholeNumber(std::string_view text, long long low, long long high) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.size() > 18) return std::nullopt;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

Options usageError(std::string reason) {
    Options line;
    line.action = CliAction::UsageError;
    line.error = std::move(reason);
    return line;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
    Options line;
    std::vector<std::string> pages;
    bool optionsEnded = false;
    // The argument after a bare --archive, in pages: its FILE or the PAGE, told at the end.
    std::optional<std::size_t> archiveArgument;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            pages.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.action = CliAction::Help;
            return line;
        }
        if (arg == "--version") {
            line.action = CliAction::Version;
            return line;
        }

        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name == "--archive") {
            line.archive = true;
            if (equals != std::string::npos) {
                line.archiveFile = arg.substr(equals + 1);
                if (line.archiveFile.empty()) return usageError("--archive= needs a file name");
            } else if (i + 1 < args.size() && !args[i + 1].starts_with("-")) {
                archiveArgument = pages.size();
                pages.push_back(args[++i]);
            }
            continue;
        }
        if (name == "--linked-images" || name == "--print-targets" || name == "--all-pages" ||
            name == "--retry-failed" || name == "--skip-existing" || name == "--no-referer") {
            if (equals != std::string::npos) return usageError(name + " takes no value");
            (name == "--linked-images"   ? line.linkedImages
             : name == "--print-targets" ? line.printTargets
             : name == "--all-pages"     ? line.allPages
             : name == "--retry-failed"  ? line.retryFailed
             : name == "--no-referer"    ? line.noReferer
                                         : line.skipExisting) = true;
            continue;
        }
        if (name != "--save-folder" && name != "--timeout" && name != "--piece-size" &&
            name != "--rules" && name != "--check-rules" && name != "--max-pages" &&
            name != "--parallel" && name != "--folder" && name != "--name" && name != "--watch" &&
            name != "--cookies" && name != "--user-agent") {
            return usageError("unknown option " + name);
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return usageError("option " + name + " needs a value");
        }

        if (name == "--save-folder") {
            if (value.empty()) return usageError("--save-folder needs a folder name");
            line.saveFolder = value;
        } else if (name == "--rules" || name == "--check-rules") {
            if (value.empty()) return usageError(name + " needs a file name");
            if (name == "--rules") {
                line.rulesFile = value;
            } else {
                line.checkRulesFile = value;
            }
        } else if (name == "--folder" || name == "--name") {
            std::string problem;
            const auto kind =
                name == "--folder" ? NameTemplate::Kind::Folder : NameTemplate::Kind::FileName;
            if (!NameTemplate::parse(value, kind, problem))
                return usageError(name + ": " + problem);
            (name == "--folder" ? line.folderTemplate : line.nameTemplate) = value;
        } else if (name == "--watch") {
            const auto minutes = wholeNumber(value, 1, kLongestWatchMinutes);
            if (!minutes) {
                return usageError("--watch must be a whole number of minutes from 1 to " +
                                  std::to_string(kLongestWatchMinutes));
            }
            line.watchMinutes = static_cast<int>(*minutes);
            line.archive = true;
        } else if (name == "--cookies") {
            if (value.empty()) return usageError("--cookies needs a file name");
            line.cookiesFile = value;
        } else if (name == "--user-agent") {
            if (value.empty()) return usageError("--user-agent needs a text");
            // It goes into a request header as it stands: a line end would start another one.
            const bool oneLine = std::none_of(value.begin(), value.end(), [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return (byte < 0x20 && c != '\t') || byte == 0x7F;
            });
            if (!oneLine) {
                return usageError("--user-agent must be one line without control characters");
            }
            line.userAgent = value;
        } else if (name == "--timeout") {
            const auto seconds = wholeNumber(value, 0, 255);
            if (!seconds) return usageError("--timeout must be a whole number from 0 to 255");
            line.timeoutSeconds = static_cast<int>(*seconds);
        } else if (name == "--max-pages") {
            const auto pages = wholeNumber(value, 1, kLargestMaxPages);
            if (!pages) {
                return usageError("--max-pages must be a whole number from 1 to " +
                                  std::to_string(kLargestMaxPages));
            }
            line.maxPages = static_cast<int>(*pages);
            line.allPages = true;
        } else if (name == "--parallel") {
            const auto count = wholeNumber(value, 1, kMostDownloadsAtOnce);
            if (!count) {
                return usageError("--parallel must be a whole number from 1 to " +
                                  std::to_string(kMostDownloadsAtOnce));
            }
            line.parallel = static_cast<int>(*count);
        } else {
            const auto bytes = wholeNumber(value, 1, std::numeric_limits<std::int32_t>::max());
            if (!bytes) {
                return usageError("--piece-size must be a whole number from 1 to 2147483647");
            }
            line.pieceSize = static_cast<std::int32_t>(*bytes);
        }
    }

    if (archiveArgument) {
        const bool pageNeeded = line.checkRulesFile.empty() && !line.retryFailed;
        if (!pageNeeded || pages.size() > 1) {
            line.archiveFile = pages[*archiveArgument];
            pages.erase(pages.begin() + static_cast<std::ptrdiff_t>(*archiveArgument));
        }
    }
    if (line.watchMinutes) {
        if (line.retryFailed) return usageError("--watch reads a PAGE: no --retry-failed");
        if (line.printTargets) return usageError("--watch downloads: no --print-targets");
    }

    if (!line.checkRulesFile.empty()) {
        if (!pages.empty()) return usageError("--check-rules takes no PAGE: " + pages.front());
        line.action = CliAction::CheckRules;
        return line;
    }
    if (line.retryFailed) {
        if (!pages.empty()) return usageError("--retry-failed takes no PAGE: " + pages.front());
        if (line.allPages) return usageError("--retry-failed reads no pages: no --all-pages");
        if (line.printTargets) {
            return usageError("--retry-failed downloads: no --print-targets");
        }
        return line;
    }
    if (pages.empty()) return usageError("no PAGE given");
    if (pages.size() > 1) return usageError("more than one PAGE given: " + pages[1]);
    if (trim(pages.front(), " \t\n\r").empty()) return usageError("PAGE is empty");
    line.page = pages.front();
    return line;
}

std::string usageText() {
    return "Usage: velnoria-get [--save-folder DIR] [--timeout SECONDS] [--piece-size BYTES] "
           "PAGE\n"
           "       velnoria-get [OPTIONS] [--rules FILE] [--linked-images] [--print-targets] PAGE\n"
           "       velnoria-get [OPTIONS] [--archive [FILE]] [--folder TEMPLATE] [--name "
           "TEMPLATE]\n"
           "                    [--watch MINUTES] PAGE\n"
           "       velnoria-get --retry-failed [OPTIONS]\n"
           "       velnoria-get --check-rules FILE\n"
           "Saves the full-size images behind the thumbnails of a web page.\n"
           "\n"
           "PAGE is an http(s) address or a local HTML file.\n"
           "  --save-folder DIR    save the images into DIR (created when missing)\n"
           "  --timeout SECONDS    request time-out, 0 to 255 (0: none)\n"
           "  --piece-size BYTES   bytes read per piece, 1 or more\n"
           "  --rules FILE         host rules from FILE, tried before the built-in ones\n"
           "  --linked-images      also save full-size images that thumbnails link to\n"
           "  --print-targets      print what each image would be saved as; download nothing\n"
           "  --check-rules FILE   print the problems of a rules file (exit 0: none)\n"
           "  --all-pages          also read the pages the thread names as next (rel=\"next\")\n"
           "  --max-pages N        read at most N pages, 1 to 100000 (default 50); implies\n"
           "                       following the next pages\n"
           "  --retry-failed       instead of a PAGE, try the addresses of failed.txt again;\n"
           "                       failed.txt then lists those that failed again\n"
           "  --skip-existing      do not fetch a file again that is saved whole already\n"
           "  --parallel N         download up to N images at once, 1 to 16 (default 1),\n"
           "                       at most 2 from one host\n"
           "  --archive [FILE]     remember every file saved in FILE (default archive.sqlite\n"
           "                       beside settings.dat); what it holds is skipped without a\n"
           "                       request, and a thread goes on from its last page read\n"
           "  --folder TEMPLATE    save into a folder made from TEMPLATE, e.g. \"{host}/{title}\"\n"
           "  --name TEMPLATE      name each file from TEMPLATE, e.g. \"{index:03} "
           "{name}.{ext}\";\n"
           "                       fields: {title} {host} {page} {index} {name} {ext} {date},\n"
           "                       {index:03} for a width\n"
           "  --watch MINUTES      run the job again every MINUTES, 1 to 10080, until Ctrl+C;\n"
           "                       implies --archive\n"
           "  --cookies FILE       send the cookies of FILE, a Netscape cookies.txt as\n"
           "                       browsers' export add-ons and curl write it\n"
           "  --user-agent TEXT    the User-Agent sent with every request (default: the\n"
           "                       program's own)\n"
           "  --no-referer         send no Referer (the page a request comes from)\n"
           "  --help               show this help\n"
           "  --version            show the version\n"
           "\n"
           "Settings not given here come from settings.dat and choices.conf in the current\n"
           "folder. Exit status: 0 all done, 1 some addresses written to failed.txt,\n"
           "2 usage error, page not loaded, a bad cookies file or rules with problems\n"
           "(--check-rules), 130 stopped by Ctrl+C, 143 by SIGTERM, 129 by SIGHUP, 141 output\n"
           "closed (as by `| head`). The first of these stops the job; a second ends at once.\n";
}

}  // namespace velnoria
