#pragma once

#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/file_system.h"

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

// The two file steps of an add: making the program folder, and copying one
// file into it with progress reported on the calling thread. Both work inside
// an open folder, so that a path changed meanwhile can never lead them
// elsewhere.
namespace velmora {

// An open folder, or why there is none.
struct OpenedFolder {
    Descriptor folder;
    std::error_code error;
};

// A name inside an open folder: where a copy writes. Where the folder holds
// the file under another name that stands for the same file (the caller
// decides which: "setup.exe" for "Setup.exe" where Windows reads the folder),
// `existing` is that name, and the copy replaces that entry and keeps its
// name; empty, the copy takes `name`. Temporary files are named after `name`.
struct FileInFolder {
    FileInFolder(int inFolder, std::string fileName, std::string existingName = {})
        : folder(inFolder), name(std::move(fileName)), existing(std::move(existingName)) {}

    BorrowedFd folder;
    std::string name;
    std::string existing;
};

// What a copy tells the thread that called copyFile, always on that thread.
// Either call may throw; the copy then stops and the exception passes on.
class CopySink {
public:
    virtual ~CopySink() = default;
    // `copied` of `size` bytes have moved: 0 when the data starts to move,
    // then about every 25 ms, and the whole size once more at the end.
    virtual void progress(std::int64_t size, std::int64_t copied) = 0;
    // A slice of waiting with nothing to report: before the data moves, and
    // while a stopped copy winds down.
    virtual void waiting() = 0;
};

// Makes the folder level `name` inside the open folder `parent` with default
// permissions, or uses the one that exists, and opens it. Never through a
// link: a symbolic link of that name, or anything else that is not a real
// folder, is refused and nothing is made.
OpenedFolder makeFolder(int parent, std::string_view name, FileSystem& fs = FileSystem::real());

// Copies `source` to `target`, replacing it atomically (see copyReplacing).
// The data moves on a worker thread while the calling thread waits in short
// slices and tells `sink`, so that its window is never left waiting on the
// disk. A stop requested on `cancel` (looked at after each call of the sink,
// and before anything is touched) stops the copy with ECANCELED; the previous
// target then stays.
std::error_code copyFile(const std::string& source, const FileInFolder& target, CopySink& sink,
                         std::stop_token cancel = {}, FileSystem& fs = FileSystem::real());
// The same from a source opened before (see openSource; borrowed, read from
// its start), so that the copy reads the very file that was checked.
std::error_code copyFile(int source, const FileInFolder& target, CopySink& sink,
                         std::stop_token cancel = {}, FileSystem& fs = FileSystem::real());

} // namespace velmora
