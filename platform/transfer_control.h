#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace velnoria {

// The program's one transfer control: one request at a time, started by start() and driven while
// the caller polls stillExecuting(). The body is pulled piece by piece with readPiece().
class TransferControl {
  public:
    enum class Method { Get, Head };

    virtual ~TransferControl() = default;

    // No answer (connecting, or no byte received) for this long ends the request; 0 = never.
    virtual void setTimeoutSeconds(int seconds) = 0;

    // Starts a request and returns at once. Ends any request still running.
    virtual void start(const std::string& url, Method method) = 0;

    // True while the request runs and the headers of the final response are not yet in.
    // Drives the transfer and may block up to about 10 ms waiting for the network.
    virtual bool stillExecuting() = 0;

    // 0 while the request is fine so far; above 0 when it failed below HTTP (no connection,
    // reset, time-out, too many redirects, an answer that cannot be framed). An HTTP error
    // status is not a failure here: it stands in the header block.
    virtual int failureCode() const = 0;

    // Why the request failed, in a few words ("timed out", "connection reset"); "" while it has
    // not.
    virtual std::string failureReason() const = 0;

    // The value of the first header of that name in the final response (case-insensitive name),
    // or "" when there is none.
    virtual std::string header(const std::string& name) const = 0;

    // The final response's whole header block, status line included.
    virtual std::string headerBlock() const = 0;

    // Replaces piece with the next count bytes of the body, or fewer when the body ends first
    // (nothing once it has ended). Waits for them by yielding to the event loop.
    virtual void readPiece(std::size_t count, std::string& piece) = 0;

    // Asked after every yield of a wait; once it says true, the request is cancelled and the
    // wait ends with what has arrived. The job sets it for its length, for Stop/Abort.
    virtual void setInterruption(std::function<bool()> interrupted) = 0;

    // Ends the current request and discards what is left of it.
    virtual void cancel() = 0;
};

}  // namespace velnoria
