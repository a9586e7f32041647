#include "tests/support/job_fakes.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/text.h"
#include "download/fetch_file.h"
#include "platform/curl/url_resolution.h"

namespace velnoria::testing {

void RecordingStatusView::setProgress(double, double max, double value) {
    maximum = max;
    if (values.empty() || values.back() != value) values.push_back(value);
}

void FakeEventLoop::yieldOnce(std::chrono::milliseconds maxBlock) {
    ++yields;
    if (onYield) onYield(yields);
    if (maxBlock.count() > 0) std::this_thread::sleep_for(maxBlock);
}

JobBench::JobBench(TransferEngine* engine, EventLoop* eventLoop, UrlCache* urlCache) {
    saveFolder = temp.path() / "images";
    std::filesystem::create_directory(saveFolder);
    program.settings.savePath = saveFolder.string();
    program.workFolder = temp.path();
    program.scratchFolder = scratch.path();
    EventLoop& loop = eventLoop ? *eventLoop : fakeEventLoop;
    status = std::make_unique<StatusWindow>(program.runState, view, loop);
    services.reset(new JobServices{engine ? *engine : fakeEngine, urlCache ? *urlCache : cache,
                                   loop, *status, messageBox, shell});
    options.resolveAddress = [](std::string_view base, std::string_view reference) {
        return resolveUrl(base, reference);
    };
}

JobResult JobBench::run(const std::string& addressBoxText) {
    return runDownloadJob(program, *services, memory, document, addressBoxText, options);
}

JobResult JobBench::retry(const std::vector<std::string>& addresses) {
    return runRetryJob(program, *services, memory, addresses, options);
}

std::unique_ptr<JobSurroundings> JobBench::beginJob(const std::string& addressBoxText) {
    program.runState = RunState::Running;
    auto job = std::make_unique<JobSurroundings>(program, *services, memory, nullptr);
    job->job().page = readPageInHand(document, false);
    job->job().page.address = addressBoxText;
    status->open();
    return job;
}

JobCounts JobBench::fetch(const DownloadTarget& target) {
    const auto job = beginJob();
    fetchFile(job->job(), target);
    job->finishDownloads();
    return job->job().counts;
}

std::vector<std::string> JobBench::dryRun(const std::string& addressBoxText) {
    std::vector<std::string> lines;
    JobOptions dry = options;
    dry.dryRun = [&](const TargetReport& report) {
        lines.push_back(report.thumbnail + " -> " +
                        (report.declined.empty() ? report.url + " " + report.name
                                                 : "(declined: " + report.declined + ")"));
    };
    runDownloadJob(program, *services, memory, document, addressBoxText, dry);
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
