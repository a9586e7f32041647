#include "platform/html/page_loading.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "core/text.h"
#include "core/web_address.h"
#include "platform/curl/url_resolution.h"
#include "platform/html/parsed_page.h"

namespace velnoria {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

LoadedPage loadWebPage(const std::string& address, UrlDownload& download) {
    LoadedPage page;
    const DownloadOutcome outcome = download.download(
        address,
        [&page](const char* data, std::size_t size) {
            page.html.append(data, size);
            return true;
        },
        kPageSizeLimit);
    if (!outcome.transferred) {
        page.error = outcome.error.empty() ? "the transfer failed" : outcome.error;
    } else if (outcome.httpStatus >= 400) {
        page.error = "the server answered with HTTP status " + std::to_string(outcome.httpStatus);
    } else {
        page.loaded = true;
        // Relative addresses in a redirected page belong to where it was found.
        page.documentUrl = outcome.finalUrl.empty() ? address : outcome.finalUrl;
        return page;
    }
    page.html.clear();
    return page;
}

LoadedPage loadFilePage(const std::filesystem::path& file) {
    LoadedPage page;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    if (ec || !std::filesystem::is_regular_file(absolute, ec)) {
        page.error = std::filesystem::exists(absolute, ec) ? "not a file" : "no such file";
        return page;
    }
    std::ifstream in(absolute, std::ios::binary);
    if (!in) {
        page.error = std::strerror(errno);
        return page;
    }
    // Read in blocks: the page takes the memory it needs, not the largest a page may take.
    char block[64 * 1024];
    while (in && page.html.size() <= kPageSizeLimit) {
        in.read(block, sizeof block);
        page.html.append(block, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        page.error = "the file cannot be read";
        page.html.clear();
        return page;
    }
    if (page.html.size() > kPageSizeLimit) {
        page.error = "the page is larger than 32 MiB";
        page.html.clear();
        return page;
    }
    page.loaded = true;
    page.documentUrl = fileUrlOfPath(absolute.lexically_normal().string());
    return page;
}

LoadedPage loadPageText(const std::string& page, UrlDownload& download) {
    const std::string address(trim(page, " \t\n\r\f\v"));
    if (isWebAddress(address)) {
        return loadWebPage(address, download);
    }
    if (startsWithNoCase(address, "file://")) {
        std::string_view path = std::string_view(address).substr(7);
        if (startsWithNoCase(path, "localhost/")) path.remove_prefix(9);
        if (path.empty() || path.front() != '/') {
            LoadedPage bad;
            bad.error = "only local file:// addresses can be read";
            return bad;
        }
        return loadFilePage(percentDecoded(path.substr(0, path.find_first_of("?#"))));
    }
    return loadFilePage(address);
}

}  // namespace

LoadedPage loadPage(const std::string& page, UrlDownload& download) {
    LoadedPage loaded = loadPageText(page, download);
    if (loaded.loaded && estimateNestingDepth(loaded.html) > kMaxNestingDepth) {
        loaded.loaded = false;
        loaded.html.clear();
        loaded.error = "the page nests its elements more than " + std::to_string(kMaxNestingDepth) +
                       " levels deep";
    }
    return loaded;
}

}  // namespace velnoria
