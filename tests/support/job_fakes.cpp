#include "tests/support/job_fakes.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/text.h"
#include "platform/curl/url_resolution.h"

namespace velnoria::testing {

FakeAnswer FakeAnswer::file(const std::string& body) {
    FakeAnswer answer;
    answer.contentLength = std::to_string(body.size());
    answer.body = body;
    return answer;
}

void FakeTransfer::answer(const std::string& url, std::vector<FakeAnswer> answers) {
    answers_[url] = std::move(answers);
}

void FakeTransfer::start(const std::string& url, Method method) {
    executed.push_back((method == Method::Head ? "HEAD " : "GET ") + url);
    sent_ = 0;
    current_.reset();
    const auto found = answers_.find(url);
    if (found == answers_.end() || found->second.empty()) {
        if (fallback) {
            current_ = fallback;
            failureCode_ = fallback->failureCode;
            return;
        }
        failureCode_ = 7;
        return;
    }
    auto& used = used_[url];
    current_ = found->second[std::min(used, found->second.size() - 1)];
    ++used;
    failureCode_ = current_->failureCode;
}

std::string FakeTransfer::headerBlock() const {
    if (!current_) return {};
    std::string block = current_->headerBlock;
    if (current_->contentLength) block += "Content-Length: " + *current_->contentLength + "\r\n";
    return block + "\r\n";
}

std::string FakeTransfer::header(const std::string& name) const {
    if (!current_) return {};
    if (sameNoCase(name, "Content-Length")) return current_->contentLength.value_or("");
    std::istringstream lines(current_->headerBlock);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos || !sameNoCase(line.substr(0, colon), name)) continue;
        const auto value = line.find_first_not_of(' ', colon + 1);
        return value == std::string::npos ? "" : line.substr(value);
    }
    return {};
}

std::string FakeTransfer::failureReason() const {
    return failureCode_ == 0 ? "" : "failure code " + std::to_string(failureCode_);
}

void FakeTransfer::readPiece(std::size_t count, std::string& piece) {
    if (beforeChunk) beforeChunk(chunkRequests.size());
    chunkRequests.push_back(count);
    piece.clear();
    if (!current_ || failureCode_ > 0) return;
    std::size_t end = std::min(current_->body.size(), sent_ + count);
    if (current_->breakAfter && end > *current_->breakAfter) {
        end = std::max(sent_, *current_->breakAfter);
        failureCode_ = 56;
    }
    piece = current_->body.substr(sent_, end - sent_);
    sent_ = end;
}

DownloadOutcome FakeUrlDownload::download(const TransferRequest& request, const ByteSink& sink) {
    const std::string& url = request.url;
    const std::uint64_t maxBytes = request.maxBodyBytes;
    requested.push_back(url);
    DownloadOutcome outcome;
    const auto found = pages_.find(url);
    if (found == pages_.end()) {
        outcome.transferred = false;
        outcome.error = "no such page";
        return outcome;
    }
    const Page& page = found->second;
    outcome.httpStatus = page.status;
    if (maxBytes > 0 && page.body.size() > maxBytes) {
        outcome.transferred = false;
        return outcome;
    }
    if (!page.body.empty() && !sink(page.body.data(), page.body.size())) outcome.written = false;
    outcome.transferred = page.transferred && outcome.written;
    if (onDownload) onDownload(url);
    return outcome;
}

void RecordingStatusView::setProgress(double, double max, double value) {
    maximum = max;
    if (values.empty() || values.back() != value) values.push_back(value);
}

void FakeEventLoop::yieldOnce(std::chrono::milliseconds maxBlock) {
    ++yields;
    if (onYield) onYield(yields);
    if (maxBlock.count() > 0) std::this_thread::sleep_for(maxBlock);
}

JobBench::JobBench(TransferControl* transfer, UrlDownload* urlDownload, EventLoop* eventLoop,
                   UrlCache* urlCache) {
    saveFolder = temp.path() / "images";
    std::filesystem::create_directory(saveFolder);
    program.settings.savePath = saveFolder.string();
    program.workFolder = temp.path();
    program.scratchFolder = scratch.path();
    EventLoop& loop = eventLoop ? *eventLoop : fakeEventLoop;
    status = std::make_unique<StatusWindow>(program.runState, view, loop);
    services.reset(new JobServices{
        transfer ? *transfer : fakeTransfer, urlDownload ? *urlDownload : fakeDownload,
        urlCache ? *urlCache : cache, loop, *status, document, messageBox, shell});
    options.resolveAddress = [](std::string_view base, std::string_view reference) {
        return resolveUrl(base, reference);
    };
}

JobResult JobBench::run(const std::string& addressBoxText) {
    return runDownloadJob(program, *services, addressBoxText, options);
}

std::vector<std::string> JobBench::dryRun(const std::string& addressBoxText) {
    std::vector<std::string> lines;
    JobOptions dry = options;
    dry.dryRun = [&](const TargetReport& report) {
        lines.push_back(report.thumbnail + " -> " +
                        (report.declined.empty() ? report.url + " " + report.name
                                                 : "(declined: " + report.declined + ")"));
    };
    runDownloadJob(program, *services, addressBoxText, dry);
    return lines;
}

std::vector<ImageInLink> FakeDocument::imagesWithLinks() {
    ++imagesWithLinksReads;
    std::vector<ImageInLink> result;
    for (std::size_t i = 0; i < images.size(); ++i) {
        result.push_back({images[i], i < imageLinks.size() ? imageLinks[i] : std::string()});
    }
    return result;
}

std::string JobBench::failedTxt() const {
    return readFile(temp.path() / "failed.txt");
}

std::vector<std::string> JobBench::workFolderFiles() const {
    return namesIn(temp.path());
}

std::vector<std::string> JobBench::scratchFiles() const {
    return namesIn(scratch.path());
}

}  // namespace velnoria::testing
