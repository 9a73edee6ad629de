#pragma once

#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/file_system.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

// Our stand-in for the two platform file calls of an add: making one folder
// level, and copying one file with progress reported on the calling thread.
// Both work inside an open folder, so that a path changed meanwhile can never
// lead them elsewhere.
namespace velmora {

using FileHandle = int; // a file descriptor

inline constexpr std::uint32_t PROGRESS_CONTINUE = 0;
inline constexpr std::uint32_t CALLBACK_CHUNK_FINISHED = 0;
inline constexpr std::uint32_t CALLBACK_STREAM_SWITCH = 1;
inline constexpr std::uint32_t COPY_FILE_RESTARTABLE = 2;

using ProgressRoutine = std::uint32_t (*)(std::int64_t TotalFileSize,
                                          std::int64_t TotalBytesTransferred,
                                          std::int64_t StreamSize,
                                          std::int64_t StreamBytesTransferred,
                                          std::uint32_t dwStreamNumber,
                                          std::uint32_t dwCallbackReason, FileHandle hSourceFile,
                                          FileHandle hDestinationFile, void* lpData);

// An open folder, or why there is none.
struct OpenedFolder {
    Descriptor folder;
    std::error_code error;
};

// A name inside an open folder: where a copy writes.
struct FileInFolder {
    int folder = -1;
    std::string name;
};

// Makes the folder level `name` inside the open folder `parent` with default
// permissions, or uses the one that exists, and opens it. Never through a
// link: a symbolic link of that name, or anything else that is not a real
// folder, is refused and nothing is made.
OpenedFolder CreateDirectoryA(int parent, std::string_view name,
                              FileSystem& fs = FileSystem::real());

// Copies `existing` to `newFile`, replacing it atomically (see copyReplacing).
// The data moves on a worker thread while this, the calling thread, calls
// `progress` when the data starts to move and then about every 25 ms with the
// worker's totals, and once more at the end; before the data moves and while
// a stopped worker winds down it calls `whileWaiting` instead, so that its
// window is never left waiting on the disk. A routine result other than
// PROGRESS_CONTINUE, or `*cancel` becoming non-zero, stops the copy. A failure
// thrown by the routine stops it the same way and is rethrown to the caller.
std::error_code CopyFileExA(const std::string& existing, const FileInFolder& newFile,
                            ProgressRoutine progress, void* data, const std::int32_t* cancel,
                            std::uint32_t flags, FileSystem& fs = FileSystem::real(),
                            const std::function<void()>& whileWaiting = {});

} // namespace velmora
