#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/cookies.h"

namespace velnoria {

// One request of the program, whatever it is for: a thread page, a service page, a header
// request, an image, the version file.
struct TransferRequest {
    enum class Method { Get, Head, Post };

    std::string url;
    Method method = Method::Get;
    // Post: the body, sent as application/x-www-form-urlencoded.
    std::string formBody;
    // Further request headers, "Name: value" each. A line holding CR, LF or NUL is never sent:
    // start() refuses the request (it ends with a failure).
    std::vector<std::string> headers;
    // The page the request comes from; what is sent follows the Referer policy of today's
    // browsers on every hop (refererToSend), so a redirect to another site or from https to http
    // gets the origin or nothing. "" sends none.
    std::string referringPage;
    // "name=value; name2=value2": sent only to the host of url, never across a redirect to
    // another host (beside whatever the session's cookie jar sends).
    std::string hostCookies;
    // Above 0: only the body from this byte on is asked for ("Range: bytes=N-"), with
    // "If-Range: <ifRange>" when ifRange is not empty.
    std::uint64_t resumeFrom = 0;
    std::string ifRange;
    // A body longer than this fails the transfer ("longer than ..."); 0 = no bound.
    std::uint64_t maxBodyBytes = 0;
};

// How a transfer ended.
struct TransferEnd {
    // 0 when it ran to its end (a body cut short by a clean close included: the caller's length
    // check notices) or a listener call ended it; above 0 when it failed below HTTP (no
    // connection, reset, time-out, too many redirects, an answer that cannot be framed, a body
    // past maxBodyBytes, a refused request), with the reason in a few words ("timed out",
    // "connection reset", "invalid answer: Content-Length is not a number").
    int failureCode = 0;
    std::string failureReason;
    bool endedByListener = false;
    long httpStatus = 0;          // of the final answer; 0 when none arrived
    std::string finalUrl;         // the address answered last, after redirects
    std::uint64_t bodyBytes = 0;  // body bytes handed to the listener
    // The connection closed before the body was whole (failureCode stays 0): the body announced
    // a length it did not reach, or a chunked body missed its end. An answer without a length
    // that simply ends is whole.
    bool cutShort = false;
};

// What one transfer tells its owner, from inside TransferEngine::drive(). onHeaders and onBody
// run inside the network library: they must not start or cancel transfers; they return false to
// end their own transfer. onEnd may do both.
class TransferListener {
  public:
    virtual ~TransferListener() = default;
    // The final answer's whole header block, status line first (redirects and interim answers
    // are not shown). Called once, before any body byte; also for an answer without a header
    // block of its own (then with an empty block). False ends the transfer (onEnd follows).
    virtual bool onHeaders(const std::string& headerBlock) = 0;
    // The next bytes of the body, straight from the network's buffer. False ends the transfer.
    virtual bool onBody(const char* data, std::size_t size) = 0;
    // The transfer has ended; nothing is called for it afterwards.
    virtual void onEnd(const TransferEnd& end) = 0;
};

// Every request of the program goes through one engine: one set of connections kept alive
// between requests, one cookie jar, one User-Agent, one set of framing, stall and time-out
// rules. All transfers run on the calling thread, moved on by drive().
class TransferEngine {
  public:
    using Id = std::uint64_t;

    virtual ~TransferEngine() = default;

    // No answer (connecting, or no byte received while the engine is driven), or fewer than a
    // few bytes a second over a whole time-out, for this long fails a transfer; 0 = never. Each
    // transfer takes the value when it starts.
    virtual void setTimeoutSeconds(int seconds) = 0;

    // Starts a request and returns at once; the listener must outlive the transfer (until its
    // onEnd, or cancel()). Never calls the listener from inside start().
    virtual Id start(const TransferRequest& request, TransferListener& listener) = 0;

    // Ends a transfer at once; its listener hears nothing more. Unknown ids are ignored.
    virtual void cancel(Id id) = 0;

    // Transfers started and not yet ended.
    virtual std::size_t running() const = 0;

    // Waits up to maxBlock for the network (not at all when nothing runs), then moves every
    // transfer on and calls the listeners. Time between two calls longer than a moment (a paused
    // job) is not counted as the network's silence.
    virtual void drive(std::chrono::milliseconds maxBlock) = 0;

    // The session every request carries from now on: the User-Agent, and the cookie jar, which
    // becomes exactly these cookies; cookies that answers set are added to it as a browser would
    // and kept until the next replaceCookies.
    virtual void setUserAgent(const std::string& userAgent) = 0;
    virtual void replaceCookies(const std::vector<Cookie>& cookies) = 0;
};

}  // namespace velnoria
