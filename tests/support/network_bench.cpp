#include "tests/support/network_bench.h"

#include <cstdio>
#include <cstdlib>

namespace velnoria::testing {

Watchdog::Watchdog(std::chrono::seconds limit) {
    thread_ = std::thread([this, limit] {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: test still running after %llds\n",
                         static_cast<long long>(limit.count()));
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

EngineNetwork::EngineNetwork(int timeoutSeconds) {
    engine.setTimeoutSeconds(timeoutSeconds);
}

NetworkBench::NetworkBench(int timeoutSeconds, std::chrono::seconds watchdogLimit)
    : watchdog(watchdogLimit),
      proxy(server),
      network(timeoutSeconds),
      loop(network.frontEnd),
      cache(network.cache),
      download(network.download),
      bench(&network.engine, &loop, &cache) {
    // The job hands its time-out to the engine when it starts.
    bench.program.settings.timeoutSeconds = timeoutSeconds;
}

std::vector<std::string> NetworkBench::seen() const {
    std::vector<std::string> out;
    for (const auto& request : server.requests()) out.push_back(request.method + " " + request.url);
    return out;
}

std::string refusingProxy() {
    std::uint16_t port;
    {
        TestHttpServer gone;
        port = gone.port();
    }
    return "http://127.0.0.1:" + std::to_string(port);
}

}  // namespace velnoria::testing
