#include "tests/support/fake_transfer_engine.h"

#include <algorithm>
#include <string_view>
#include <thread>

#include "core/text.h"

namespace velnoria::testing {

namespace {

std::string hostOf(const std::string& url) {
    const auto scheme = url.find("://");
    const auto start = scheme == std::string::npos ? 0 : scheme + 3;
    const auto end = url.find_first_of("/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

const char* methodName(TransferRequest::Method method) {
    switch (method) {
        case TransferRequest::Method::Head:
            return "HEAD ";
        case TransferRequest::Method::Post:
            return "POST ";
        case TransferRequest::Method::Get:
            break;
    }
    return "GET ";
}

}  // namespace

FakeReply FakeReply::file(const std::string& body) {
    FakeReply reply;
    reply.contentLength = std::to_string(body.size());
    reply.body = body;
    return reply;
}

FakeReply FakeReply::status(int code, const std::string& body) {
    FakeReply reply = file(body);
    reply.headerBlock = "HTTP/1.1 " + std::to_string(code) + " Status\r\n";
    return reply;
}

FakeReply FakeReply::page(const FakePage& page) {
    FakeReply reply = status(static_cast<int>(page.status), page.body);
    if (!page.transferred) reply.breakAfter = page.body.size() / 2;
    return reply;
}

void FakeTransferEngine::answer(const std::string& url, std::vector<FakeReply> replies) {
    replies_[url] = std::move(replies);
}

TransferEngine::Id FakeTransferEngine::start(const TransferRequest& request,
                                             TransferListener& listener) {
    started.push_back(methodName(request.method) + request.url);
    requests.push_back(request);
    Transfer transfer;
    transfer.id = nextId_++;
    transfer.request = request;
    transfer.listener = &listener;
    const auto found = replies_.find(request.url);
    if (found != replies_.end() && !found->second.empty()) {
        std::size_t& used = used_[request.url];
        transfer.reply = found->second[std::min(used, found->second.size() - 1)];
        ++used;
    } else if (fallback) {
        transfer.reply = *fallback;
    } else {
        transfer.reply.failureCode = 7;
    }
    const Id id = transfer.id;
    transfers_.emplace(id, std::move(transfer));
    noteRunning();
    return id;
}

void FakeTransferEngine::noteRunning() {
    mostAtOnce = std::max(mostAtOnce, transfers_.size());
    std::map<std::string, std::size_t> perHost;
    for (const auto& [id, transfer] : transfers_) ++perHost[hostOf(transfer.request.url)];
    for (const auto& [host, count] : perHost) {
        mostAtOncePerHost[host] = std::max(mostAtOncePerHost[host], count);
    }
}

void FakeTransferEngine::cancel(Id id) {
    if (transfers_.erase(id) != 0) ++cancels;
}

void FakeTransferEngine::release(const std::string& url) {
    released_.insert(url);
}

void FakeTransferEngine::drive(std::chrono::milliseconds maxBlock) {
    if (onDrive) onDrive();
    if (transfers_.empty()) return;
    // A listener may start or cancel transfers: each one present now gets one step.
    std::vector<Id> ids;
    for (const auto& [id, transfer] : transfers_) ids.push_back(id);
    bool moved = false;
    for (const Id id : ids) {
        const auto found = transfers_.find(id);
        if (found == transfers_.end()) continue;
        Transfer& transfer = found->second;
        if (transfer.reply.held && released_.count(transfer.request.url) == 0) continue;
        moved = true;
        step(transfer);
    }
    // Only held transfers: the network is silent for a moment.
    if (!moved && maxBlock.count() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void FakeTransferEngine::step(Transfer& transfer) {
    const FakeReply& reply = transfer.reply;
    TransferEnd end;
    end.finalUrl = reply.finalUrl.empty() ? transfer.request.url : reply.finalUrl;
    if (reply.failureCode != 0) {
        end.failureCode = reply.failureCode;
        end.failureReason = "failure code " + std::to_string(reply.failureCode);
        return finish(transfer.id, end);
    }
    end.httpStatus = statusCode(reply.headerBlock);
    if (!transfer.headersSent) {
        transfer.headersSent = true;
        std::string block = reply.headerBlock;
        if (reply.contentLength) block += "Content-Length: " + *reply.contentLength + "\r\n";
        block += "\r\n";
        if (!transfer.listener->onHeaders(block)) {
            end.endedByListener = true;
            return finish(transfer.id, end);
        }
        return;
    }
    const bool head = transfer.request.method == TransferRequest::Method::Head;
    // The body ends where its length says, as the network library frames it.
    std::string_view body = head ? std::string_view() : std::string_view(reply.body);
    if (reply.contentLength) {
        if (const auto length = readContentLength(*reply.contentLength)) {
            body = body.substr(0, static_cast<std::size_t>(*length));
        }
    }
    std::size_t until = std::min(body.size(), transfer.sent + bytesPerStep);
    const bool breaks = reply.breakAfter && until >= *reply.breakAfter;
    if (breaks) until = std::max(transfer.sent, std::min(until, *reply.breakAfter));
    const std::uint64_t limit = transfer.request.maxBodyBytes;
    if (limit != 0 && until > limit) {
        end.failureCode = 63;
        end.failureReason = "longer than " + std::to_string(limit) + " bytes";
        return finish(transfer.id, end);
    }
    if (until > transfer.sent) {
        const std::size_t from = transfer.sent;
        transfer.sent = until;
        if (!transfer.listener->onBody(body.data() + from, until - from)) {
            end.endedByListener = true;
            end.bodyBytes = transfer.sent;
            return finish(transfer.id, end);
        }
    }
    end.bodyBytes = transfer.sent;
    if (breaks) {
        end.failureCode = 56;
        end.failureReason = "connection reset";
        return finish(transfer.id, end);
    }
    if (transfer.sent >= body.size()) finish(transfer.id, end);
}

void FakeTransferEngine::finish(Id id, TransferEnd end) {
    const auto found = transfers_.find(id);
    if (found == transfers_.end()) return;
    TransferListener* listener = found->second.listener;
    transfers_.erase(found);
    listener->onEnd(end);
}

}  // namespace velnoria::testing
