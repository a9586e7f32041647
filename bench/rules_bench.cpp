// velnoria-rules-bench: times what the rules of a rules file cost, for bench/run-bench.
//
//   velnoria-rules-bench search FILE PATTERN       a rule's page search (`find` = PATTERN) on
//                                                  FILE, mapped as the job maps its pages
//   velnoria-rules-bench search --url URL PATTERN  the whole page search: fetch URL (http_proxy
//                                                  honoured) into an unnamed file, then search
//   velnoria-rules-bench match RULES ADDRESSES     reads the rules file, then finds the rule that
//                                                  takes each address (one a line) of ADDRESSES
//
// Prints what was found and the seconds taken; exits 0 when the search found its pattern (or the
// rules file had no problems), 1 when not, 2 on a usage error.

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"
#include "download/rules/page_search.h"
#include "download/rules/rules_file.h"
#include "platform/curl/curl_transfer_engine.h"
#include "platform/driving_event_loop.h"
#include "platform/waiting_download.h"

namespace {

using namespace velnoria;
using Clock = std::chrono::steady_clock;

// The program's network without a front end to yield to.
struct Network {
    class NoFrontEnd : public EventLoop {
        void yieldOnce(std::chrono::milliseconds) override {}
    } frontEnd;
    CurlUrlCache cache;
    CurlTransferEngine engine{cache};
    DrivingEventLoop loop{frontEnd, engine};
    WaitingDownload download{engine, loop};

    Network() { engine.setTimeoutSeconds(30); }
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The pattern compiled exactly as a rule's `find` is: through a rules file of one rule.
std::shared_ptr<const RuleSet> searchRule(const std::string& pattern) {
    std::string quoted;
    for (const char c : pattern) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    const RulesFile file = parseRulesText(
        "[[rule]]\nmatch = 'x'\npage = 'http://x'\nfind = \"" + quoted + "\"\n", "bench");
    for (const RuleProblem& problem : file.problems) {
        std::fprintf(stderr, "%s\n", problem.text().c_str());
    }
    return file.problems.empty() ? file.rules : nullptr;
}

int search(int argc, char** argv) {
    const bool overHttp = argc == 5 && std::string_view(argv[2]) == "--url";
    if (argc != 4 && !overHttp) return 2;
    const auto rules = searchRule(argv[argc - 1]);
    if (rules == nullptr) return 2;
    const re2::RE2& find = *rules->rules().front().find;

    const auto start = Clock::now();
    std::optional<Captures> found;
    std::string error;
    if (overHttp) {
        Network network;
        PageSearch page = searchPage(network.download, argv[3], find);
        error = page.error;
        found = std::move(page.found);
    } else {
        const UniqueFd fd(::open(argv[2], O_RDONLY | O_CLOEXEC));
        if (!fd.valid()) return 2;
        PageHits page = searchPageFile(fd.get(), find);
        error = page.problem;
        if (!page.hits.empty()) found = std::move(page.hits.front());
    }
    const double took = secondsSince(start);
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
    std::printf("%s, %.4f s\n", found ? ("found " + found->groups.at(1)).c_str() : "not found",
                took);
    return found ? 0 : 1;
}

int match(int argc, char** argv) {
    if (argc != 4) return 2;
    auto start = Clock::now();
    const RulesFile file = readRulesFile(argv[2]);
    const double load = secondsSince(start);
    std::vector<std::string> addresses;
    std::ifstream in(argv[3]);
    for (std::string line; std::getline(in, line);) addresses.push_back(line);

    std::size_t taken = 0;
    start = Clock::now();
    for (const std::string& address : addresses) {
        if (file.rules->firstTaking(address, "").rule != nullptr) ++taken;
    }
    const double walk = secondsSince(start);
    std::printf("%zu rules read in %.3f s; %zu of %zu addresses taken, %.2f us per address\n",
                file.rules->rules().size(), load, taken, addresses.size(),
                addresses.empty() ? 0.0 : walk * 1e6 / static_cast<double>(addresses.size()));
    return file.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view what = argc > 1 ? argv[1] : "";
    const int status = what == "search"  ? search(argc, argv)
                       : what == "match" ? match(argc, argv)
                                         : 2;
    if (status == 2) {
        std::fputs(
            "usage: velnoria-rules-bench search FILE PATTERN\n"
            "       velnoria-rules-bench search --url URL PATTERN\n"
            "       velnoria-rules-bench match RULES ADDRESSES\n",
            stderr);
    }
    return status;
}
