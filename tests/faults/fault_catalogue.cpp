#include "tests/faults/fault_catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace velnoria::testing {

namespace {

using namespace std::chrono_literals;

std::uint64_t sizeOf(const Reply& reply) {
    return reply.bodySize().value_or(0);
}

std::uint64_t third(const Reply& reply) {
    return std::max<std::uint64_t>(1, sizeOf(reply) / 3);
}

Reply withLength(Reply reply, std::vector<std::string> values) {
    for (auto& value : values) reply.headers.push_back({"Content-Length", std::move(value)});
    reply.closeConnection = true;  // the length cannot say where the answer ends
    return reply;
}

Reply withHeader(Reply reply, std::string name, std::string value) {
    reply.headers.push_back({std::move(name), std::move(value)});
    return reply;
}

std::vector<Fault> makeCatalogue() {
    const std::string bad(kFaultyImageBody);
    const std::string errorPage = "<html><body>Sorry, this image is not here.</body></html>";
    std::vector<Fault> faults;

    // The body stops a third of the way, and the server closes the connection cleanly: the
    // length check finds the file short.
    faults.push_back({.name = "ShortBodyThenClose",
                      .make =
                          [](Reply r) {
                              r.closeAfterBodyBytes = sizeOf(r) / 3;
                              return r;
                          },
                      .imageFile = bad.substr(0, 1)});
    // A third of the body, a pause, another third, then a TCP reset. The piece that the reset
    // breaks is not written, so the file stays empty.
    faults.push_back({.name = "ResetMidBody",
                      .make =
                          [](Reply r) {
                              r.drip = Drip{third(r), 200ms};
                              r.resetAfterBodyBytes = 2 * third(r);
                              return r;
                          },
                      .imageFile = ""});
    // Whatever follows the announced length is not part of the answer.
    faults.push_back({.name = "BytesBeyondContentLength",
                      .make =
                          [](Reply r) {
                              r.extraAfterBody = "<trailing junk>";
                              return r;
                          },
                      .imageFails = false,
                      .imageFile = bad,
                      .pageReadable = true});
    faults.push_back({.name = "NoContentLength",
                      .make =
                          [](Reply r) {
                              r.autoContentLength = false;
                              r.closeConnection = true;
                              return r;
                          },
                      .imageFails = false,
                      .imageUnknownSize = true,
                      .imageFile = bad,
                      .pageReadable = true});
    // Lengths that are no number at all: the answer cannot be framed, so the transfer itself
    // fails before a byte is written, and a header answer names nothing.
    faults.push_back({.name = "ContentLengthNegative",
                      .make = [](Reply r) { return withLength(r, {"-6"}); },
                      .headNamesFile = false});
    faults.push_back({.name = "ContentLengthCrap",
                      .make = [](Reply r) { return withLength(r, {"crap"}); },
                      .headNamesFile = false});
    // A number followed by junk counts as no length, and the download without a length refuses
    // an answer it cannot frame (libcurl would read the 6 at its start), so nothing passes cut
    // short: images fail and are logged, pages count as not fetched.
    faults.push_back({.name = "ContentLength6x",
                      .make = [](Reply r) { return withLength(r, {"6x"}); },
                      .imageUnknownSize = true,
                      .imageFile = bad});
    // Lengths beyond the largest a file may have count as no length; the alternative download
    // refuses an answer announced that long.
    faults.push_back({.name = "ContentLength2Pow31",
                      .make = [](Reply r) { return withLength(r, {"2147483648"}); },
                      .imageUnknownSize = true});
    faults.push_back({.name = "ContentLength2Pow63",
                      .make = [](Reply r) { return withLength(r, {"9223372036854775808"}); },
                      .imageUnknownSize = true});
    faults.push_back({.name = "ContentLength2Pow64Plus1",
                      .make = [](Reply r) { return withLength(r, {"18446744073709551617"}); },
                      .imageUnknownSize = true});
    faults.push_back({.name = "ContentLengthTwiceEqual",
                      .make =
                          [](Reply r) {
                              const auto n = std::to_string(sizeOf(r));
                              return withLength(r, {n, n});
                          },
                      .imageFails = false,
                      .imageFile = bad,
                      .pageReadable = true});
    // Two lengths that disagree: the transfer goes by the last, which is the true one here, so a
    // page is read whole; the image is judged by the first and found short.
    faults.push_back(
        {.name = "ContentLengthTwiceDifferent",
         .make =
             [](Reply r) {
                 return withLength(r, {std::to_string(sizeOf(r) + 4), std::to_string(sizeOf(r))});
             },
         .imageFile = bad,
         .pageReadable = true});
    // Error answers: the body is written, the attempt fails. An error page names no file.
    faults.push_back({.name = "NotFound404",
                      .make = [errorPage](Reply) { return Reply::withStatus(404, errorPage); },
                      .imageFile = errorPage,
                      .headNamesFile = false});
    faults.push_back({.name = "ServerError500WithBody",
                      .make = [errorPage](Reply) { return Reply::withStatus(500, errorPage); },
                      .imageFile = errorPage,
                      .headNamesFile = false});
    // The marker counts for the image only; a page or a header answer holding it is still read.
    faults.push_back(
        {.name = "UnableToCompleteRequestHeader",
         .make = [](Reply r) { return withHeader(r, "X-Status", "Unable to complete request"); },
         .imageFile = bad,
         .pageReadable = true});
    // Bytes keep coming, each gap shorter than the time-out: never a stall. The image's three
    // bytes come one a second; a page comes a third at a time.
    faults.push_back({.name = "DripOneBytePerSecond",
                      .make =
                          [](Reply r) {
                              r.drip = Drip{third(r), 1000ms};
                              return r;
                          },
                      .timeoutSeconds = 2,
                      .imageFails = false,
                      .imageFile = bad,
                      .pageReadable = true});
    faults.push_back({.name = "SilenceAfterHeaders",
                      .make =
                          [](Reply r) {
                              r.silenceAfterHeaders = true;
                              return r;
                          },
                      .timeoutSeconds = 1,
                      .imageFile = ""});
    // An endless stream that announced a length ends at that length. (A page of such bytes holds
    // no marker.)
    faults.push_back({.name = "EndlessBodyWithLength",
                      .make =
                          [](Reply r) {
                              r.headers.push_back({"Content-Length", std::to_string(sizeOf(r))});
                              r.endlessBody = true;
                              return r;
                          },
                      .imageFails = false,
                      .imageFile = generatedBytes(kFaultyImageBody.size())});
    // Without a length an endless stream is only bounded by the largest length an answer could
    // announce, 2 GiB; here the disk refuses first, which ends the attempt.
    faults.push_back({.name = "EndlessBodyWithoutLength",
                      .make =
                          [](Reply r) {
                              r.endlessBody = true;
                              return r;
                          },
                      .diskLimit = true,
                      .imageUnknownSize = true,
                      .imageFile = generatedBytes(kDiskLimitBytes)});
    faults.push_back({.name = "RedirectLoop",
                      .make = [](Reply) { return Reply::redirect("http://loop.test/a"); },
                      .headNamesFile = false});
    faults.push_back({.name = "RedirectToFileScheme",
                      .make = [](Reply) { return Reply::redirect("file:///etc/passwd"); },
                      .headNamesFile = false});
    faults.push_back(
        {.name = "Header200KB",
         .make = [](Reply r) { return withHeader(r, "X-Filler", std::string(200 * 1024, 'f')); },
         .headNamesFile = false});
    faults.push_back(
        {.name = "HeaderWithNulByte",
         .make = [](Reply r) { return withHeader(r, "X-Note", std::string("a\0b", 3)); },
         .headNamesFile = false});
    return faults;
}

}  // namespace

const std::vector<Fault>& faultCatalogue() {
    static const std::vector<Fault> faults = makeCatalogue();
    return faults;
}

}  // namespace velnoria::testing
