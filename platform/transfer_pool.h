#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velnoria {

// What one transfer of a pool tells its owner, from inside TransferPool::drive(). onHeaders and
// onBody run inside libcurl and must not start or cancel transfers (they return false to end
// their own); onEnd may do both.
class PoolListener {
  public:
    virtual ~PoolListener() = default;
    // The final response's whole header block, status line included. False ends the transfer
    // here (onEnd still follows).
    virtual bool onHeaders(const std::string& headerBlock) = 0;
    // The next bytes of the body, straight from the network's buffer. False ends the transfer.
    virtual bool onBody(const char* data, std::size_t size) = 0;
    // The transfer has ended: 0 when it ran to its end (a body cut short by a clean close
    // included) or a listener call ended it, above 0 when it failed below HTTP (no connection,
    // reset, time-out, an answer that cannot be framed), with the reason in a few words.
    // Nothing is called for the transfer afterwards.
    virtual void onEnd(int failureCode, const std::string& failureReason) = 0;
};

// Several GET requests at once, all driven on the calling thread by drive(). Connections are
// kept alive between requests to the same host.
class TransferPool {
  public:
    using Id = std::uint64_t;
    enum class Method { Get, Head };

    virtual ~TransferPool() = default;

    // No answer (connecting, or no byte received while the pool is driven), or fewer than a few
    // bytes a second, for this long fails a transfer; 0 = never.
    virtual void setTimeoutSeconds(int seconds) = 0;
    // Starts a request; the listener must outlive it (until onEnd or cancel).
    virtual Id start(const std::string& url, PoolListener& listener,
                     Method method = Method::Get) = 0;
    // Ends a transfer at once; its listener hears nothing more.
    virtual void cancel(Id id) = 0;
    virtual std::size_t running() const = 0;
    // Waits up to maxBlock for the network, then moves every transfer on and calls the
    // listeners. Time between two calls longer than a moment (a paused job) is not counted as
    // the network's silence.
    virtual void drive(std::chrono::milliseconds maxBlock) = 0;
};

}  // namespace velnoria
