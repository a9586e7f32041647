#pragma once

// The server's side of one TCP connection: reading requests and writing scripted replies.

#include <atomic>
#include <chrono>
#include <string>

#include "tests/support/test_http_reply.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing::detail {

struct Socket {
    int fd;
    int wakeFd;  // readable once the server stops
    const std::atomic<bool>& stopping;

    // Waits up to `duration` (forever when negative); false when the server stops or the peer
    // has gone meanwhile.
    bool pause(std::chrono::milliseconds duration) const;
    bool sendAll(const char* data, std::size_t size) const;
};

enum class AfterReply { KeepAlive, Close, Reset };

class RequestReader {
  public:
    // Reads the next request; false when the connection ended or sent something unreadable.
    bool read(const Socket& socket, Request& request);

  private:
    std::string pending_;
};

// Writes the reply, faults included. Says what the connection must do next.
AfterReply sendReply(const Socket& socket, const Request& request, const Reply& reply);

// Closes the socket, with a TCP reset when asked.
void closeSocket(int fd, AfterReply how);

}  // namespace velnoria::testing::detail
