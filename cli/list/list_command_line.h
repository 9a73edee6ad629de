#pragma once

#include "cli/list/entry_listing.h"

#include <optional>
#include <string>

namespace velmora {

// What velmora2-list was asked to do.
struct ListOptions {
    std::string collection; // empty: the folder that holds the executable
    ListFormat format = ListFormat::Text;
    bool count = false;  // only the number of entries
    std::string pattern; // empty: every entry
};

// The command line read: options to run with, or an exit status with the
// texts to print first (help, version, or what is wrong with the line).
struct ListCommandLine {
    std::optional<ListOptions> options;
    int exitStatus = 0;
    std::string output; // for standard output
    std::string errors; // for standard error
};

ListCommandLine parseListCommandLine(int argc, const char* const* argv);

} // namespace velmora
