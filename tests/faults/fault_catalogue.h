#pragma once

// The faults a server can commit, each with what the program must make of it, written down next
// to the fault: for the image itself, for an intermediate page, and for ImageBam's header request.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_http_reply.h"

namespace velnoria::testing {

// The body of every faulty answer to the image itself. Three bytes, so that a drip of one byte a
// second ends within the cell.
inline constexpr std::string_view kFaultyImageBody = "bad";

// The size of a file the disk refuses to let grow further in the cells that need it.
inline constexpr std::size_t kDiskLimitBytes = 1 << 20;

struct Fault {
    std::string name;  // one word, part of the test's name
    // The faulty answer, made from the answer the server would give without the fault.
    std::function<Reply(Reply)> make;
    int timeoutSeconds = 2;
    // The cell runs with files limited to kDiskLimitBytes, as a full disk or a quota would.
    bool diskLimit = false;

    // The image itself: whether an attempt that meets the fault fails, and the reason the log
    // gives; whether the answer counts as one without a length (the warning is logged); what an
    // answer that does not fail leaves in the file (a failed one leaves nothing).
    bool imageFails = true;
    std::string imageReason = {};
    bool imageUnknownSize = false;
    std::optional<std::string> imageFile = std::nullopt;
    // An intermediate page: whether it can still be read for its marker, else why not ("" when
    // it is read whole but the marker is gone).
    bool pageReadable = false;
    std::string pageProblem = {};
    // The header request: whether its answer still names the file.
    bool headNamesFile = true;
};

const std::vector<Fault>& faultCatalogue();

}  // namespace velnoria::testing
