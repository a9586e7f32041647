// velnoria-test-server: the loopback test server as a program, for benchmarks and manual runs.
//
//   velnoria-test-server [--port N] [--files K] [--size BYTES] [--delay-headers SECONDS]
//                        [--rate BYTES_PER_SECOND] [--folder DIR] [--log FILE]
//                        [--fault silent|drip]
//
// Every address whose path ends in "img<k>.jpg" (k < K) gets BYTES deterministic bytes (seed k),
// and one ending in "view<k>.html" an image's view page naming "full/img<k>.jpg" in its og:image
// meta tag;
// with --fault silent those requests are never answered, with --fault drip their bodies come
// 10 bytes a second. With --folder, other addresses are answered with the file of that base name
// in DIR. Every answer waits --delay-headers first; with --rate, a body goes out at most that fast
// on each connection. --log appends "METHOD ADDRESS" for every request. Prints the port on
// standard output, then serves until SIGINT or SIGTERM.

#include <signal.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

#include "tests/support/test_http_server.h"

namespace {

using velnoria::testing::Reply;
using velnoria::testing::Request;

struct Options {
    unsigned port = 0;
    unsigned long files = 0;
    unsigned long long size = 0;
    double delayHeaders = 0;
    unsigned long long rate = 0;
    std::string folder;
    std::string log;
    std::string fault;
};

[[noreturn]] void usage(const char* reason) {
    std::cerr << "velnoria-test-server: " << reason
              << "\nusage: velnoria-test-server [--port N] [--files K] [--size BYTES]"
                 " [--delay-headers SECONDS] [--rate BYTES_PER_SECOND] [--folder DIR]"
                 " [--log FILE] [--fault silent|drip]\n";
    std::exit(2);
}

template <typename T>
T number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) usage("bad number");
    return value;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) usage("missing value");
        const std::string_view value = argv[++i];
        if (arg == "--port") {
            o.port = number<unsigned>(value);
            if (o.port > 65535) usage("bad port");
        } else if (arg == "--files") {
            o.files = number<unsigned long>(value);
        } else if (arg == "--size") {
            o.size = number<unsigned long long>(value);
        } else if (arg == "--delay-headers") {
            o.delayHeaders = number<double>(value);
        } else if (arg == "--rate") {
            o.rate = number<unsigned long long>(value);
        } else if (arg == "--log") {
            o.log = std::string(value);
        } else if (arg == "--folder") {
            o.folder = std::string(value);
        } else if (arg == "--fault") {
            if (value != "silent" && value != "drip") usage("unknown fault");
            o.fault = std::string(value);
        } else {
            usage("unknown option");
        }
    }
    return o;
}

std::string baseName(const std::string& url) {
    auto path = url.substr(0, url.find_first_of("?#"));
    return path.substr(path.rfind('/') + 1);
}

Reply answer(const Options& o, const Request& request) {
    const auto name = baseName(request.url);
    Reply reply = Reply::withStatus(404, "Not Found");
    if (name.starts_with("img") && name.ends_with(".jpg")) {
        const std::string_view digits = std::string_view(name).substr(3, name.size() - 7);
        unsigned long k = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), k);
        if (!digits.empty() && ec == std::errc{} && end == digits.data() + digits.size() &&
            k < o.files) {
            reply = Reply::generated(o.size, static_cast<std::uint32_t>(k));
            reply.headers.emplace_back("Content-Type", "image/jpeg");
            reply.neverAnswer = o.fault == "silent";
            if (o.fault == "drip")
                reply.drip = velnoria::testing::Drip{10, std::chrono::seconds(1)};
        }
    }
    if (name.starts_with("view") && name.ends_with(".html")) {
        const std::string_view digits = std::string_view(name).substr(4, name.size() - 9);
        unsigned long k = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), k);
        if (!digits.empty() && ec == std::errc{} && end == digits.data() + digits.size() &&
            k < o.files) {
            reply = Reply::ok(
                "<!DOCTYPE html><html><head><title>Image</title>\n"
                "<meta property=\"og:image\" content=\"full/img" +
                    std::to_string(k) + ".jpg\">\n</head><body></body></html>\n",
                "text/html");
        }
    }
    if (reply.status == 404 && !o.folder.empty() && !name.empty() && name != "." && name != "..") {
        std::ifstream file(o.folder + "/" + name, std::ios::binary);
        if (file) {
            std::ostringstream bytes;
            bytes << file.rdbuf();
            reply = Reply::ok(bytes.str());
        }
    }
    reply.headerDelay = std::chrono::milliseconds(static_cast<long long>(o.delayHeaders * 1000));
    if (o.rate > 0 && !reply.drip) {
        // A hundredth of a second's worth at a time.
        reply.drip = velnoria::testing::Drip{
            static_cast<std::size_t>(std::max<unsigned long long>(o.rate / 100, 1)),
            std::chrono::milliseconds(10)};
    }
    return reply;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);

    // Block the stop signals before any thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    velnoria::testing::TestHttpServer server(static_cast<std::uint16_t>(options.port));
    std::mutex logMutex;
    std::ofstream log;
    if (!options.log.empty()) log.open(options.log, std::ios::app);
    server.setFallback([&](const Request& request) {
        if (log.is_open()) {
            std::lock_guard lock(logMutex);
            log << request.method << ' ' << request.url << std::endl;
        }
        return answer(options, request);
    });
    std::cout << server.port() << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
