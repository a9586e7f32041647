#pragma once

// A job's surroundings on the real libcurl classes, every request going through http_proxy to a
// loopback test server, with a watchdog that ends a hanging test.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/curl/curl_transfer_engine.h"
#include "platform/driving_event_loop.h"
#include "platform/waiting_download.h"
#include "tests/support/job_fakes.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {

// Aborts the test program when the test is still running after the given time.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// The program's network without a front end: the transfer engine, a loop that drives it, and the
// whole download that waits on it.
struct EngineNetwork {
    explicit EngineNetwork(int timeoutSeconds = 5);

    CurlUrlCache cache;
    CurlTransferEngine engine{cache};
    FakeEventLoop frontEnd;
    DrivingEventLoop loop{frontEnd, engine};
    WaitingDownload download{engine, loop};
};

struct NetworkBench {
    explicit NetworkBench(int timeoutSeconds = 5,
                          std::chrono::seconds watchdog = std::chrono::seconds(60));

    // Every request the server saw, as "METHOD url".
    std::vector<std::string> seen() const;

    Watchdog watchdog;
    TestHttpServer server;
    ScopedProxy proxy;
    EngineNetwork network;
    FakeEventLoop& loop;  // the front end's
    CurlUrlCache& cache;
    WaitingDownload& download;
    JobBench bench;
};

// An address of a proxy on loopback where nothing listens.
std::string refusingProxy();

}  // namespace velnoria::testing
