#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace velnoria::testing {

// A bare TCP client for checking the exact bytes a server sends.
class RawHttpClient {
  public:
    explicit RawHttpClient(std::uint16_t port);
    ~RawHttpClient();
    RawHttpClient(const RawHttpClient&) = delete;
    RawHttpClient& operator=(const RawHttpClient&) = delete;

    void send(std::string_view bytes);
    // Reads until the server closes, `count` bytes are in, or `timeout` passes.
    std::string read(std::chrono::milliseconds timeout, std::size_t count = SIZE_MAX);
    bool closed() const { return closed_; }  // the server closed (cleanly or by reset)
    bool reset() const { return reset_; }    // the connection ended with a TCP reset

  private:
    int fd_ = -1;
    bool closed_ = false;
    bool reset_ = false;
};

}  // namespace velnoria::testing
