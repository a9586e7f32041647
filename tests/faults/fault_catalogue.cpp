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
                      .imageReason = "1 of 3 bytes",
                      .imageFile = bad.substr(0, 1),
                      .pageProblem = "connection closed early"});
    // A third of the body, a pause, another third, then a TCP reset. The piece that the reset
    // breaks is not written, so the file stays empty.
    faults.push_back({.name = "ResetMidBody",
                      .make =
                          [](Reply r) {
                              r.drip = Drip{third(r), 200ms};
                              r.resetAfterBodyBytes = 2 * third(r);
                              return r;
                          },
                      .imageReason = "connection reset",
                      .imageFile = "",
                      .pageProblem = "connection reset"});
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
                      .imageReason = "invalid answer",
                      .pageProblem = "invalid answer",
                      .headNamesFile = false});
    faults.push_back({.name = "ContentLengthCrap",
                      .make = [](Reply r) { return withLength(r, {"crap"}); },
                      .imageReason = "invalid answer",
                      .pageProblem = "invalid answer",
                      .headNamesFile = false});
    // A number followed by junk frames no body (libcurl would read the 6 at its start): the
    // answer is refused at its headers, so nothing passes cut short: images fail and are logged,
    // pages count as not fetched, a header answer names nothing.
    faults.push_back({.name = "ContentLength6x",
                      .make = [](Reply r) { return withLength(r, {"6x"}); },
                      .imageReason = "invalid answer: Content-Length is not a number",
                      .pageProblem = "invalid answer: Content-Length is not a number",
                      .headNamesFile = false});
    // Lengths beyond the largest a file may have are refused at the headers, as a page's
    // download refuses one beyond its bound; a header answer that announces one names nothing.
    faults.push_back({.name = "ContentLength2Pow31",
                      .make = [](Reply r) { return withLength(r, {"2147483648"}); },
                      .imageReason = "longer than 2147483647 bytes",
                      .pageProblem = "longer than 128 MiB",
                      .headNamesFile = false});
    faults.push_back({.name = "ContentLength2Pow63",
                      .make = [](Reply r) { return withLength(r, {"9223372036854775808"}); },
                      .imageReason = "longer than 2147483647 bytes",
                      .pageProblem = "longer than 128 MiB",
                      .headNamesFile = false});
    faults.push_back({.name = "ContentLength2Pow64Plus1",
                      .make = [](Reply r) { return withLength(r, {"18446744073709551617"}); },
                      .imageReason = "longer than 2147483647 bytes",
                      .pageProblem = "longer than 128 MiB",
                      .headNamesFile = false});
    faults.push_back({.name = "ContentLengthTwiceEqual",
                      .make =
                          [](Reply r) {
                              const auto n = std::to_string(sizeOf(r));
                              return withLength(r, {n, n});
                          },
                      .imageFails = false,
                      .imageFile = bad,
                      .pageReadable = true});
    // Two lengths that disagree: which one frames the body cannot be known, so the answer is
    // refused at its headers, for the image, a page and a header answer alike.
    faults.push_back({.name = "ContentLengthTwiceDifferent",
                      .make =
                          [](Reply r) {
                              return withLength(r, {"10", "40"});
                          },
                      .imageReason = "invalid answer: Content-Length 10 and 40",
                      .pageProblem = "invalid answer: Content-Length 10 and 40",
                      .headNamesFile = false});
    // Error answers: the body is written, the attempt fails. An error page names no file.
    faults.push_back({.name = "NotFound404",
                      .make = [errorPage](Reply) { return Reply::withStatus(404, errorPage); },
                      .imageReason = "HTTP 404",
                      .imageFile = errorPage,
                      .pageProblem = "HTTP 404",
                      .headNamesFile = false});
    faults.push_back({.name = "ServerError500WithBody",
                      .make = [errorPage](Reply) { return Reply::withStatus(500, errorPage); },
                      .imageReason = "HTTP 500",
                      .imageFile = errorPage,
                      .pageProblem = "HTTP 500",
                      .headNamesFile = false});
    // The marker counts for the image only; a page or a header answer holding it is still read.
    faults.push_back(
        {.name = "UnableToCompleteRequestHeader",
         .make = [](Reply r) { return withHeader(r, "X-Status", "Unable to complete request"); },
         .imageReason = "server error: Unable to complete request",
         .imageFile = bad,
         .pageReadable = true});
    // An HTML page where the image should be is no image; pages and header answers are not
    // judged by their type.
    faults.push_back({.name = "HtmlAnswer",
                      .make =
                          [](Reply r) {
                              for (auto& [name, value] : r.headers) {
                                  if (name == "Content-Type") value = "text/html";
                              }
                              return r;
                          },
                      .imageReason = "not an image: HTML page",
                      .imageFile = bad,
                      .pageReadable = true});
    // A drip of a byte every 1.5 s stays below the least rate over the 2 s time-out: as good as
    // silence. A page comes a third at a time, fast enough.
    faults.push_back({.name = "DripBelowTheLeastRate",
                      .make =
                          [](Reply r) {
                              r.drip = Drip{third(r), 1500ms};
                              return r;
                          },
                      .timeoutSeconds = 2,
                      .imageReason = "timed out",
                      .imageFile = "",
                      .pageReadable = true});
    faults.push_back({.name = "SilenceAfterHeaders",
                      .make =
                          [](Reply r) {
                              r.silenceAfterHeaders = true;
                              return r;
                          },
                      .timeoutSeconds = 1,
                      .imageReason = "timed out",
                      .imageFile = "",
                      .pageProblem = "timed out"});
    // The connection closes inside the header block: nothing says the answer is whole.
    faults.push_back({.name = "HeaderBlockCutShort",
                      .make =
                          [](Reply) {
                              Reply r;
                              r.raw = "HTTP/1.1 200 OK\r\nX-A: b\r\n";
                              return r;
                          },
                      .imageReason = "invalid answer: header block cut short",
                      .pageProblem = "invalid answer: header block cut short",
                      .headNamesFile = false});
    // The largest length a file may have, a short body, then a clean close: the body has ended,
    // so the pieces end with it instead of being asked for two thousand million times.
    faults.push_back({.name = "HugeLengthShortBody",
                      .make =
                          [](Reply r) {
                              r = withLength(r, {"2147483647"});
                              r.closeAfterBodyBytes = sizeOf(r);
                              return r;
                          },
                      .imageReason = "3 of 2147483647 bytes",
                      .imageFile = bad,
                      .pageProblem = "longer than 128 MiB"});
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
                      .imageReason = "cannot write: File too large",
                      .imageUnknownSize = true,
                      .imageFile = generatedBytes(kDiskLimitBytes),
                      .pageProblem = "no scratch file: File too large"});
    faults.push_back({.name = "RedirectLoop",
                      .make = [](Reply) { return Reply::redirect("http://loop.test/a"); },
                      .imageReason = "too many redirects",
                      .pageProblem = "too many redirects",
                      .headNamesFile = false});
    faults.push_back({.name = "RedirectToFileScheme",
                      .make = [](Reply) { return Reply::redirect("file:///etc/passwd"); },
                      .imageReason = "not an http(s) address",
                      .pageProblem = "not an http(s) address",
                      .headNamesFile = false});
    faults.push_back(
        {.name = "Header200KB",
         .make = [](Reply r) { return withHeader(r, "X-Filler", std::string(200 * 1024, 'f')); },
         .imageReason = "header block too large",
         .pageProblem = "header block too large",
         .headNamesFile = false});
    faults.push_back(
        {.name = "HeaderWithNulByte",
         .make = [](Reply r) { return withHeader(r, "X-Note", std::string("a\0b", 3)); },
         .imageReason = "invalid answer",
         .pageProblem = "invalid answer",
         .headNamesFile = false});
    return faults;
}

}  // namespace

const std::vector<Fault>& faultCatalogue() {
    static const std::vector<Fault> faults = makeCatalogue();
    return faults;
}

}  // namespace velnoria::testing
