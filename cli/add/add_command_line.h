#pragma once

#include "cli/add/add_entry.h"

#include <optional>
#include <string>

namespace velmora {

// What velmora2-add was asked to do.
struct AddOptions {
    std::optional<std::string> csvFile; // "-" for standard input; none: the entry below
    std::string encoding;               // the CSV list's; empty: UTF-8 (or UTF-16 by its BOM)
    AddEntry entry;         // the entry of --program, --category, ... when there is no CSV
    std::string collection; // empty: the folder that holds the executable
    bool quiet = false;
    bool skipExisting = false; // an entry whose name is catalogued already is skipped
    bool dryRun = false;       // every check, nothing written
    bool json = false;         // results as JSON lines
};

// The command line read: either options to run with, or an exit status with
// the texts to print first (help, version, or what is wrong with the line).
struct CommandLine {
    std::optional<AddOptions> options;
    int exitStatus = 0;
    std::string output; // for standard output
    std::string errors; // for standard error
};

// Bad arguments give exit status 2.
inline constexpr int kBadArguments = 2;

CommandLine parseCommandLine(int argc, const char* const* argv);

} // namespace velmora
