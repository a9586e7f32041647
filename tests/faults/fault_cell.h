#pragma once

// One cell of the fault matrix: a fault, met in the first few rounds, at one place of a job.

#include <map>
#include <string>
#include <vector>

#include "tests/faults/fault_catalogue.h"

namespace velnoria::testing {

enum class Where {
    Image,          // the full-size image itself (a rewrite rule, HQCity)
    Page,           // an intermediate page (ImageHaven)
    HeaderRequest,  // ImageBam's header request for the file name
};

const char* whereName(Where where);

// What a job leaves behind.
struct CellResult {
    std::string log;                           // the status window's log
    std::string failedTxt;                     // "failed.txt", "" when absent
    std::map<std::string, std::string> files;  // the save folder: name -> bytes
    int finished = 0;
    std::vector<std::string> strayFiles;  // in the work folder, besides "images" and "failed.txt"
};

// A round is an attempt at the image, or one visit of the thumbnail for the other places (the
// thread then holds it three times). The fault answers rounds 1 to faultyRounds.
CellResult expectedResult(const Fault& fault, Where where, int faultyRounds);
CellResult runCell(const Fault& fault, Where where, int faultyRounds);

}  // namespace velnoria::testing
