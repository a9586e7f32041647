#include "platform/cookies_file.h"

#include <algorithm>
#include <optional>

#include "core/small_file.h"
#include "core/text.h"

namespace velnoria {

namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Gathers the problems of one file: the first few in full, the rest counted.
class ProblemList {
  public:
    ProblemList(std::vector<std::string>& problems, std::string_view fileName)
        : problems_(problems), fileName_(fileName) {}

    void atLine(std::size_t line, std::string_view message) {
        add(std::string(fileName_) + ':' + std::to_string(line) + ": " + std::string(message));
    }
    void inFile(std::string_view message) {
        add(std::string(fileName_) + ": " + std::string(message));
    }
    void finish() {
        if (unshown_ > 0) {
            problems_.push_back(std::string(fileName_) + ": " + std::to_string(unshown_) +
                                " more problem(s) not shown");
        }
    }

  private:
    void add(std::string problem) {
        if (problems_.size() < kCookiesProblemsShown) {
            problems_.push_back(std::move(problem));
        } else {
            ++unshown_;
        }
    }

    std::vector<std::string>& problems_;
    std::string_view fileName_;
    std::size_t unshown_ = 0;
};

std::vector<std::string_view> splitAtTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

std::optional<bool> readFlag(std::string_view field) {
    if (sameNoCase(field, "TRUE")) return true;
    if (sameNoCase(field, "FALSE")) return false;
    return std::nullopt;
}

// Whole seconds; a fraction, as some exporters write it, is dropped.
std::optional<std::int64_t> readExpiry(std::string_view field) {
    const std::size_t point = field.find('.');
    const std::string_view whole = field.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : field.substr(point + 1);
    if (whole.empty() || whole.size() > 18) return std::nullopt;
    std::int64_t seconds = 0;
    for (const char c : whole) {
        if (c < '0' || c > '9') return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    for (const char c : fraction) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return seconds;
}

// A host name (labels of letters, digits, '-' and '_' between single dots) or an address as a
// cookie's domain holds it ("[" IPv6 "]" included).
bool isDomain(std::string_view domain) {
    if (domain.size() > 2 && domain.front() == '[' && domain.back() == ']') {
        return domain.substr(1, domain.size() - 2).find_first_not_of("0123456789abcdefABCDEF:.") ==
               std::string_view::npos;
    }
    if (domain.empty() || domain.front() == '.' || domain.back() == '.' ||
        domain.find("..") != std::string_view::npos) {
        return false;
    }
    for (const char c : domain) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!allowed) return false;
    }
    return true;
}

// A name or value that goes into a Cookie header as it stands: a control character (a line end
// above all) would end the header, a ';' would start another cookie.
bool isCookieText(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ';') return false;
    }
    return true;
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// One cookie line (not a comment, not blank); the reason it is refused in `problem`.
std::optional<Cookie> readCookieLine(std::string_view line, std::string& problem) {
    Cookie cookie;
    if (line.starts_with(kHttpOnlyPrefix)) {
        cookie.httpOnly = true;
        line.remove_prefix(kHttpOnlyPrefix.size());
    }
    const std::vector<std::string_view> fields = splitAtTabs(line);
    if (fields.size() != 7 && fields.size() != 6) {
        problem = std::to_string(fields.size()) +
                  " field(s); a cookie line has 7, separated by tabs (domain, subdomains, path, "
                  "secure, expiry, name, value)";
        return std::nullopt;
    }
    std::string_view domain = fields[0];
    if (domain.starts_with('.')) domain.remove_prefix(1);
    if (!isDomain(domain)) {
        problem = "the domain (field 1) is not a host name";
        return std::nullopt;
    }
    cookie.domain = lowerCase(domain);
    const std::optional<bool> subdomains = readFlag(fields[1]);
    if (!subdomains) {
        problem = "the subdomains flag (field 2) is neither TRUE nor FALSE";
        return std::nullopt;
    }
    cookie.includeSubdomains = *subdomains;
    if (!fields[2].starts_with('/') || !isCookieText(fields[2])) {
        problem = "the path (field 3) does not start with /";
        return std::nullopt;
    }
    cookie.path = fields[2];
    const std::optional<bool> secure = readFlag(fields[3]);
    if (!secure) {
        problem = "the secure flag (field 4) is neither TRUE nor FALSE";
        return std::nullopt;
    }
    cookie.secure = *secure;
    const std::optional<std::int64_t> expires = readExpiry(fields[4]);
    if (!expires) {
        problem = "the expiry (field 5) is not a number of seconds";
        return std::nullopt;
    }
    cookie.expires = *expires;
    const std::string_view name = fields[5];
    const std::string_view value = fields.size() == 7 ? fields[6] : std::string_view();
    if (!isCookieText(name) || name.find('=') != std::string_view::npos) {
        problem = "the name (field 6) holds a control character, ';' or '='";
        return std::nullopt;
    }
    if (!isCookieText(value)) {
        problem = "the value (field 7) holds a control character or ';'";
        return std::nullopt;
    }
    if (name.empty() && value.empty()) {
        problem = "the cookie has neither a name nor a value";
        return std::nullopt;
    }
    cookie.name = name;
    cookie.value = value;
    return cookie;
}

}  // namespace

CookiesFile parseCookiesText(std::string_view text, std::string_view fileName) {
    CookiesFile file;
    ProblemList problems(file.problems, fileName);
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());

    // A NUL byte is no part of any text file: nothing of a binary file is taken for cookies.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        const auto line = 1 + std::count(text.begin(), text.begin() + nul, '\n');
        problems.atLine(static_cast<std::size_t>(line),
                        "a NUL byte: this is a binary file, not a cookies.txt");
        return file;
    }

    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (++lineNumber > kMaxCookiesFileLines) {
            problems.atLine(lineNumber, "more than " + std::to_string(kMaxCookiesFileLines) +
                                            " lines; not read any further");
            break;
        }
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.size() > kMaxCookieLineBytes) {
            problems.atLine(lineNumber, "longer than " + std::to_string(kMaxCookieLineBytes) +
                                            " bytes; a cookie line is far shorter");
            continue;
        }
        line = trim(line, " ");
        if (line.empty() || (line.starts_with('#') && !line.starts_with(kHttpOnlyPrefix))) {
            continue;
        }
        std::string problem;
        if (std::optional<Cookie> cookie = readCookieLine(line, problem)) {
            file.cookies.push_back(std::move(*cookie));
        } else {
            problems.atLine(lineNumber, problem);
        }
    }
    problems.finish();
    return file;
}

CookiesFile readCookiesFile(const std::string& path, std::string_view fileName) {
    CookiesFile file;
    ProblemList problems(file.problems, fileName);
    const auto failed = [&](const std::string& message) {
        problems.inFile(message);
        return file;
    };

    const SmallFile read = readSmallFile(path, kMaxCookiesFileBytes);
    if (!read.problem.empty()) return failed(read.problem);
    if (read.tooLong) {
        return failed("is longer than " + std::to_string(kMaxCookiesFileBytes) +
                      " bytes; no cookies file is that long (it is not read)");
    }
    return parseCookiesText(read.text, fileName);
}

}  // namespace velnoria
