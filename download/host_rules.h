#pragma once

#include <string>

namespace velnoria {

// What the built-in rules remember between addresses. The owner decides how long: the program
// keeps one for its whole run (ImageVenue's done list lasts that long), and each job begins it
// anew (Flickr's user is the first address's of the job).
struct HostRuleMemory {
    // Every ImageVenue address handed to the download, each after "*"; an address found in it
    // (or in a part of one) is not downloaded again.
    std::string imageVenueDone;
    // Taken from the page address by the job's first Flickr address.
    std::string flickrUser;

    void beginJob() { flickrUser.clear(); }
};

}  // namespace velnoria
