#pragma once

// The transfer engine without a network: scripted answers by address, moved on step by step by
// drive(), so that the job's logic (one at a time and at once) is tested with exact control.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/transfer_engine.h"

namespace velnoria::testing {

// A page as a test serves it: its body, its status, and whether it arrives whole.
struct FakePage {
    std::string body;
    long status = 200;
    bool transferred = true;
};

// One scripted answer.
struct FakeReply {
    // Fails before any answer arrives (a connection refused); 0 = an answer comes.
    int failureCode = 0;
    std::string headerBlock = "HTTP/1.1 200 OK\r\n";  // status line and headers, no blank line
    std::optional<std::string> contentLength;         // none: no Content-Length header
    std::string body;  // cut at a readable Content-Length, as the network library does
    // After this many body bytes the connection breaks (failure 56, "connection reset").
    std::optional<std::size_t> breakAfter;
    std::string finalUrl;  // where the answer was found; "" = the address asked for
    bool held = false;     // sends nothing until release()

    static FakeReply file(const std::string& body);  // 200 with a correct length
    static FakeReply status(int code, const std::string& body = {});
    // A page; one that does not arrive whole breaks halfway.
    static FakeReply page(const FakePage& page);
};

class FakeTransferEngine : public TransferEngine {
  public:
    // Answers for an address, one per request, the last one repeating.
    void answer(const std::string& url, std::vector<FakeReply> replies);
    // For every address not answered otherwise; without it such requests fail (failure 7).
    std::optional<FakeReply> fallback;
    // Body bytes handed over per transfer and drive().
    std::size_t bytesPerStep = 1 << 20;

    void setTimeoutSeconds(int seconds) override { timeoutSeconds = seconds; }
    Id start(const TransferRequest& request, TransferListener& listener) override;
    void cancel(Id id) override;
    std::size_t running() const override { return transfers_.size(); }
    void drive(std::chrono::milliseconds maxBlock) override;
    void setUserAgent(const std::string& agent) override { userAgent = agent; }
    void replaceCookies(const std::vector<Cookie>& jar) override { cookies = jar; }

    // Lets the held transfers of that address go on.
    void release(const std::string& url);

    // "GET url", "HEAD url", "POST url" for every request started, in order.
    std::vector<std::string> started;
    std::vector<TransferRequest> requests;
    int cancels = 0;
    // The most transfers that ran at once, in all and per host.
    std::size_t mostAtOnce = 0;
    std::map<std::string, std::size_t> mostAtOncePerHost;
    int timeoutSeconds = 0;
    std::string userAgent;
    std::vector<Cookie> cookies;
    std::function<void()> onDrive;  // at the start of every drive()

  private:
    struct Transfer {
        Id id = 0;
        TransferRequest request;
        TransferListener* listener = nullptr;
        FakeReply reply;
        bool headersSent = false;
        std::size_t sent = 0;
    };
    void step(Transfer& transfer);
    void finish(Id id, TransferEnd end);
    void noteRunning();

    std::map<std::string, std::vector<FakeReply>> replies_;
    std::map<std::string, std::size_t> used_;
    std::map<Id, Transfer> transfers_;
    std::set<std::string> released_;
    Id nextId_ = 1;
};

}  // namespace velnoria::testing
